#include "core/system_proxy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/local_port.h"
#include "core/log_lines.h"
#include "core/tests/fake_platform.h"

namespace core {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::wstring kOpen =
    std::wstring(L"OpenCurrentUserKey ") + kInternetSettingsKey;

struct Outcome {
  bool result;
  std::vector<std::wstring> calls;
  std::vector<std::string> log;
};

Outcome SetProxy(FakePlatform& platform, bool enabled, int32_t port) {
  ActivityLog log;
  const bool result = SetSystemProxy(platform, log, enabled, port);
  return {result, platform.calls, log.LogSnapshot()};
}

TEST(SystemProxyTest, EnablingWritesThreeValuesThenTellsWinInet) {
  const struct {
    int32_t port;
    std::wstring server;
  } cases[] = {{10808, L"socks=127.0.0.1:10808"},
               {65535, L"socks=127.0.0.1:65535"},
               {1024, L"socks=127.0.0.1:1024"}};
  for (const auto& c : cases) {
    FakePlatform platform;
    const Outcome outcome = SetProxy(platform, true, c.port);
    EXPECT_TRUE(outcome.result);
    EXPECT_THAT(outcome.calls,
                ElementsAre(kOpen, L"SetDword ProxyEnable 1",
                            L"SetString ProxyServer " + c.server,
                            L"SetString ProxyOverride localhost;127.*;<local>",
                            L"CloseKey", L"NotifyInternetOption 39",
                            L"NotifyInternetOption 37"));
    EXPECT_THAT(outcome.log, ElementsAre(kLogProxyEnabled));
  }
}

TEST(SystemProxyTest, DisablingWritesOnlyProxyEnable) {
  FakePlatform platform;
  const Outcome outcome = SetProxy(platform, false, 2080);
  EXPECT_TRUE(outcome.result);
  EXPECT_THAT(
      outcome.calls,
      ElementsAre(kOpen, L"SetDword ProxyEnable 0", L"CloseKey",
                  L"NotifyInternetOption 39", L"NotifyInternetOption 37"));
  EXPECT_THAT(outcome.log, ElementsAre(kLogProxyDisabled));
}

TEST(SystemProxyTest, KeyThatCannotBeOpenedWritesNothing) {
  FakePlatform platform;
  platform.keyOpens = false;
  const Outcome outcome = SetProxy(platform, true, 10808);
  EXPECT_FALSE(outcome.result);
  EXPECT_THAT(outcome.calls, ElementsAre(kOpen));
  EXPECT_THAT(outcome.log, ElementsAre(kLogProxyKeyFailed));
}

TEST(SystemProxyTest, FailedWriteStopsTheWritesAndIsNotAnnounced) {
  const struct {
    bool enabled;
    std::wstring failing;
    std::vector<std::wstring> calls;
  } cases[] = {
      {true, L"ProxyEnable", {kOpen, L"SetDword ProxyEnable 1", L"CloseKey"}},
      {true,
       L"ProxyServer",
       {kOpen, L"SetDword ProxyEnable 1",
        L"SetString ProxyServer socks=127.0.0.1:10808", L"CloseKey"}},
      {true,
       L"ProxyOverride",
       {kOpen, L"SetDword ProxyEnable 1",
        L"SetString ProxyServer socks=127.0.0.1:10808",
        L"SetString ProxyOverride localhost;127.*;<local>", L"CloseKey"}},
      {false, L"ProxyEnable", {kOpen, L"SetDword ProxyEnable 0", L"CloseKey"}},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.failingValue = c.failing;
    const Outcome outcome = SetProxy(platform, c.enabled, 10808);
    EXPECT_FALSE(outcome.result);
    EXPECT_THAT(outcome.calls, ElementsAreArray(c.calls));
    EXPECT_THAT(outcome.log, ElementsAre(kLogProxyWriteFailed));
  }
}

TEST(LocalPortTest, OutOfRangePortsBecomeTheDefault) {
  const struct {
    int32_t given, used;
  } cases[] = {{1024, 1024},   {65535, 65535},   {2080, 2080},
               {1023, 10808},  {0, 10808},       {-1, 10808},
               {65536, 10808}, {INT_MIN, 10808}, {INT_MAX, 10808}};
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizeLocalPort(c.given), c.used) << c.given;
  }
}

}  // namespace
}  // namespace core
