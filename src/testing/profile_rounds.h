// Rounds of profile writes shared by concurrency tests and the writer
// processes they start: writer w writes keys "W<w>K<k>" into section
// "S<w % 2>" (writers share sections), each round giving every key the
// round's number.
#ifndef QUILLMORE_TESTING_PROFILE_ROUNDS_H_
#define QUILLMORE_TESTING_PROFILE_ROUNDS_H_

#include <string>

#include "platform/platform.h"

namespace quillmore::testing {

inline std::string RoundSection(int w) { return "S" + std::to_string(w % 2); }
inline std::string RoundKey(int w, int k) {
  return "W" + std::to_string(w) + "K" + std::to_string(k);
}

inline void WriteRounds(Platform& p, const std::string& path, int w, int rounds,
                        int keys) {
  for (int r = 0; r < rounds; ++r) {
    for (int k = 0; k < keys; ++k) {
      p.EditProfile(path, "", [&](ProfileDocument& d) {
        d.Set(RoundSection(w), RoundKey(w, k), std::to_string(r));
      });
    }
  }
}

// A value a killed writer may have left for key k: n, then n % 7 'x's.
inline std::string GrowingValue(unsigned n) {
  return std::to_string(n) + std::string(n % 7, 'x');
}

}  // namespace quillmore::testing

#endif  // QUILLMORE_TESTING_PROFILE_ROUNDS_H_
