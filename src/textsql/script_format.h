// Expansion of the SQL script files and templates, which are printf-style
// formats holding only "%s" (a name goes there) and "%%" (a percent sign).
#ifndef QUILLMORE_TEXTSQL_SCRIPT_FORMAT_H_
#define QUILLMORE_TEXTSQL_SCRIPT_FORMAT_H_

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quillmore {

// The longest expansion, in bytes without the terminator.
inline constexpr std::size_t kExpansionLimit = 1023;

// Replaces the n-th "%s" by the n-th argument (empty once they run out) and
// "%%" by "%". Any other '%' sequence is copied as it stands, so no script
// can make the expansion read anything but its arguments. The result is cut
// at `limit` bytes.
std::string ExpandScript(std::string_view format,
                         std::initializer_list<std::string_view> args,
                         std::size_t limit = kExpansionLimit);

// The script text of a file's first bytes: up to the first zero byte.
std::string_view ScriptText(std::string_view bytes);

}  // namespace quillmore

#endif  // QUILLMORE_TEXTSQL_SCRIPT_FORMAT_H_
