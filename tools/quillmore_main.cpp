// quillmore: a command-line host of the library. It reads and changes the
// device configurations in the DV folder beside this executable and prints
// the SQL the library makes from them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"

namespace {

const char kUsage[] =
    "usage: quillmore COMMAND [ARGS]\n"
    "\n"
    "Works on the device configurations in the DV folder beside this\n"
    "executable (DV/devdata<N>.ini) and prints the SQL made from them.\n"
    "\n"
    "commands:\n"
    "  show DEVICE     database settings, connection string, text table name,\n"
    "                  CREATE and DROP statements of a device\n"
    "  --help          this text\n";

bool ParseDevice(const char* s, int& device) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || *end != '\0' || errno != 0 || v < -2147483647L - 1 ||
      v > 2147483647L) {
    return false;
  }
  device = static_cast<int>(v);
  return true;
}

// Calls a text getter with a growing buffer until the text fits.
template <typename F>
std::string Text(F get) {
  for (uint32_t size = 256; size != 0 && size <= (1u << 24); size *= 4) {
    std::vector<char> buf(size, '\0');
    uint32_t n = get(buf.data(), size);
    if (n != 0) return std::string(buf.data(), n);
  }
  return std::string();
}

void Line(const char* label, const std::string& value) {
  std::printf("%-20s %s\n", label, value.empty() ? "(none)" : value.c_str());
}

int Show(int device) {
  CQuillmoreExt q;
  q.LoadData(device);
  const int type = q.GetDatabaseType();
  std::printf("device %d\n", device);
  std::printf("%-20s %d\n", "use database", q.GetUseDatabase());
  std::printf("%-20s %d\n", "database type", type);
  Line("database name",
       Text([&](char* b, uint32_t n) { return q.GetDatabaseName(b, n); }));
  Line("database server",
       Text([&](char* b, uint32_t n) { return q.GetDatabaseServer(b, n); }));
  Line("database path",
       Text([&](char* b, uint32_t n) { return q.GetDatabasePath(b, n); }));
  Line("user", Text([&](char* b, uint32_t n) { return q.GetDatabaseUser(b, n); }));
  Line("connection string",
       Text([&](char* b, uint32_t n) { return q.GetConnectionString(b, n); }));
  Line("text table",
       Text([&](char* b, uint32_t n) { return q.GetTableName(b, n); }));
  std::printf("\n-- create\n%s\n",
              Text([&](char* b, uint32_t n) {
                return q.GetCreateQuery(type, b, n);
              }).c_str());
  std::printf("\n-- drop\n%s\n",
              Text([&](char* b, uint32_t n) {
                return q.GetDropQuery(type, b, n);
              }).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "show") {
    int device = 0;
    if (argc != 3 || !ParseDevice(argv[2], device)) {
      std::fprintf(stderr, "quillmore: show needs one device number\n");
      return 2;
    }
    return Show(device);
  }
  std::fprintf(stderr, "quillmore: unknown command '%s'\n%s", command.c_str(),
               kUsage);
  return 2;
}
