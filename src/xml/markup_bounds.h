// The attribute bound checked before the parser sees a text. libxml2
// compares each attribute of an element with every other one, so an element
// with many attributes costs quadratic time; this pass refuses such texts in
// linear time.
#ifndef QUILLMORE_XML_MARKUP_BOUNDS_H_
#define QUILLMORE_XML_MARKUP_BOUNDS_H_

#include <cstddef>
#include <string_view>

namespace quillmore {

// False when some '<' of `text` could begin a start tag with more than
// `max_attributes` attributes: from every '<' that is not followed by '/',
// '!' or '?', the '=' outside quoted values are counted up to the first '>'
// outside them or the next '<', whichever comes first (an attribute value
// holds no '<'). Every '<' counts, whatever surrounds it: a parser that
// stops at an error never gets further than this pass looked.
bool WithinAttributeBound(std::string_view text, std::size_t max_attributes);

}  // namespace quillmore

#endif  // QUILLMORE_XML_MARKUP_BOUNDS_H_
