// TestInstallation: a fresh temporary folder with a DV subfolder, put in
// place as the platform of every DataStore made while it lives. The volume
// serial is fixed at 0x1A2B3C4D and the yes/no answer is set by the test, so
// no test depends on the machine or waits on a terminal.
#ifndef QUILLMORE_TESTING_TEST_INSTALLATION_H_
#define QUILLMORE_TESTING_TEST_INSTALLATION_H_

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace quillmore {

class TestInstallation {
 public:
  static constexpr std::uint32_t kSerial = 0x1A2B3C4D;

  TestInstallation();
  TestInstallation(const TestInstallation&) = delete;
  TestInstallation& operator=(const TestInstallation&) = delete;
  ~TestInstallation();

  const std::string& dir() const { return dir_; }
  std::string dv() const { return dir_ + "/DV"; }
  std::string ConfigPath(int device) const;

  // Files inside DV.
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  void Remove(const std::string& name) const;

  void set_answer(bool yes) { platform_.answer = yes; }
  int questions() const { return platform_.questions; }
  Platform& platform() { return platform_; }

 private:
  struct FixedPlatform : PlatformWrapper {
    explicit FixedPlatform(std::string dir)
        : PlatformWrapper(DefaultPlatform()), dir(std::move(dir)) {}
    std::string ModuleDirectory() override { return dir; }
    std::uint32_t VolumeSerial() override { return kSerial; }
    bool AskYesNo(const std::string&) override {
      ++questions;
      return answer;
    }
    std::string dir;
    bool answer = false;
    int questions = 0;
  };

  std::string dir_;
  FixedPlatform platform_;
};

}  // namespace quillmore

#endif  // QUILLMORE_TESTING_TEST_INSTALLATION_H_
