#include "testing/test_installation.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <process.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillmore {
namespace {

#ifdef _WIN32
// No mkdtemp: a name of our own in the user's temporary folder, with '/'
// separators, so paths in tests are URIs for libxml2 too.
std::string MakeTempDir() {
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
std::string MakeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base != nullptr ? base : "/tmp") +
                      "/quillmore-test-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  if (::mkdir((templ + "/DV").c_str(), 0755) != 0)
    throw std::runtime_error("mkdir DV failed");
  return templ;
}
#endif

}  // namespace

TestInstallation::TestInstallation()
    : dir_(MakeTempDir()), platform_(dir_) {
  SetPlatformForTesting(&platform_);
}

TestInstallation::~TestInstallation() {
  SetPlatformForTesting(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string TestInstallation::ConfigPath(int device) const {
  return dv() + "/devdata" + std::to_string(device) + ".ini";
}

void TestInstallation::Write(const std::string& name,
                             const std::string& content) const {
  std::ofstream out(dv() + "/" + name, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TestInstallation::Read(const std::string& name) const {
  std::ifstream in(dv() + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TestInstallation::Exists(const std::string& name) const {
  return ::access((dv() + "/" + name).c_str(), F_OK) == 0;
}

void TestInstallation::Remove(const std::string& name) const {
  ::unlink((dv() + "/" + name).c_str());
}

}  // namespace quillmore
