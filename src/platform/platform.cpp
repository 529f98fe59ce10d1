#include "platform/platform.h"

#include <atomic>

namespace quillmore {
namespace {
std::atomic<Platform*> g_override{nullptr};
}

Platform* CurrentPlatform() {
  Platform* p = g_override.load();
  return p != nullptr ? p : DefaultPlatform();
}

void SetPlatformForTesting(Platform* platform) { g_override.store(platform); }

}  // namespace quillmore
