// Numbers in search values and in record texts. They are read the same way
// whatever locale the host process has set: the decimal separator is always
// '.', never the locale's.
#ifndef QUILLMORE_SEARCH_NUMBER_TEXT_H_
#define QUILLMORE_SEARCH_NUMBER_TEXT_H_

#include <optional>
#include <string_view>

namespace quillmore {

// The value of `text` when all of it is one decimal number: optional leading
// white space (blank, \t, \n, \v, \f, \r), an optional sign, digits with an
// optional point, an optional exponent, and nothing after. Hexadecimal
// numbers, "inf" and "nan" are not numbers here. A value beyond the range of
// double is still a number (+-HUGE_VAL, or 0 when it is too small).
std::optional<double> WholeNumber(std::string_view text);

// The number at the start of `text` read like atof: the longest prefix of
// the form above, 0 when there is none.
double LeadingNumber(std::string_view text);

}  // namespace quillmore

#endif  // QUILLMORE_SEARCH_NUMBER_TEXT_H_
