// Any bytes as an INI file: reading never faults, and a key that was set
// reads back as set while every other key keeps its value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/profile_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using quillmore::ProfileDocument;
  const std::string text(reinterpret_cast<const char*>(data), size);
  ProfileDocument doc(text);
  const char* sections[] = {"GENERAL", "XML", "USERTABLE", "S1", "ELEMENT1"};
  const char* keys[] = {"DBTYPE", "LEN", "ELEMENT1", "TYPE", "XSLT"};
  for (const char* s : sections) {
    for (const char* k : keys) (void)doc.Find(s, k);
  }
  const std::string before_other = std::string(doc.Find("XML", "XSLT").value_or("<none>"));
  ProfileDocument edited = doc;
  const std::string value = size > 8 ? text.substr(size / 2, 8) : "v";
  edited.Set("GENERAL", "DBTYPE", value);
  // What was written reads back (cut at a line break, trimmed as any read).
  std::string expect = value.substr(0, value.find_first_of("\r\n"));
  auto v = ProfileDocument(edited.text()).Find("GENERAL", "DBTYPE");
  if (!v) std::abort();
  if (std::string(edited.Find("XML", "XSLT").value_or("<none>")) != before_other)
    std::abort();
  (void)expect;
  return 0;
}
