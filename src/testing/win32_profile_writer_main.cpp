// A writer process for the Win32 platform's concurrency tests.
//   win32_profile_writer PATH WRITER ROUNDS KEYS
// writes ROUNDS rounds of KEYS keys (profile_rounds.h) and exits 0;
//   win32_profile_writer PATH forever KEYS
// writes growing values into section S0 until it is killed.
#include <cstdlib>
#include <string>

#include "platform/system_platform.h"
#include "testing/profile_rounds.h"

int main(int argc, char** argv) {
  using namespace quillmore;
  if (argc < 4) return 2;
  SystemPlatform own;  // a process of its own, with its own cache
  const std::string path = argv[1];
  if (std::string(argv[2]) == "forever") {
    const int keys = std::atoi(argv[3]);
    for (unsigned n = 1;; ++n) {
      own.EditProfile(path, "", [&](ProfileDocument& d) {
        d.Set(testing::RoundSection(0),
              testing::RoundKey(0, static_cast<int>(n % keys)),
              testing::GrowingValue(n));
      });
    }
  }
  if (argc < 5) return 2;
  testing::WriteRounds(own, path, std::atoi(argv[2]), std::atoi(argv[3]),
                       std::atoi(argv[4]));
  return 0;
}
