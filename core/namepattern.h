#pragma once
#include <string>
#include <vector>

namespace vardune {

// The wildcard patterns the file type box's text stands for: its parts between ";", blanks
// trimmed. "*.*" is the all-files choice, so it stands for every name, those without a dot
// included; a text without any pattern shows every file too. A named choice, "All audio
// (*.MP3;*.WAV)", stands for the patterns in its brackets.
std::vector<std::string> NameFilters(const std::string& pattern);

// Whether a file name matches one of the patterns, as the file view matches them: "*" stands
// for any run of characters, "?" for one character, "[abc]", "[a-z]" and "[!abc]" for one of
// (or none of) a set; letters match without regard to their case (ASCII letters; other
// characters match themselves). Names and patterns are UTF-8.
bool MatchesNameFilters(const std::string& name, const std::vector<std::string>& filters);

} // namespace vardune
