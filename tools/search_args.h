// Search parameters from the command line, shared by the quillmore CLI and
// quillmore-host. Each argument is ITEM OP VALUE: ITEM is an item index or
// "text" (a free-text search, which takes only "="); OP is one of = > >= for
// the first value (codes 0, 1, 2) or < <= for the second (codes 3, 4). Two
// bounds on one item make one parameter, in the order the items first
// appear. Values are kept as typed; escaping them for an engine is the
// caller's part.
#ifndef QUILLMORE_TOOLS_SEARCH_ARGS_H_
#define QUILLMORE_TOOLS_SEARCH_ARGS_H_

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"

namespace quillmore_tools {

inline bool ParseIndex(const std::string& s, int& out) {
  if (s.empty() || s.size() > 9 ||
      s.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  out = std::atoi(s.c_str());
  return true;
}

// False with `error` set when an argument is not of the form above, a value
// has 50 bytes or more, or an item gets two first or two second values.
inline bool ParseSearchArgs(const std::vector<std::string>& args,
                            std::vector<_tagSEARCHPARAM>& params,
                            std::string& error) {
  params.clear();
  for (const std::string& arg : args) {
    const size_t at = arg.find_first_of("<>=");
    if (at == std::string::npos || at == 0) {
      error = "'" + arg + "' is not ITEM=VALUE, ITEM>=VALUE, ITEM<VALUE, ...";
      return false;
    }
    const std::string item = arg.substr(0, at);
    std::string op(1, arg[at]);
    if (op != "=" && at + 1 < arg.size() && arg[at + 1] == '=') op += '=';
    const std::string value = arg.substr(at + op.size());
    static const char* const kOps[] = {"=", ">", ">=", "<", "<="};
    uint8_t code = 0;
    while (op != kOps[code]) ++code;
    if (value.size() >= sizeof(_tagSEARCHPARAM{}.szValue1)) {
      error = "'" + arg + "': a value has at most 49 bytes";
      return false;
    }
    _tagSEARCHPARAM fresh{};
    _tagSEARCHPARAM* p = &fresh;
    if (item == "text") {
      if (code != 0) {
        error = "'" + arg + "': a free-text search takes only '='";
        return false;
      }
      fresh.nItemIndex = -1;
    } else if (!ParseIndex(item, fresh.nItemIndex)) {
      error = "'" + arg + "': ITEM is an item index or 'text'";
      return false;
    } else {
      for (_tagSEARCHPARAM& old : params) {
        if (old.nItemIndex == fresh.nItemIndex) p = &old;
      }
    }
    const bool first = code <= 2;
    char* slot = first ? p->szValue1 : p->szValue2;
    if (slot[0] != '\0') {
      error = "'" + arg + "': item " + item + " already has a " +
              (first ? "first (=, >, >=)" : "second (<, <=)") + " value";
      return false;
    }
    std::memcpy(slot, value.c_str(), value.size() + 1);
    (first ? p->byCompare1 : p->byCompare2) = code;
    if (p == &fresh) params.push_back(fresh);
  }
  return true;
}

}  // namespace quillmore_tools

#endif  // QUILLMORE_TOOLS_SEARCH_ARGS_H_
