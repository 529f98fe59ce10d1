// profile_oracle (Windows): answers questions about a profile file with
// Windows' own profile functions, for comparing another reader and writer
// with them. Reads requests from standard input, one per line, fields
// separated by tabs and escaped (escaped_fields.h), and writes one answer
// line for each to standard output:
//   file BYTES               -> "ok": the file now holds BYTES
//   nofile                   -> "ok": the file is gone
//   sections                 -> COUNT, then each section name
//   keys SECTION             -> COUNT, then each key name of SECTION
//                               (a listing names a name once, at its first
//                               place, ASCII case ignored, as lookups see
//                               the file; Windows repeats it)
//   get SECTION KEY DEFAULT  -> GetPrivateProfileStringA's text (of a file
//                               with a byte-order mark, the W function's
//                               in UTF-8), then GetPrivateProfileIntA's
//                               number (default -77)
//   write SECTION KEY VALUE  -> the file's bytes after
//                               WritePrivateProfileStringA
// The file lies in the user's temporary folder and is removed at the end.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "escaped_fields.h"

namespace {

using quillmore::EscapeField;

// An open C file, closed when it leaves scope.
struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

std::string ReadAll(const std::string& path) {
  std::string out;
  if (const File f{std::fopen(path.c_str(), "rb")}) {
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
      out.append(buf, n);
    }
  }
  return out;
}

// A list of names, each ended by a NUL, as the listing calls give them.
std::string Names(const std::vector<char>& buf, DWORD n) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (DWORD i = 0; i < n;) {
    std::string name(&buf[i]);
    i += static_cast<DWORD>(name.size()) + 1;
    if (seen.insert(quillmore::AsciiUpper(name)).second) names.push_back(name);
  }
  std::string out = std::to_string(names.size());
  for (const std::string& name : names) out += "\t" + EscapeField(name);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  std::wstring w(utf8.size() + 1, L'\0');
  w.resize(static_cast<std::size_t>(::MultiByteToWideChar(
      CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(),
      static_cast<int>(w.size()))));
  return w;
}

// The value Windows reads from a Unicode file, in UTF-8.
std::string Utf8Value(const std::vector<std::string>& f,
                      const std::string& path) {
  std::vector<wchar_t> w(1 << 20);
  const DWORD n = ::GetPrivateProfileStringW(
      Wide(f[1]).c_str(), Wide(f[2]).c_str(), Wide(f[3]).c_str(), w.data(),
      static_cast<DWORD>(w.size()), Wide(path).c_str());
  std::string out(4 * std::size_t{n} + 1, '\0');
  out.resize(static_cast<std::size_t>(::WideCharToMultiByte(
      CP_UTF8, 0, w.data(), static_cast<int>(n), out.data(),
      static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

std::string Answer(const std::vector<std::string>& f, const std::string& path) {
  static bool unicode = false;  // the file starts with a byte-order mark
  std::vector<char> buf(1 << 20);
  const DWORD size = static_cast<DWORD>(buf.size());
  const char* file = path.c_str();
  if (f[0] == "file" && f.size() == 2) {
    const File out{std::fopen(file, "wb")};
    if (!out) return "error";
    std::fwrite(f[1].data(), 1, f[1].size(), out.get());
    unicode = f[1].rfind("\xEF\xBB\xBF", 0) == 0 ||
              f[1].rfind("\xFF\xFE", 0) == 0 || f[1].rfind("\xFE\xFF", 0) == 0;
    return "ok";
  }
  if (f[0] == "nofile") return (::DeleteFileA(file), "ok");
  if (f[0] == "sections") {
    return Names(buf, ::GetPrivateProfileSectionNamesA(buf.data(), size, file));
  }
  if (f[0] == "keys" && f.size() == 2) {
    return Names(buf, ::GetPrivateProfileStringA(f[1].c_str(), nullptr, "",
                                                 buf.data(), size, file));
  }
  if (f[0] == "get" && f.size() == 4) {
    const DWORD n = ::GetPrivateProfileStringA(
        f[1].c_str(), f[2].c_str(), f[3].c_str(), buf.data(), size, file);
    const UINT v =
        ::GetPrivateProfileIntA(f[1].c_str(), f[2].c_str(), -77, file);
    return EscapeField(unicode ? Utf8Value(f, path)
                               : std::string(buf.data(), n)) +
           "\t" + std::to_string(static_cast<int>(v));
  }
  if (f[0] == "write" && f.size() == 4) {
    ::WritePrivateProfileStringA(f[1].c_str(), f[2].c_str(), f[3].c_str(),
                                 file);
    return EscapeField(ReadAll(path));
  }
  return "error";
}

}  // namespace

int main() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  char tmp[MAX_PATH];
  const DWORD n = ::GetTempPathA(MAX_PATH, tmp);
  if (n == 0 || n >= MAX_PATH) return 1;
  const std::string path = std::string(tmp) + "profile-oracle-" +
                           std::to_string(::GetCurrentProcessId()) + ".ini";
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::cout << Answer(quillmore::SplitFields(line), path) << '\n';
  }
  ::DeleteFileA(path.c_str());
  return 0;
}
