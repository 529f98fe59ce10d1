// Any bytes as a device's configuration file: loading it and asking the
// facade for everything never faults and never writes past a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quillmore/QuillmoreExt.h"
#include "testing/test_installation.h"

namespace {

// Calls a getter with a small buffer and checks the bytes beyond its size.
template <typename F>
void Probe(F get) {
  for (std::uint32_t size : {0u, 1u, 8u, 40u, 300u}) {
    char buf[320];
    std::memset(buf, '#', sizeof buf);
    std::uint32_t n = get(buf, size);
    if (n != 0 && n >= size) std::abort();
    for (std::size_t i = size; i < sizeof buf; ++i) {
      if (buf[i] != '#') std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static quillmore::TestInstallation installation;  // removed at exit
  quillmore::TestInstallation* inst = &installation;
  inst->Write("devdata1.ini",
              std::string(reinterpret_cast<const char*>(data), size));
  CQuillmoreExt q;
  q.LoadData(1);
  Probe([&](char* b, std::uint32_t n) { return q.GetDatabaseName(b, n); });
  Probe([&](char* b, std::uint32_t n) { return q.GetConnectionString(b, n); });
  Probe([&](char* b, std::uint32_t n) {
    return q.GetUserCreateQueryEx(1, b, n);
  });
  Probe(
      [&](char* b, std::uint32_t n) { return q.GetUserDropQueryEx(1, b, n); });
  Probe([&](char* b, std::uint32_t n) { return q.GetUserTableNames(1, b, n); });
  Probe(
      [&](char* b, std::uint32_t n) { return q.GetSelectTemplateQuery(b, n); });
  Probe([&](char* b, std::uint32_t n) {
    return q.GetDeleteQueryByDate("2026-01-01", b, n);
  });
  Probe([&](char* b, std::uint32_t n) {
    return q.GetUserInsertQuery(7, "<a><Total>1</Total><Item name='x'/></a>", b,
                                n);
  });
  _tagSEARCHPARAM params[3];
  std::memset(params, 0, sizeof params);
  for (int i = 0; i < 3; ++i) {
    params[i].nItemIndex = i - 1;
    std::strcpy(params[i].szValue1, "12.5");
    std::strcpy(params[i].szValue2, "99");
    params[i].byCompare1 = static_cast<std::uint8_t>(i * 3);
    params[i].byCompare2 = 4;
  }
  Probe([&](char* b, std::uint32_t n) {
    return q.GetSelectQueryByItemIndex(100, "a", "b", params, 3, 1, b, n);
  });
  (void)q.IsValidSearchRecord("TOTAL 12.50 CARD", params, 3, 0);
  // A reloaded copy of the file must agree with the loaded one.
  CQuillmoreExt other;
  if (other.GetUserTableElementsCount(1) != q.GetUserTableElementsCount(1) &&
      q.GetDatabaseType() != 0) {
    std::abort();
  }
  return 0;
}
