#pragma once
#include <cstddef>
#include <string>

namespace vardune {

// A path is bytes: a name from an old archive may hold Latin-1 or any other bytes that are not
// UTF-8, and the file is reached only by those very bytes. The program keeps paths as bytes
// from the folder walk to the encoder's arguments, the list file and the plan, and turns them
// into text only to show them, here.
struct PathText {
    // The length of the UTF-8 sequence at text[at], or 0 when the bytes there are not one
    // (overlong forms, surrogates and values past U+10FFFF included).
    static std::size_t SequenceAt(const std::string& text, std::size_t at);
    static bool IsUtf8(const std::string& text);
    // The path as text to show: valid UTF-8 as it is, every other byte as "\xE9", so that a
    // reader sees which byte stands there ("Caf\xE9.wav"). Always valid UTF-8.
    static std::string Shown(const std::string& bytes);
    // A name for an output made from a source's name: every byte that is not UTF-8 becomes
    // "_", as a character a card refuses does, so every output's name is text a card takes.
    static std::string NameText(const std::string& bytes);
    // The path with "." and ".." levels and doubled separators resolved by its text alone,
    // and no separator at its end but for "/" itself: "/music/./a//b/" gives "/music/a/b".
    static std::string Cleaned(const std::string& path);
};

} // namespace vardune
