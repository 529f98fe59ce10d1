// A time limit for hostile-input tests: generous, so only a return of a
// quadratic path fails, and counted in this process's processor time, so
// a loaded machine (CI shares two cores with other builds) doesn't fail it.
#ifndef QUILLMORE_TESTING_GENEROUS_TIME_H_
#define QUILLMORE_TESTING_GENEROUS_TIME_H_

#include <ctime>

namespace quillmore::testing {

// Sanitizers slow everything down several times.
#ifdef __SANITIZE_ADDRESS__
inline constexpr double kGenerousSeconds = 60;
#else
inline constexpr double kGenerousSeconds = 10;
#endif

// Processor seconds since `start` (a std::clock() reading). Windows' C
// runtime counts wall time here, which is what Wine's tests get.
inline double ProcessorSecondsSince(std::clock_t start) {
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace quillmore::testing

#endif  // QUILLMORE_TESTING_GENEROUS_TIME_H_
