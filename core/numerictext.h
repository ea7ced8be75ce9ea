#pragma once
#include <string_view>

namespace vardune {

// The value of the number a text begins with, read as a numeric-prefix parser reads it:
// blanks, tabs and line feeds are skipped, then an optional sign, digits, a decimal point
// and an exponent are taken up to the first character that cannot continue the number.
// A text without a leading number gives 0. Used wherever a number is read out of a text:
// list entry numbers ("2- Mono" -> 2) and sizes held as texts (" 1048576" -> 1048576).
double LeadingNumber(std::string_view text);

} // namespace vardune
