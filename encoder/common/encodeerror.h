#pragma once

#include <stdexcept>
#include <string>

// A failure of the conversion, worded for the user: main() prints what() as the one line
// on standard error, so the text must make sense without any other context.
class EncodeError : public std::runtime_error {
public:
    explicit EncodeError(const std::string& message) : std::runtime_error(message) {}

    // What a failure says about the target, for the exit status: a caller running many
    // conversions into one folder acts on each differently.
    enum class Target {
        Fine,         // the failure is the source's or the conversion's
        Full,         // no room left (or the user's quota): start no further file there
        Taken,        // a file stands there that was not made from this source: never replaced
        NameRefused,  // the folder's file system refuses the name for its characters
        Unwritable,   // the folder can no longer be written (gone, read-only, no more names)
    };

    // A write that failed because the target's file system (or the user's quota there) has no
    // room left: the caller may stop starting further conversions into that folder.
    static EncodeError full(const std::string& message) { return about(Target::Full, message); }
    static EncodeError about(Target target, const std::string& message)
    {
        EncodeError e(message);
        e.m_target = target;
        return e;
    }
    bool targetFull() const { return m_target == Target::Full; }
    Target target() const { return m_target; }

    // A path or argument as it may appear inside that one line: control characters (a
    // newline in a file name would split the line) are written as escapes like \n or \x1b.
    static std::string printable(const std::string& text);
    // "the audio data of PATH is damaged at 1:23": a decoder gave up at that point.
    static EncodeError damaged(const std::string& path, double seconds);
    // "1:23": a point in the sound, in whole seconds, as the messages give it.
    static std::string playingTime(double seconds);

private:
    Target m_target = Target::Fine;
};
