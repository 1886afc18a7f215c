// The Windows side for real: the registry, the interface table, the module
// name and the core folder beside this test program.

#include "core/windows_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/core_layout.h"
#include "core/log_lines.h"
#include "core/system_proxy.h"
#include "core/tests/scratch_user.h"
#include "core/traffic_stats.h"
#include "core/version_file.h"
#include "win/module.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// A registry value: its type and its bytes.
using Value = std::pair<DWORD, std::vector<BYTE>>;
Value MakeValue(DWORD type, const void* data, size_t size) {
  const auto* bytes = static_cast<const BYTE*>(data);
  return {type, std::vector<BYTE>(bytes, bytes + size)};
}

// A value as stored, byte count included (RegGetValueW would add a NUL).
Value Read(HKEY key, const wchar_t* name) {
  DWORD type = REG_NONE, size = 256;
  std::vector<BYTE> data(size);
  if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) !=
      ERROR_SUCCESS) {
    size = 0;
  }
  return MakeValue(type, data.data(), size);
}

class ScratchProxyTest : public ScratchUserTest {
 protected:
  WindowsPlatform platform_;
  ActivityLog log_;
};

TEST_F(ScratchProxyTest, ProxyValuesAreReallyWritten) {
  win::UniqueHkey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, nullptr,
                            0, KEY_QUERY_VALUE, nullptr, key.Put(), nullptr),
            ERROR_SUCCESS);
  const DWORD on = 1, off = 0;
  const Value server = MakeValue(REG_SZ, L"socks=127.0.0.1:10808", 44);
  const Value bypass = MakeValue(REG_SZ, L"localhost;127.*;<local>", 48);

  ASSERT_TRUE(SetSystemProxy(platform_, log_, true, 10808));
  EXPECT_EQ(Read(key.Get(), L"ProxyEnable"), MakeValue(REG_DWORD, &on, 4));
  EXPECT_EQ(Read(key.Get(), L"ProxyServer"), server);
  EXPECT_EQ(Read(key.Get(), L"ProxyOverride"), bypass);

  ASSERT_TRUE(SetSystemProxy(platform_, log_, false, 2080));
  EXPECT_EQ(Read(key.Get(), L"ProxyEnable"), MakeValue(REG_DWORD, &off, 4));
  EXPECT_EQ(Read(key.Get(), L"ProxyServer"), server);
  EXPECT_EQ(Read(key.Get(), L"ProxyOverride"), bypass);
  EXPECT_THAT(log_.LogSnapshot(),
              ElementsAre(kLogProxyEnabled, kLogProxyDisabled));
}

TEST_F(ScratchProxyTest, MissingSettingsKeyIsNotCreated) {
  EXPECT_FALSE(SetSystemProxy(platform_, log_, true, 10808));
  EXPECT_THAT(log_.LogSnapshot(), ElementsAre(kLogProxyKeyFailed));
  win::UniqueHkey key;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ,
                          key.Put()),
            ERROR_FILE_NOT_FOUND);
}

// Wine reads the counters from Linux, whose own account is reachable as
// Z:\proc\net\dev: on an interface that received far more than it sent,
// the row's received count must be Linux's received count. The loopback,
// which carries no traffic of the machine's, is there and not counted.
TEST(WindowsPlatformTest, ReceivedAndSentCountersAreNotSwapped) {
  std::ifstream dev("Z:\\proc\\net\\dev");
  std::vector<std::pair<uint32_t, uint32_t>> kernelCounts;  // received, sent
  std::string line;
  while (std::getline(dev, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream fields(line.substr(colon + 1));
    uint64_t value[9] = {};
    for (uint64_t& field : value) fields >> field;
    kernelCounts.emplace_back(static_cast<uint32_t>(value[0]),
                              static_cast<uint32_t>(value[8]));
  }
  WindowsPlatform platform;
  uint32_t size = 0;
  ASSERT_EQ(platform.InterfaceTableSize(&size), 122u);
  std::vector<InterfaceRow> rows;
  ASSERT_EQ(platform.ReadInterfaceTable(size, &rows), 0u);
  const auto loopback = std::find_if(rows.begin(), rows.end(),
                                     [](auto& row) { return row.type == 24; });
  ASSERT_NE(loopback, rows.end());
  EXPECT_FALSE(CountsTowardsTraffic(*loopback));
  constexpr uint32_t kSlack = 1 << 20;  // Traffic between the two reads.
  const auto Close = [](uint32_t a, uint32_t b) {
    return (a > b ? a - b : b - a) < kSlack;
  };
  int compared = 0;
  for (const InterfaceRow& row : rows) {
    if (Close(row.inOctets, row.outOctets)) continue;  // Cannot tell.
    for (const auto& [received, sent] : kernelCounts) {
      if (Close(row.inOctets, received) || Close(row.inOctets, sent)) {
        EXPECT_TRUE(Close(row.inOctets, received) &&
                    Close(row.outOctets, sent));
        ++compared;
      }
    }
  }
  if (compared == 0) GTEST_SKIP() << "no interface with lopsided traffic";
}

fs::path ThisProgram() { return win::ExecutableFileName(); }

// Run by the build a second time from a folder deeper than 260 units.
TEST(WindowsPlatformTest, FolderIsFoundInFullFromALongPath) {
  if (ThisProgram().wstring().size() <= 260) GTEST_SKIP() << "not deep";
  WindowsPlatform platform;
  const CoreLayout layout(platform);
  EXPECT_EQ(layout.ExecutableDirectory(), ThisProgram().parent_path());
  EXPECT_EQ(layout.CoreDirectory(), ThisProgram().parent_path() / "xray");
  fs::remove(ThisProgram().parent_path() / "xray");  // remove_all hangs here
}

TEST(WindowsPlatformTest, CoreFolderAndVersionFileBesideThisProgram) {
  WindowsPlatform platform;
  const CoreLayout layout(platform);
  const fs::path core = ThisProgram().parent_path() / "xray";
  const bool existed = fs::exists(core);
  EXPECT_EQ(layout.CoreDirectory(), core);
  WriteXrayVersion(layout, "latest");
  EXPECT_EQ(ReadXrayVersion(layout), "latest");
  // Written in text mode, as other programs do: the line ends in CR LF.
  std::ofstream(core / "version.txt") << "1.8.4\nmore\n";
  EXPECT_EQ(fs::file_size(core / "version.txt"), 13u);
  EXPECT_EQ(ReadXrayVersion(layout), "1.8.4");
  if (!existed) fs::remove_all(core);
}

}  // namespace
}  // namespace core
