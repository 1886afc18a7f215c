// The Windows side for real: the registry, the interface table and the module
// name; the stand-in core started, found by its path and stopped. The logic
// around these calls is the fake platform's tests', restarts the real core's
// end-to-end suite's, downloads the download suite's (the real address, over
// TLS, extracted by the system's PowerShell), the dead proxy's check the real
// core's suite's and the package test's.

#include <windows.h>
// windows.h comes first: the other SDK headers build on it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/core_manager.h"
#include "core/proxy_check.h"
#include "core/system_proxy.h"
#include "core/traffic_stats.h"
#include "core/windows_platform.h"
#include "win/handles.h"
#include "win/module.h"

namespace core {
namespace {

namespace fs = std::filesystem;

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

// The values' exact bytes: REG_SZ texts end in their NUL, within the size.
TEST_F(ScratchUserTest, ProxyValuesAreWrittenOnlyIntoTheExistingKey) {
  const wchar_t* const settings =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  WindowsPlatform platform;
  ActivityLog log;
  EXPECT_FALSE(SetSystemProxy(platform, log, true, 10808));
  win::UniqueHkey key;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, settings, 0, KEY_READ, key.Put()),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, settings, 0, nullptr, 0,
                            KEY_QUERY_VALUE, nullptr, key.Put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_TRUE(SetSystemProxy(platform, log, true, 10808));
  const DWORD on = 1;
  EXPECT_EQ(Read(key.Get(), L"ProxyEnable"), MakeValue(REG_DWORD, &on, 4));
  EXPECT_EQ(Read(key.Get(), L"ProxyServer"),
            MakeValue(REG_SZ, L"socks=127.0.0.1:10808", 44));
  EXPECT_EQ(Read(key.Get(), L"ProxyOverride"),
            MakeValue(REG_SZ, L"localhost;127.*;<local>", 48));
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

// Run by the build a second time from a folder deeper than 260 units.
TEST(WindowsPlatformTest, FolderIsFoundInFullFromALongPath) {
  const fs::path program = win::ExecutableFileName();
  if (program.wstring().size() <= 260) GTEST_SKIP() << "not deep";
  WindowsPlatform platform;
  const CoreLayout layout(platform);
  EXPECT_EQ(layout.ExecutableDirectory(), program.parent_path());
  EXPECT_EQ(layout.CoreDirectory(), program.parent_path() / "xray");
  fs::remove(program.parent_path() / "xray");  // remove_all hangs here
  // Too long for a RunOnce command: the sign-in check names the short form,
  // which still starts this very program.
  const std::wstring command = ProxyCheckCommand(platform, program.wstring());
  EXPECT_LE(command.size(), 260u);
  EXPECT_EQ(command, L"\"" + platform.ShortPathName(program.wstring()) +
                         L"\" --check-proxy");
  EXPECT_EQ(fs::equivalent(platform.ShortPathName(program.wstring()), program),
            true);
}

win::UniqueSocket LoopbackSocket(uint16_t port, bool listen) {
  win::UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto* raw = reinterpret_cast<const sockaddr*>(&address);
  const bool ready = listen ? bind(socket.Get(), raw, sizeof(address)) == 0 &&
                                  ::listen(socket.Get(), 8) == 0
                            : connect(socket.Get(), raw, sizeof(address)) == 0;
  return ready ? std::move(socket) : win::UniqueSocket();
}

uint16_t PortOf(const win::UniqueSocket& socket) {
  sockaddr_in address = {};
  int size = sizeof(address);
  getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

// A port nothing listens on right now.
uint16_t FreePort() { return PortOf(LoopbackSocket(0, true)); }

std::string SocksConfig(uint16_t port) {
  return "{\"inbounds\": [{\"port\": " + std::to_string(port) +
         ", \"protocol\": \"socks\"}]}";
}

// The Windows platform, but with the host's executable in a scratch folder
// whose name holds quotes, which the core's command line must carry intact.
class ScratchHostPlatform : public WindowsPlatform {
 public:
  explicit ScratchHostPlatform(const fs::path& folder)
      : name_((folder / "client.exe").wstring()) {}
  uint32_t ModuleFileName(wchar_t* buffer, uint32_t size) override {
    return static_cast<uint32_t>(name_.copy(buffer, size));
  }

 private:
  std::wstring name_;
};

// The current user's registry is an empty scratch key, and the host lives in
// a scratch folder whose shipped core is the stand-in.
class WindowsCoreTest : public ScratchUserTest {
 protected:
  void SetUp() override {
    ScratchUserTest::SetUp();
    if (IsSkipped()) return;
    const fs::path shipped =
        folder_ / "data" / "flutter_assets" / "assets" / "xray" / "windows";
    fs::create_directories(shipped);
    ASSERT_TRUE(CopyFileW((here_ / "standin-core" / "xray.exe").c_str(),
                          (shipped / "xray.exe").c_str(), TRUE));
  }
  void TearDown() override {
    manager_.StopXray();
    ScratchUserTest::TearDown();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // The cores running from the scratch host's core folder, looked for as
  // the host looks for a core left running, the path in capitals: Windows
  // compares file names without regard to case.
  int RunningCores() {
    std::wstring path = (folder_ / "xray" / "xray.exe").wstring();
    CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
    std::vector<std::unique_ptr<Process>> found;
    EXPECT_TRUE(platform_.ProcessesWithImage(path, &found));
    return static_cast<int>(found.size());
  }

  const fs::path here_ = win::ExecutableFolder();
  const fs::path folder_ =
      fs::temp_directory_path() /
      (L"zv O'Neil \u2019s " + std::to_wstring(GetCurrentProcessId()));
  win::WinsockSession winsock_;
  ScratchHostPlatform platform_{folder_};
  CoreManager manager_{platform_};
};

TEST_F(WindowsCoreTest, CoreIsFoundByItsPathAndStopped) {
  const uint16_t port = FreePort();
  ASSERT_TRUE(manager_.StartXray(SocksConfig(port), true, port));
  EXPECT_EQ(RunningCores(), 1);
  manager_.StopXray();
  manager_.StopXray();
  EXPECT_EQ(RunningCores(), 0);
}

}  // namespace
}  // namespace core
