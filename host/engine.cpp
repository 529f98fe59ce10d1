#include "engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace qmhost {
namespace {

volatile std::sig_atomic_t g_stop = 0;
int g_stop_pipe[2] = {-1, -1};  // [0] polled by waits, [1] written on a stop

}  // namespace

void RequestStop() {
  g_stop = 1;
  if (g_stop_pipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_stop_pipe[1], &byte, 1);
  }
}

bool StopRequested() { return g_stop != 0; }

int StopDescriptor() {
  if (g_stop_pipe[0] < 0 && pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    g_stop_pipe[0] = g_stop_pipe[1] = -1;
  return g_stop_pipe[0];
}

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
