// The Windows side for real: the registry, the interface table, the module
// name and the core folder beside this test program.

#include "core/windows_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/core_layout.h"
#include "core/log_lines.h"
#include "core/system_proxy.h"
#include "core/traffic_stats.h"
#include "core/version_file.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// While a test runs, HKEY_CURRENT_USER of this process is a scratch key, so
// that no test ever touches the real user's proxy settings; a test whose
// redirection fails does not run at all.
class ScratchUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, root_.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, root_.get()),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    root_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str());
  }

  // The scratch key as seen without the redirection.
  HKEY root() const { return root_.get(); }

 private:
  const std::wstring name_ =
      L"Software\\ZorvaneCoreTests-" + std::to_wstring(GetCurrentProcessId());
  UniqueHkey root_;
};

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;

  std::wstring Text() const {
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()),
                        data.size() / sizeof(wchar_t));
  }
  DWORD Number() const {
    DWORD number = 0xFFFFFFFF;
    if (data.size() == sizeof(number)) memcpy(&number, data.data(), 4);
    return number;
  }
};

// The value exactly as stored, byte count included (RegGetValueW would add a
// missing NUL and hide it).
RegistryValue Read(HKEY root, const wchar_t* name) {
  RegistryValue value;
  UniqueHkey key;
  DWORD size = 256;
  value.data.resize(size);
  if (RegOpenKeyExW(root, kInternetSettingsKey, 0, KEY_QUERY_VALUE,
                    key.put()) != ERROR_SUCCESS ||
      RegQueryValueExW(key.get(), name, nullptr, &value.type, value.data.data(),
                       &size) != ERROR_SUCCESS) {
    size = 0;
  }
  value.data.resize(size);
  return value;
}

TEST_F(ScratchUserTest, ProxyValuesAreReallyWritten) {
  UniqueHkey settings;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, settings.put(), nullptr),
      ERROR_SUCCESS);
  WindowsPlatform platform;
  ActivityLog log;

  ASSERT_TRUE(SetSystemProxy(platform, log, true, 10808));
  const RegistryValue enable = Read(root(), L"ProxyEnable");
  const RegistryValue server = Read(root(), L"ProxyServer");
  const RegistryValue bypass = Read(root(), L"ProxyOverride");
  EXPECT_EQ(enable.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(enable.Number(), 1u);
  EXPECT_EQ(server.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(server.data.size(), 44u);
  EXPECT_EQ(server.Text(), std::wstring(L"socks=127.0.0.1:10808", 22));
  EXPECT_EQ(bypass.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bypass.data.size(), 48u);
  EXPECT_EQ(bypass.Text(), std::wstring(L"localhost;127.*;<local>", 24));

  ASSERT_TRUE(SetSystemProxy(platform, log, false, 2080));
  EXPECT_EQ(Read(root(), L"ProxyEnable").Number(), 0u);
  EXPECT_EQ(Read(root(), L"ProxyServer").data, server.data);
  EXPECT_EQ(Read(root(), L"ProxyOverride").data, bypass.data);
  EXPECT_THAT(log.LogSnapshot(),
              ElementsAre(kLogProxyEnabled, kLogProxyDisabled));
}

TEST_F(ScratchUserTest, MissingSettingsKeyIsNotCreated) {
  WindowsPlatform platform;
  ActivityLog log;
  EXPECT_FALSE(SetSystemProxy(platform, log, true, 10808));
  EXPECT_THAT(log.LogSnapshot(), ElementsAre(kLogProxyKeyFailed));
  UniqueHkey settings;
  EXPECT_EQ(
      RegOpenKeyExW(root(), kInternetSettingsKey, 0, KEY_READ, settings.put()),
      ERROR_FILE_NOT_FOUND);
}

TEST(WindowsPlatformTest, InterfaceTableIsReallyRead) {
  WindowsPlatform platform;
  uint32_t size = 0;
  ASSERT_EQ(platform.InterfaceTableSize(&size), 122u);
  ASSERT_GT(size, 0u);
  std::vector<InterfaceRow> rows;
  ASSERT_EQ(platform.ReadInterfaceTable(size, &rows), 0u);
  ASSERT_FALSE(rows.empty());
  bool sawLoopback = false;
  for (const InterfaceRow& row : rows) {
    if (row.type != 24) continue;
    sawLoopback = true;
    EXPECT_FALSE(CountsTowardsTraffic(row));
  }
  EXPECT_TRUE(sawLoopback);

  TrafficSample sample;
  GetTrafficStats(platform, sample);
  EXPECT_NE(sample.tickMs, 0u);
  const TrafficRates rates = GetTrafficStats(platform, sample);
  EXPECT_GE(rates.upKbps, 0.0);
  EXPECT_GE(rates.downKbps, 0.0);
}

fs::path ThisProgram() {
  std::wstring name(32768, L'\0');
  name.resize(
      GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size())));
  return name;
}

TEST(WindowsPlatformTest, ModuleNameThatDoesNotFitFillsTheBuffer) {
  WindowsPlatform platform;
  ASSERT_GT(ThisProgram().wstring().size(), 8u);
  std::vector<wchar_t> buffer(8, L'x');
  EXPECT_EQ(platform.ModuleFileName(buffer.data(), 8), 8u);
  EXPECT_EQ(CoreLayout(platform).ExecutableDirectory(),
            ThisProgram().parent_path());
}

// Run by the build from a folder deeper than 260 units.
TEST(WindowsPlatformTest, FolderIsFoundInFullFromALongPath) {
  WindowsPlatform platform;
  const CoreLayout layout(platform);
  if (ThisProgram().wstring().size() <= 260) GTEST_SKIP() << "not deep";
  const fs::path folder = layout.ExecutableDirectory();
  EXPECT_EQ(folder, ThisProgram().parent_path());
  EXPECT_TRUE(fs::is_regular_file(folder / "core_windows_tests.exe"));
  EXPECT_TRUE(fs::is_directory(layout.CoreDirectory()));
  fs::remove(folder / "xray");  // remove_all never returns here under Wine 8
}

TEST(WindowsPlatformTest, CoreFolderAndVersionFileBesideThisProgram) {
  WindowsPlatform platform;
  const CoreLayout layout(platform);
  const fs::path core = ThisProgram().parent_path() / "xray";
  const bool existed = fs::exists(core);
  EXPECT_EQ(layout.CoreDirectory(), core);
  EXPECT_TRUE(fs::is_directory(core));

  WriteXrayVersion(layout, "latest");
  EXPECT_EQ(fs::file_size(core / "version.txt"), 6u);
  EXPECT_EQ(ReadXrayVersion(layout), "latest");
  // Written in text mode, as other programs do: the line ends in CR LF.
  std::ofstream(core / "version.txt") << "1.8.4\nmore\n";
  EXPECT_EQ(fs::file_size(core / "version.txt"), 13u);
  EXPECT_EQ(ReadXrayVersion(layout), "1.8.4");
  if (!existed) fs::remove_all(core);
}

}  // namespace
}  // namespace core
