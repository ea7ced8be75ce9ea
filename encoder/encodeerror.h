#pragma once

#include <stdexcept>
#include <string>

// A failure of the conversion, worded for the user: main() prints what() as the one line
// on standard error, so the text must make sense without any other context.
class EncodeError : public std::runtime_error {
public:
    explicit EncodeError(const std::string& message) : std::runtime_error(message) {}
};
