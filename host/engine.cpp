#include "engine.h"

#include <csignal>

namespace qmhost {
namespace {

volatile std::sig_atomic_t g_stop = 0;

}  // namespace

void RequestStop() { g_stop = 1; }
bool StopRequested() { return g_stop != 0; }

std::string Escaped(std::string_view value, bool backslashes) {
  std::string out;
  out.reserve(value.size() + 8);
  for (char c : value) {
    if (c == '\'' || (backslashes && c == '\\')) out += c;
    out += c;
  }
  return out;
}

std::vector<std::string> Statements(const std::string& batch) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false;  // a doubled quote leaves and enters again
  for (char c : batch) {
    if (c == '\'') quoted = !quoted;
    if (c == '\n' && !quoted) {
      if (!current.empty()) out.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

}  // namespace qmhost
