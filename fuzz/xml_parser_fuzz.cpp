// Any bytes as a record's XML text: loading it and looking elements up
// never faults, and a failed load leaves lookups that still answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/xml_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quillmore::XmlParser parser;
  (void)parser.LoadText(text.c_str());
  std::string out;
  for (const char* name : {"Total", "Item", "a", "*", "[", "a/b"}) {
    (void)parser.GetElementText(name, out);
    (void)parser.SelectElements(name);
  }
  return 0;
}
