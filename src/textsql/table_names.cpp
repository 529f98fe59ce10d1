#include "textsql/table_names.h"

#include <cstdio>

#include "base/ascii.h"

namespace quillmore {

std::string TextTableName(int device, std::uint32_t serial) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "TBL_TEXTDATAEX%d_%X", device, serial);
  return buf;
}

std::string FormatUserTableName(int device,
                                std::optional<std::string_view> element,
                                std::uint32_t serial) {
  char tail[48];
  std::snprintf(tail, sizeof tail, "%d_%X", device, serial);
  if (!element) return std::string("TBL_USER") + tail;
  return "USR_" + AsciiUpper(std::string(*element)) + tail;
}

}  // namespace quillmore
