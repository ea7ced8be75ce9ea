#include "installlayout.h"

#include "encodercommand.h"

#include <filesystem>
#include <system_error>

#ifndef VARDUNE_ENCODER_FROM_PROGRAM
#define VARDUNE_ENCODER_FROM_PROGRAM "../lib/vardune"
#endif
#ifndef VARDUNE_MANUAL_FROM_PROGRAM
#define VARDUNE_MANUAL_FROM_PROGRAM "../share/vardune"
#endif

namespace vardune {

namespace fs = std::filesystem;

namespace {

// The folder's path with "." and ".." resolved, without a trailing separator.
std::string Beside(const std::string& programFolder, const char* relative)
{
    fs::path path = (fs::path(programFolder) / relative).lexically_normal();
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path())
        path = path.parent_path();
    return path.string();
}

bool IsFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

} // namespace

const char* InstallLayout::EncoderFolderFromProgram()
{
    return VARDUNE_ENCODER_FROM_PROGRAM;
}

const char* InstallLayout::ManualFolderFromProgram()
{
    return VARDUNE_MANUAL_FROM_PROGRAM;
}

const char* InstallLayout::ManualName()
{
    return "VarduneManual.chm";
}

InstallLayout::InstallLayout(std::string programFolder)
    : programFolder_(std::move(programFolder))
{
}

bool InstallLayout::Installed() const
{
    std::error_code error;
    return fs::is_directory(Beside(programFolder_, EncoderFolderFromProgram()), error);
}

std::string InstallLayout::EncoderFolder() const
{
    return Find(EncoderCommand::ProgramName(), EncoderFolderFromProgram());
}

std::string InstallLayout::ManualFolder() const
{
    return Find(ManualName(), ManualFolderFromProgram());
}

std::string InstallLayout::Find(const std::string& name, const char* installedFolder) const
{
    if (IsFile(fs::path(programFolder_) / name) || !Installed())
        return programFolder_;
    return Beside(programFolder_, installedFolder);
}

} // namespace vardune
