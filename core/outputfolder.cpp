#include "outputfolder.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <unistd.h>

namespace vardune {

namespace fs = std::filesystem;

namespace {

// A missing folder can be created when its nearest existing parent is a folder in which this
// user may make one: offering to create it otherwise only leads to a second message.
OutputFolder::Check CreatableOrWhyNot(const fs::path& folder)
{
    std::error_code ec;
    fs::path parent = fs::absolute(folder, ec).lexically_normal();
    if (ec)
        return {OutputFolder::State::Missing, {}};
    while (parent.has_relative_path() && !fs::exists(fs::symlink_status(parent, ec)))
        parent = parent.parent_path();
    const fs::file_status status = fs::status(parent, ec);
    if (ec || !fs::exists(status))
        return {OutputFolder::State::Missing, {}};  // creating it will say why
    if (!fs::is_directory(status))
        return {OutputFolder::State::Uncreatable, std::strerror(ENOTDIR)};
    if (::access(parent.c_str(), W_OK | X_OK) != 0)
        return {OutputFolder::State::Uncreatable, std::strerror(errno)};
    return {OutputFolder::State::Missing, {}};
}

} // namespace

OutputFolder::Check OutputFolder::Inspect(const std::string& folder)
{
    std::error_code ec;
    const fs::path path = fs::u8path(folder);
    const fs::file_status status = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
        return {State::Unwritable, ec.message()};
    if (!fs::exists(status))
        return CreatableOrWhyNot(path);
    if (!fs::is_directory(status))
        return {State::NotFolder, {}};

    // A name nobody else uses: the time in nanoseconds, and another try if it is taken.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path probe = path / (".vardune-write-test-" + std::to_string(stamp) + "-" + std::to_string(attempt));
        errno = 0;
        // "x": created here, never an existing file opened.
        if (std::FILE* file = std::fopen(probe.c_str(), "wbx")) {
            std::fclose(file);
            fs::remove(probe, ec);
            return {State::Ready, {}};
        }
        if (errno != EEXIST)
            return {State::Unwritable, std::strerror(errno != 0 ? errno : EACCES)};
    }
    return {State::Unwritable, std::strerror(EEXIST)};
}

std::string OutputFolder::Create(const std::string& folder)
{
    std::error_code ec;
    fs::create_directories(fs::u8path(folder), ec);
    if (ec)
        return ec.message();
    // create_directories is content with a file of that name at the end only on some systems.
    if (!fs::is_directory(fs::u8path(folder), ec))
        return std::strerror(ENOTDIR);
    return {};
}

std::string OutputFolder::DisplayName(const std::string& folder)
{
    std::string name = folder;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    return name;
}

} // namespace vardune
