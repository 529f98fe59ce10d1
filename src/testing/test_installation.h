// TestInstallation: a fresh temporary folder with a DV subfolder, put in
// place as the platform of every DataStore made while it lives. The volume
// serial is fixed at 0x1A2B3C4D and the yes/no answer is set by the test, so
// no test depends on the machine or waits on a terminal.
#ifndef QUILLMORE_TESTING_TEST_INSTALLATION_H_
#define QUILLMORE_TESTING_TEST_INSTALLATION_H_

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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
    return std::filesystem::exists(dv() + "/" + name);
  }
  void Remove(const std::string& name) const {
    std::error_code ec;
    std::filesystem::remove(dv() + "/" + name, ec);
  }
  // Temporary files of the library's writers in DV (".<name>.tmp...").
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dv())) {
      const std::string name = e.path().filename().string();
      if (name[0] == '.' && name.find(".tmp") != std::string::npos)
        out.push_back(name);
    }
    return out;
  }

  void set_answer(bool yes) { platform_.answer = yes; }
  int questions() const { return platform_.questions; }
  Platform& platform() { return platform_; }

 private:
  struct FixedPlatform : PlatformWrapper {
    explicit FixedPlatform(std::string dir)
        : PlatformWrapper(DefaultPlatform()), dir(std::move(dir)) {}
    std::string EnterModuleDirectory() override { return dir; }
    std::uint32_t VolumeSerial() override { return kSerial; }
    bool AskYesNo(const std::string&) override {
      ++questions;
      return answer;
    }
    std::string dir;
    bool answer = false;
    int questions = 0;
  };

  // A new folder in the system's temporary folder, with '/' separators on
  // every system, so paths in tests are URIs for libxml2 too.
  static std::string MakeTempDir() {
    namespace fs = std::filesystem;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path dir = fs::temp_directory_path() /
                           ("quillmore-test-" + std::to_string(random()));
      if (fs::create_directory(dir) && fs::create_directory(dir / "DV"))
        return dir.generic_string();
    }
    throw std::runtime_error("no temporary folder");
  }

  std::string dir_;
  FixedPlatform platform_;
};

}  // namespace quillmore

#endif  // QUILLMORE_TESTING_TEST_INSTALLATION_H_
