#pragma once

#include <stdexcept>
#include <string>

// A failure of the conversion, worded for the user: main() prints what() as the one line
// on standard error, so the text must make sense without any other context.
class EncodeError : public std::runtime_error {
public:
    explicit EncodeError(const std::string& message) : std::runtime_error(message) {}

    // A write that failed because the target's file system (or the user's quota there) has no
    // room left: the caller may stop starting further conversions into that folder.
    static EncodeError full(const std::string& message)
    {
        EncodeError e(message);
        e.m_full = true;
        return e;
    }
    bool targetFull() const { return m_full; }

    // A path or argument as it may appear inside that one line: control characters (a
    // newline in a file name would split the line) are written as escapes like \n or \x1b.
    static std::string printable(const std::string& text);
    // "the audio data of PATH is damaged at 1:23": a decoder gave up at that point.
    static EncodeError damaged(const std::string& path, double seconds);
    // "1:23": a point in the sound, in whole seconds, as the messages give it.
    static std::string playingTime(double seconds);

private:
    bool m_full = false;
};
