// Substring search that ignores the case of the letters a to z only (other
// bytes, those above 0x7F included, match only themselves). It makes no
// copy of the text, and its time is linear in the text's length whatever
// the text and the pattern are.
//
// On x86-64 patterns of up to 64 bytes (every field of the records is
// shorter) are searched 16 bytes at a time with SSE2, which every x86-64
// processor has: a position is compared whole only when the pattern's first
// and last byte both match there, so the work stays below the text's length
// times the pattern's. Longer patterns and other processors take the plain
// path.
#ifndef QUILLMORE_SEARCH_ASCII_SEARCH_H_
#define QUILLMORE_SEARCH_ASCII_SEARCH_H_

#include <string_view>

namespace quillmore {

// Whether `pattern` occurs in `text`; an empty pattern occurs in any text.
// Allocates nothing for patterns of up to 64 bytes.
bool ContainsIgnoringCase(std::string_view text, std::string_view pattern);

// The plain path on its own, byte by byte (Knuth-Morris-Pratt), for every
// processor; tests compare it with the path above.
bool ContainsIgnoringCasePlain(std::string_view text, std::string_view pattern);

}  // namespace quillmore

#endif  // QUILLMORE_SEARCH_ASCII_SEARCH_H_
