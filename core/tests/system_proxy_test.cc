#include "core/system_proxy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/local_port.h"
#include "core/tests/fake_platform.h"

namespace core {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(SystemProxyTest, WritesInOrderAndTellsWinInetOnlyWhenAllWereWritten) {
  const std::wstring key =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  const std::wstring open = L"OpenCurrentUserKey " + key;
  const std::wstring on = L"SetDword ProxyEnable 1";
  const std::wstring off = L"SetDword ProxyEnable 0";
  const std::wstring server = L"SetString ProxyServer socks=127.0.0.1:1024";
  const std::wstring over = L"SetString ProxyOverride localhost;127.*;<local>";
  const std::wstring close = L"CloseKey";
  const std::wstring n39 = L"NotifyInternetOption 39";
  const std::wstring n37 = L"NotifyInternetOption 37";
  const char* const failed = "اعمال پراکسی سیستم ناموفق بود";
  const struct {
    bool enabled;
    std::wstring failing;
    std::vector<std::wstring> calls;
    const char* line;
  } cases[] = {
      {true,
       L"",
       {open, on, server, over, close, n39, n37},
       "پراکسی سیستم فعال شد"},
      {false, L"", {open, off, close, n39, n37}, "پراکسی سیستم غیرفعال شد"},
      {true, key, {open}, "تنظیم پراکسی سیستم ناموفق بود"},
      {true, L"ProxyEnable", {open, on, close}, failed},
      {true, L"ProxyServer", {open, on, server, close}, failed},
      {true, L"ProxyOverride", {open, on, server, over, close}, failed},
      {false, L"ProxyEnable", {open, off, close}, failed},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.failing = c.failing;
    ActivityLog log;
    EXPECT_EQ(SetSystemProxy(platform, log, c.enabled, 1024),
              c.failing.empty());
    EXPECT_THAT(platform.calls, ElementsAreArray(c.calls));
    EXPECT_THAT(log.LogSnapshot(), ElementsAre(c.line));
  }
}

TEST(LocalPortTest, PortsOutsideTheUnprivilegedRangeBecomeTheDefault) {
  const struct {
    int32_t given, used;
  } cases[] = {{1024, 1024},   {65535, 65535}, {1023, 10808},
               {65536, 10808}, {0, 10808},     {-1, 10808}};
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizeLocalPort(c.given), c.used) << c.given;
  }
}

}  // namespace
}  // namespace core
