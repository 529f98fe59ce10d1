// TestInstallation: a fresh temporary folder with a DV subfolder, put in
// place as the platform of every DataStore made while it lives. The volume
// serial is fixed at 0x1A2B3C4D and the yes/no answer is set by the test, so
// no test depends on the machine or waits on a terminal.
#ifndef QUILLMORE_TESTING_TEST_INSTALLATION_H_
#define QUILLMORE_TESTING_TEST_INSTALLATION_H_

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <process.h>
#endif

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace quillmore {

class TestInstallation {
 public:
  static constexpr std::uint32_t kSerial = 0x1A2B3C4D;

  TestInstallation() : dir_(MakeTempDir()), platform_(dir_) {
    SetPlatformForTesting(&platform_);
  }
  TestInstallation(const TestInstallation&) = delete;
  TestInstallation& operator=(const TestInstallation&) = delete;
  ~TestInstallation() {
    SetPlatformForTesting(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  const std::string& dir() const { return dir_; }
  std::string dv() const { return dir_ + "/DV"; }
  std::string ConfigPath(int device) const {
    return dv() + "/devdata" + std::to_string(device) + ".ini";
  }

  // Files inside DV.
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(dv() + "/" + name, std::ios::binary) << content;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(dv() + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  bool Exists(const std::string& name) const {
    return ::access((dv() + "/" + name).c_str(), F_OK) == 0;
  }
  void Remove(const std::string& name) const {
    ::unlink((dv() + "/" + name).c_str());
  }

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

#ifdef _WIN32
  // No mkdtemp: a name of our own in the user's temporary folder, with '/'
  // separators, so paths in tests are URIs for libxml2 too.
  static std::string MakeTempDir() {
    static int counter = 0;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const std::filesystem::path dir =
          base / ("quillmore-test-" + std::to_string(::_getpid()) + "-" +
                  std::to_string(counter++));
      if (std::filesystem::create_directory(dir)) {
        std::filesystem::create_directory(dir / "DV");
        return dir.generic_string();
      }
    }
    throw std::runtime_error("no temporary folder");
  }
#else
  static std::string MakeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string dir =
        std::string(base != nullptr ? base : "/tmp") + "/quillmore-test-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr ||
        ::mkdir((dir + "/DV").c_str(), 0755) != 0) {
      throw std::runtime_error("no temporary folder");
    }
    return dir;
  }
#endif

  std::string dir_;
  FixedPlatform platform_;
};

}  // namespace quillmore

#endif  // QUILLMORE_TESTING_TEST_INSTALLATION_H_
