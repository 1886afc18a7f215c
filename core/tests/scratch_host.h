// A host whose executable sits in a fresh temporary folder, seen through the
// fake platform, for the tests that need the core folder on a real disk.

#ifndef CORE_TESTS_SCRATCH_HOST_H_
#define CORE_TESTS_SCRATCH_HOST_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "core/tests/fake_platform.h"

namespace core {

// The whole content of a file; empty when it cannot be read.
inline std::string FileText(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// The executable is folder_\client.exe, and a core is where the application
// ships one, among its assets; the folder goes with everything in it when the
// test ends.
class ScratchHostTest : public ::testing::Test {
 protected:
  ScratchHostTest() {
    std::filesystem::create_directories(shipped_.parent_path());
    std::ofstream(shipped_) << "shipped core";
    platform_.moduleFileName = (folder_ / "client.exe").wstring();
  }
  ~ScratchHostTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  const std::filesystem::path folder_ =
      std::filesystem::temp_directory_path() /
      ("zv-host-" + std::to_string(std::random_device()()));
  const std::filesystem::path core_ = folder_ / "xray";
  const std::filesystem::path shipped_ = folder_ / "data" / "flutter_assets" /
                                         "assets" / "xray" / "windows" /
                                         "xray.exe";
  FakePlatform platform_;
};

}  // namespace core

#endif  // CORE_TESTS_SCRATCH_HOST_H_
