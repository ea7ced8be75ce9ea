#pragma once
#include <cstddef>
#include <optional>
#include <string>

namespace vardune {

// The remote version file: "Vardune" followed at once by the latest version, "03.00.02".
// Bytes are characters one to one; only the first fifteen count.
struct VersionCheck {
    static constexpr const char* kProduct = "Vardune";
    static constexpr const char* kVersionFile = "/download/Vardune.txt";
    static constexpr const char* kDownloadPage = "/download/download.htm";
    // How much of the body is read: the rest cannot matter, and a wrong or hostile server
    // must not make the program hold more.
    static constexpr std::size_t kReadLimit = 4096;

    // The latest version the body announces (up to eight characters after the product name),
    // or nothing when the body is shorter than 14 characters or does not begin with the
    // product name, letter case included.
    static std::optional<std::string> LatestVersion(const std::string& body);
    // True when latest sorts after installed, character code by character code; a longer text
    // is greater when the other is its beginning.
    static bool IsNewer(const std::string& latest, const std::string& installed);
};

} // namespace vardune
