#include "numerictext.h"

#include <charconv>
#include <limits>
#include <string>

namespace vardune {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
} // namespace

double LeadingNumber(std::string_view text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;

    std::string number;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        number += text[i++];
    bool digits = false;
    while (i < n && IsDigit(text[i])) {
        number += text[i++];
        digits = true;
    }
    if (i < n && text[i] == '.') {
        number += text[i++];
        while (i < n && IsDigit(text[i])) {
            number += text[i++];
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    // An exponent counts only when digits follow it: "2e" is 2, "2e3" is 2000.
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == '+' || text[j] == '-'))
            exponent += text[j++];
        if (j < n && IsDigit(text[j])) {
            while (j < n && IsDigit(text[j]))
                exponent += text[j++];
            number += exponent;
        }
    }

    const char* first = number.data();
    if (*first == '+')
        ++first;
    double value = 0.0;
    const auto result = std::from_chars(first, number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small to hold: the nearest value a double can say.
        const bool negative = number[0] == '-';
        const bool tiny = number.find("e-") != std::string::npos;
        if (tiny)
            return negative ? -0.0 : 0.0;
        const double huge = std::numeric_limits<double>::infinity();
        return negative ? -huge : huge;
    }
    return value;
}

} // namespace vardune
