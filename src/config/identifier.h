// The names a host passes to the setters that end up inside SQL: table and
// column names of the user tables, and the XPath and table.field names of
// item searches. Only plain identifiers are accepted, so no name can carry
// SQL or XPath of its own.
#ifndef QUILLMORE_CONFIG_IDENTIFIER_H_
#define QUILLMORE_CONFIG_IDENTIFIER_H_

#include <cstddef>
#include <string_view>

#include "quillmore/QuillmoreExt.h"

namespace quillmore {

// [A-Za-z_][A-Za-z0-9_]*, ASCII only.
bool IsPlainIdentifier(std::string_view name);

// Every name of `count` definitions and of their children, as they will be
// stored (cut to 49 characters). The arrays must have been tested readable.
bool UserTableNamesArePlain(const _tagUSERTABLEINFO* records,
                            std::size_t count);

// The names the item's kind uses: element and attribute of kind 0, which
// may be empty (any element; the element's text), and table and field of
// kind 1, which may not. Other kinds use none.
bool SearchNamesArePlain(const _tagITEMSEARCHINFO& item);

}  // namespace quillmore

#endif  // QUILLMORE_CONFIG_IDENTIFIER_H_
