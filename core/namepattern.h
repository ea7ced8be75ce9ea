#pragma once
#include <string>
#include <vector>

namespace vardune {

// The wildcard patterns the file type box's text stands for: its parts between ";", blanks
// trimmed. "*.*" is the all-files choice, so it stands for every name, those without a dot
// included; a text without any pattern shows every file too.
std::vector<std::string> NameFilters(const std::string& pattern);

} // namespace vardune
