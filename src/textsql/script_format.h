// Expansion of the SQL script files and statement templates, printf-style
// formats whose only conversions are "%s" (a name or value goes there),
// "%%" (a percent sign) and, in our own statement templates, "%d".
#ifndef QUILLMORE_TEXTSQL_SCRIPT_FORMAT_H_
#define QUILLMORE_TEXTSQL_SCRIPT_FORMAT_H_

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quillmore {

// The longest expansion of a script, in bytes without the terminator.
inline constexpr std::size_t kExpansionLimit = 1023;
inline constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);

// Which conversions take an argument.
enum class Placeholders {
  kText,           // "%s" only: script files
  kTextAndNumber,  // "%s" and "%d": our statement templates, whose numbers
                   // come already formatted
};

// Replaces the n-th placeholder by the n-th argument (empty once they run
// out) and "%%" by "%". Any other '%' sequence is copied as it stands, so no
// script can make the expansion read anything but its arguments. The result
// is cut at `limit` bytes.
std::string ExpandScript(std::string_view format,
                         std::initializer_list<std::string_view> args,
                         std::size_t limit = kExpansionLimit,
                         Placeholders which = Placeholders::kText);

// The same expansion appended to `out` (the limit counts what is appended).
// Neither `format` nor an argument may point into `out`, unless `out` has
// the capacity for what is appended.
void AppendExpanded(std::string& out, std::string_view format,
                    std::initializer_list<std::string_view> args,
                    std::size_t limit = kExpansionLimit,
                    Placeholders which = Placeholders::kText);

// The script text of a file's first bytes: up to the first zero byte.
std::string_view ScriptText(std::string_view bytes);

}  // namespace quillmore

#endif  // QUILLMORE_TEXTSQL_SCRIPT_FORMAT_H_
