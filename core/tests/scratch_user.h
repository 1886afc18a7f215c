// Tests that write the current user's registry do it in a scratch key.

#ifndef CORE_TESTS_SCRATCH_USER_H_
#define CORE_TESTS_SCRATCH_USER_H_

#include <gtest/gtest.h>

#include <string>

#include "win/handles.h"

namespace core {

// While a test runs, HKEY_CURRENT_USER of this process is an empty scratch
// key, so that no test ever touches the real user's proxy settings; when the
// redirection cannot be made or does not take, the test is skipped.
class ScratchUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::UniqueHkey scratch, software;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, scratch.Put(),
                        nullptr) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_CURRENT_USER, scratch.Get()) !=
            ERROR_SUCCESS ||
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ,
                      software.Put()) != ERROR_FILE_NOT_FOUND) {
      GTEST_SKIP() << "HKEY_CURRENT_USER cannot be redirected";
    }
  }
  // Runs also after a failed or skipped test.
  void TearDown() override {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str());
  }

  const std::wstring name_ =
      L"Software\\ZorvaneCoreTests-" + std::to_wstring(GetCurrentProcessId());
};

}  // namespace core

#endif  // CORE_TESTS_SCRATCH_USER_H_
