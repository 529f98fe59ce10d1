// Substring search that ignores the case of the letters a to z only (other
// bytes, those above 0x7F included, match only themselves). It makes no
// copy of the text, and its time is linear in the text's length whatever
// the text and the pattern are.
#ifndef QUILLMORE_SEARCH_ASCII_SEARCH_H_
#define QUILLMORE_SEARCH_ASCII_SEARCH_H_

#include <string_view>

namespace quillmore {

// Whether `pattern` occurs in `text`; an empty pattern occurs in any text.
// Allocates nothing for patterns of up to 64 bytes.
bool ContainsIgnoringCase(std::string_view text, std::string_view pattern);

}  // namespace quillmore

#endif  // QUILLMORE_SEARCH_ASCII_SEARCH_H_
