// Any bytes as a record's XML text: reading it in one pass never faults,
// and a handler sees balanced elements.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xml/record_reader.h"

namespace {

class Balance final : public quillmore::RecordHandler {
 public:
  bool OnStart(std::string_view,
               const quillmore::RecordAttributes& a) override {
    std::string scratch;
    for (std::size_t i = 0; i < a.size(); ++i) (void)a.Value(i, scratch);
    ++open_;
    return true;
  }
  bool OnEnd() override {
    if (--open_ < 0) std::abort();
    return true;
  }
  bool OnText(std::string_view) override { return true; }
  void Reset() override { open_ = 0; }
  int open_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Balance handler;
  const bool read = quillmore::ReadRecord(text.c_str(), handler);
  if (read && handler.open_ != 0) std::abort();
  return 0;
}
