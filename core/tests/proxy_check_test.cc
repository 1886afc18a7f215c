// The proxy check: which proxies count as the host's own and dead, what it
// leaves alone, and the sign-in command that runs it when no host does.

#include "core/proxy_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/tests/fake_platform.h"

namespace core {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::wstring kSettings =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::wstring kRunOnce =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

TcpListener V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port) {
  TcpListener listener;
  listener.address = {a, b, c, d};
  listener.port = port;
  return listener;
}

TcpListener V6(uint8_t last, uint16_t port) {
  TcpListener listener;
  listener.ipv6 = true;
  listener.address[15] = last;  // 0: ::, 1: ::1
  listener.port = port;
  return listener;
}

// Only a proxy that is on, reads exactly as the host writes it and has no
// listener that would serve 127.0.0.1 at its port is switched off, and only
// while no other process wants a connection; whatever cannot be read is left
// as it is. The check alone never touches the RunOnce
// value: a --check-proxy run may have been started from it.
TEST(ProxyCheckTest, SwitchesOffOnlyTheHostsOwnProxyWhereNothingListens) {
  const std::vector<uint8_t> on = {1, 0, 0, 0}, off = {0, 0, 0, 0};
  const std::string own = "socks=127.0.0.1:2080";
  // Whose connection-wanted mark is there: none, this process's, another
  // process's, or none can be known (no process list).
  enum Marked { kNone, kOwn, kOther, kUnknown };
  const struct {
    const char* name;
    std::vector<uint8_t> enable;  // empty: absent
    std::string server;           // empty: absent
    std::vector<TcpListener> listeners;
    bool readFails, tableFails, switchedOff;
    Marked marked = kNone;
  } cases[] = {
      {"off", off, own, {}, false, false, false},
      {"own and dead", on, own, {}, false, false, true},
      {"own, listeners that do not serve 127.0.0.1:2080",
       on,
       own,
       {V4(127, 0, 0, 1, 2081), V4(10, 0, 0, 5, 2080), V6(1, 2080)},
       false,
       false,
       true},
      {"live on 127.0.0.1", on, own, {V4(127, 0, 0, 1, 2080)}, 0, 0, false},
      {"live on 0.0.0.0", on, own, {V4(0, 0, 0, 0, 2080)}, 0, 0, false},
      {"live on ::", on, own, {V6(0, 2080)}, false, false, false},
      {"the top port", on, "socks=127.0.0.1:65535", {}, false, false, true},
      {"another program's", on, "proxy.example:8080", {}, 0, 0, false},
      {"own with extra entries", on, own + ";http=127.0.0.1:2080", {}, 0, 0, 0},
      {"privileged port", on, "socks=127.0.0.1:80", {}, false, false, false},
      {"leading zero", on, "socks=127.0.0.1:02080", {}, false, false, false},
      {"no port", on, "socks=127.0.0.1:", {}, false, false, false},
      {"ProxyEnable missing", {}, own, {}, false, false, false},
      {"ProxyServer missing", on, "", {}, false, false, false},
      {"ProxyEnable not a DWORD", {1, 0}, own, {}, false, false, false},
      {"a read fails", on, own, {}, true, false, false},
      {"the table cannot be read", on, own, {}, false, true, false},
      {"own and dead, this process wants a connection",
       on,
       own,
       {},
       0,
       0,
       true,
       kOwn},
      {"own and dead, another process wants one",
       on,
       own,
       {},
       0,
       0,
       false,
       kOther},
      {"own and dead, no process list", on, own, {}, 0, 0, false, kUnknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform platform;
    auto& values = platform.registry[kSettings];
    if (!c.enable.empty()) values[L"ProxyEnable"] = {4, c.enable};
    if (!c.server.empty()) values[L"ProxyServer"] = {1, Sz(c.server)};
    platform.registry[kRunOnce][L"ZorvaneProxyCheck"] = {1, Sz("\"z.exe\"")};
    platform.listeners = c.listeners;
    platform.readFails = c.readFails;
    platform.tableFails = c.tableFails;
    platform.processIds = {4, 100, 200};
    if (c.marked == kOwn) {
      platform.mutexes[L"Local\\ZorvaneConnectionWanted-100"] = 1;
    }
    if (c.marked == kOther) {
      platform.mutexes[L"Local\\ZorvaneConnectionWanted-200"] = 1;
    }
    platform.snapshotFails = c.marked == kUnknown;
    const auto before = platform.registry;
    ActivityLog log;

    EXPECT_EQ(SwitchOffDeadProxy(platform, log), c.switchedOff);

    if (c.switchedOff) {
      EXPECT_EQ(values[L"ProxyEnable"].data, off);
      values[L"ProxyEnable"].data = c.enable;
      EXPECT_THAT(log.LogSnapshot(), ElementsAre("پراکسی سیستم غیرفعال شد"));
    } else {
      EXPECT_THAT(log.LogSnapshot(), IsEmpty());
    }
    // Nothing else changed, and no process was touched.
    EXPECT_EQ(platform.registry.size(), before.size());
    EXPECT_EQ(values.size(), before.at(kSettings).size());
    for (const auto& [name, value] : before.at(kSettings)) {
      EXPECT_EQ(values[name].data, value.data);
    }
    EXPECT_EQ(platform.registry[kRunOnce].size(), 1u);
    for (const std::wstring& call : platform.calls) {
      EXPECT_EQ(call.find(L"Process"), std::wstring::npos) << call;
      EXPECT_EQ(call.find(L"RunOnce"), std::wstring::npos) << call;
    }
  }
}

// The command is the quoted path and " --check-proxy", at most 260
// characters: a path of 244 fits, one of 245 takes its short form when it
// has one that fits, else nothing is written.
TEST(ProxyCheckTest, SignInCommandFitsWindowsLimitOrIsNotWritten) {
  const std::wstring fits = L"C:\\" + std::wstring(235, L'a') + L"\\z.exe";
  const std::wstring tooLong = fits + L"e";
  const std::wstring shortName = L"C:\\AAAAAA~1\\Z.EXE";
  const std::wstring longShort = L"C:\\" + std::wstring(250, L'b');
  const struct {
    std::wstring executable, shortName, written;  // written: "" for none
  } cases[] = {
      {L"C:\\Program Files\\Zorvane\\zorvane.exe", L"",
       L"\"C:\\Program Files\\Zorvane\\zorvane.exe\" --check-proxy"},
      {fits, shortName, L"\"" + fits + L"\" --check-proxy"},
      {tooLong, shortName, L"\"C:\\AAAAAA~1\\Z.EXE\" --check-proxy"},
      {tooLong, L"", L""},
      {tooLong, longShort, L""},
      {L"", shortName, L""},
  };
  ASSERT_EQ(fits.size(), 244u);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.executable.size()));
    FakePlatform platform;
    platform.shortName = c.shortName;
    ArmSignInCheck(platform, c.executable);
    if (c.written.empty()) {
      EXPECT_FALSE(platform.registry.count(kRunOnce));
      continue;
    }
    // The key is made when missing, as in a fresh Wine prefix.
    std::vector<uint8_t> expected;
    for (const wchar_t unit : c.written + L'\0') {
      expected.insert(expected.end(), {uint8_t(unit), uint8_t(unit >> 8)});
    }
    EXPECT_EQ(platform.registry[kRunOnce][L"ZorvaneProxyCheck"].type, 1u);
    EXPECT_EQ(platform.registry[kRunOnce][L"ZorvaneProxyCheck"].data, expected);
    DisarmSignInCheck(platform);
    EXPECT_THAT(platform.registry[kRunOnce], IsEmpty());
  }
}

}  // namespace
}  // namespace core
