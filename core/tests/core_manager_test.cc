// The core's life cycle through the fake platform, on a real scratch folder:
// installing, starting, stopping and downloading, faults included.

#include "core/core_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/tests/fake_platform.h"
#include "core/tests/scratch_host.h"
#include "core/version_file.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using Calls = std::vector<std::wstring>;

// The activity log's lines, written out as the user reads them.
const std::string kInstalled = "Xray پیش فرض نصب شد";
const std::string kShippedMissing = "Xray پیش فرض داخل برنامه یافت نشد";
const std::string kCopyFailed = "کپی Xray پیش فرض ناموفق بود";
const std::string kNotReady = "Xray برای اجرا آماده نیست";
const std::string kStartFailed = "اجرای Xray ناموفق بود";
const std::string kDiedAtOnce = "Xray بلافاصله پس از اجرا متوقف شد";
const std::string kStarted = "Xray در ویندوز اجرا شد";
const std::string kStopped = "Xray متوقف شد";
const std::string kProxyOn = "پراکسی سیستم فعال شد";
const std::string kProxyOff = "پراکسی سیستم غیرفعال شد";
const std::string kDownloadFailed = "دانلود فایل Xray ناموفق بود";
const std::string kExtractFailed = "استخراج فایل Xray ناموفق بود";
const std::string kNoXrayExe = "فایل xray.exe در بسته دانلودی یافت نشد";
const std::string kReplaceFailed = "جایگزینی Xray دانلودی ناموفق بود";
const std::string kDone = "دانلود و نصب Xray کامل شد";

// The core's command line is checked where Windows starts it from a folder
// whose name needs its quotes.
TEST(CommandLineTest, ArchivePathsAreQuotedAsPowerShellReadsThem) {
  const struct {
    std::wstring archive, folder, command;
  } cases[] = {
      // Every quote PowerShell ends a literal at is doubled. The archive is
      // read literally; the destination, read as a pattern, has its [, ]
      // and ` escaped.
      {L"C:\\O'Neil [x] `y\\x.zip", L"C:\\\u2018a\u2019\u201A\u201B [b] `c",
       L"powershell.exe -NoProfile -ExecutionPolicy Bypass -Command "
       L"\"Expand-Archive -LiteralPath 'C:\\O''Neil [x] `y\\x.zip' "
       L"-DestinationPath "
       L"'C:\\\u2018\u2018a\u2019\u2019\u201A\u201A\u201B\u201B `[b`] ``c' "
       L"-Force\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractionCommandLine(c.archive, c.folder), c.command);
  }
}

class CoreManagerTest : public ScratchHostTest {
 protected:
  // The core told to run with its configuration file: "<xray.exe>" run -c
  // "<config.json>", both in the core folder.
  std::wstring StartCall() const {
#ifdef _WIN32
    const std::wstring core = folder_.wstring() + L"\\xray\\";
#else  // Where the portable logic is exercised, paths have slashes.
    const std::wstring core = folder_.wstring() + L"/xray/";
#endif
    return L"StartHiddenProcess \"" + core + L"xray.exe\" run -c \"" + core +
           L"config.json\"";
  }
  std::wstring ListCall() const {
    return L"ProcessesWithImage " + (core_ / "xray.exe").wstring();
  }

  CoreManager manager_{platform_};
};

TEST_F(CoreManagerTest, ShippedCoreIsCopiedOnlyWhereNoneIs) {
  EXPECT_TRUE(manager_.CheckXrayInstalled());
  EXPECT_EQ(FileText(core_ / "xray.exe"), "shipped core");
  EXPECT_EQ(ReadXrayVersion(manager_.layout()), "bundled");
  std::ofstream(core_ / "xray.exe") << "downloaded core";
  WriteXrayVersion(manager_.layout(), "latest");
  EXPECT_TRUE(manager_.InstallShippedXray());
  EXPECT_TRUE(manager_.CheckXrayInstalled());
  EXPECT_EQ(FileText(core_ / "xray.exe"), "downloaded core");
  EXPECT_EQ(ReadXrayVersion(manager_.layout()), "latest");

  platform_.copyFails = true;
  fs::remove(core_ / "xray.exe");
  EXPECT_FALSE(manager_.InstallShippedXray());
  fs::remove(shipped_);  // The source is tested first.
  std::ofstream(core_ / "xray.exe") << "downloaded core";
  EXPECT_FALSE(manager_.InstallShippedXray());
  EXPECT_THAT(manager_.log().LogSnapshot(),
              ElementsAre(kInstalled, kCopyFailed, kShippedMissing));
  EXPECT_THAT(platform_.calls,
              ElementsAre(L"CopyOneFile xray.exe", L"CopyOneFile xray.exe"));
}

// A start that fails says why and leaves no core recorded and the last port
// as it was. Having ended no core, it leaves a live proxy alone; a dead one
// of the host's own goes off before the start's own line, since it would
// otherwise cut the user off until the next connect and disconnect.
TEST_F(CoreManagerTest, FailedStartsThatEndNoCoreSwitchOffOnlyADeadProxy) {
  const struct {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
    std::vector<std::string> lines;
  } cases[] = {
      {"no core, none shipped",
       [&](FakePlatform&) {
         fs::remove(core_ / "xray.exe");
         fs::remove(shipped_);
       },
       {kShippedMissing, kNotReady}},
      {"configuration unwritable",
       [&](FakePlatform&) { fs::create_directories(core_ / "config.json"); },
       {kStartFailed}},
      {"process not created",
       [](FakePlatform& p) { p.startFails = true; },
       {kStartFailed}},
      {"ended within 1200 ms",
       [](FakePlatform& p) { p.exitCode = 1; },
       {kDiedAtOnce}},
      {"exit code unknown",
       [](FakePlatform& p) { p.exitCodeFails = true; },
       {kDiedAtOnce}},
  };
  for (const auto& c : cases) {
    for (const bool live : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (live ? ", live" : ", dead"));
      FakePlatform platform;
      platform.moduleFileName = platform_.moduleFileName;
      platform.SetProxy(1, "socks=127.0.0.1:2080");
      if (live) platform.listeners = {{false, {127, 0, 0, 1}, 2080}};
      fs::remove_all(core_);
      fs::create_directories(core_);
      std::ofstream(core_ / "xray.exe") << "core";
      c.arrange(platform);
      CoreManager manager(platform);
      manager.process().lastLocalPort = 3000;
      EXPECT_FALSE(manager.StartXray("{}", true, 4000));
      std::vector<std::string> lines = c.lines;
      if (!live) lines.insert(lines.end() - 1, kProxyOff);
      EXPECT_THAT(manager.log().LogSnapshot(), ElementsAreArray(lines));
      EXPECT_EQ(manager.process().processHandle, nullptr);
      EXPECT_EQ(manager.process().lastLocalPort, 3000);
      EXPECT_EQ(platform.ProxyEnabled(), live ? 1 : 0);
    }
  }
}

// A restart ends the running core once the new configuration is written, a
// stop ends it too; either waits for it, at most 2 s. A restart that ended
// the core and then fails switches the proxy off: left on, it would send the
// user's traffic to a port nobody serves.
TEST_F(CoreManagerTest, ARestartOrAStopEndsTheRunningCore) {
  ASSERT_TRUE(manager_.StartXray("{}", false, 2080));
  platform_.calls.clear();
  ASSERT_TRUE(manager_.StartXray("{}", true, 3000));
  EXPECT_THAT(Calls(platform_.calls.begin(), platform_.calls.begin() + 5),
              ElementsAre(L"Terminate 0 #1", L"Wait 2000 #1",
                          L"CloseProcess #1", ListCall(), StartCall()));
  EXPECT_EQ(manager_.process().lastLocalPort, 3000);
  // A configuration that cannot be written keeps the running core, and the
  // proxy that it serves.
  platform_.listeners = {{false, {127, 0, 0, 1}, 3000}};
  fs::remove(core_ / "config.json");
  fs::create_directories(core_ / "config.json");
  platform_.calls.clear();
  EXPECT_FALSE(manager_.StartXray("{}", true, 4000));
  EXPECT_THAT(platform_.calls,
              ElementsAre(L"ReadValue ProxyEnable", L"ReadValue ProxyServer",
                          L"ListeningTcpSockets"));
  manager_.OnSessionEnding();  // Switches the proxy off; the core stays.
  EXPECT_NE(manager_.process().processHandle, nullptr);
  platform_.calls.clear();
  manager_.StopXray();
  manager_.StopXray();
  manager_.OnSessionEnding();  // No core: nothing to do.
  // The proxy's own calls around its value, and the sign-in value's, are
  // other tests'.
  Calls calls;
  std::copy_if(platform_.calls.begin(), platform_.calls.end(),
               std::back_inserter(calls), [](const std::wstring& call) {
                 return call.find(L"Key") == std::wstring::npos &&
                        call.find(L"Notify") == std::wstring::npos &&
                        call.find(L"DeleteValue") == std::wstring::npos;
               });
  EXPECT_THAT(
      calls, ElementsAre(L"Terminate 0 #2", L"Wait 2000 #2", L"CloseProcess #2",
                         ListCall(), L"SetDword ProxyEnable 0", ListCall(),
                         L"SetDword ProxyEnable 0"));
  fs::remove(core_ / "config.json");
  ASSERT_TRUE(manager_.StartXray("{}", true, 5000));
  platform_.startFails = true;
  EXPECT_FALSE(manager_.StartXray("{}", true, 5000));
  platform_.startFails = false;
  ASSERT_TRUE(manager_.StartXray("{}", true, 5000));
  platform_.exitCode = 1;
  EXPECT_FALSE(manager_.StartXray("{}", true, 5000));
  EXPECT_EQ(manager_.process().processHandle, nullptr);
  EXPECT_THAT(manager_.log().LogSnapshot(),
              ElementsAreArray(std::vector<std::string>{
                  kInstalled, kProxyOff, kStarted, kProxyOn, kStarted,
                  kStartFailed, kProxyOff, kProxyOff, kStopped, kProxyOff,
                  kStopped, kProxyOn, kStarted, kProxyOff, kStartFailed,
                  kProxyOn, kStarted, kProxyOff, kDiedAtOnce}));
}

// A start writes the configuration with CRLF line ends, runs the core and
// then points the proxy at it. Cores left running from this core folder by an
// earlier run of the host are ended by a start and by a stop, each waited for
// like the recorded one; whatever their search meets, each call gives its one
// answer and its usual lines.
TEST_F(CoreManagerTest, CoresOfAnEarlierHostAreEndedByStartAndStop) {
  const Calls endOne = {L"Terminate 0 leftover1", L"Wait 2000 leftover1",
                        L"CloseProcess leftover1"};
  const Calls endTwo = {L"Terminate 0 leftover1",  L"Wait 2000 leftover1",
                        L"Terminate 0 leftover2",  L"Wait 2000 leftover2",
                        L"CloseProcess leftover1", L"CloseProcess leftover2"};
  const struct {
    const char* name;
    int leftovers;
    bool listFails, endFails;
    uint32_t newCoreExit;
    Calls ended;
    std::vector<std::string> startLines;
  } cases[] = {
      {"none left", 0, false, false, 259, {}, {kProxyOn, kStarted}},
      {"two left", 2, false, false, 259, endTwo, {kProxyOn, kStarted}},
      {"list unreadable", 2, true, false, 259, {}, {kProxyOn, kStarted}},
      {"ending fails", 1, false, true, 259, endOne, {kProxyOn, kStarted}},
      // Only a leftover was ended: the dead-proxy rule, with no proxy on.
      {"dies at once", 1, false, false, 1, endOne, {kDiedAtOnce}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform platform;
    platform.moduleFileName = platform_.moduleFileName;
    platform.leftoverCores = c.leftovers;
    platform.listFails = c.listFails;
    platform.endFails = c.endFails;
    platform.exitCode = c.newCoreExit;
    CoreManager manager(platform);
    // A privileged port is no local port: the default is used.
    EXPECT_EQ(manager.StartXray("{\n}", true, 80), c.newCoreExit == 259);
    EXPECT_EQ(FileText(core_ / "config.json"), "{\r\n}");
    const bool running = manager.process().processHandle != nullptr;
    EXPECT_EQ(manager.process().lastLocalPort, 10808);
    // The connection is marked wanted before anything else happens.
    Calls expected = {L"CreateNamedMutex Local\\ZorvaneConnectionWanted-100",
                      L"CopyOneFile xray.exe", ListCall()};
    expected.insert(expected.end(), c.ended.begin(), c.ended.end());
    // Only a core still running 1200 ms after its start counts as started.
    expected.insert(expected.end(),
                    {StartCall(), L"Sleep 1200", L"ExitCode #1"});
    EXPECT_THAT(
        Calls(platform.calls.begin(), platform.calls.begin() + expected.size()),
        ElementsAreArray(expected));
    platform.calls.clear();
    manager.StopXray();
    expected = running ? Calls{L"Terminate 0 #1", L"Wait 2000 #1",
                               L"CloseProcess #1", ListCall()}
                       : Calls{ListCall()};
    expected.insert(expected.end(), c.ended.begin(), c.ended.end());
    EXPECT_THAT(
        Calls(platform.calls.begin(), platform.calls.begin() + expected.size()),
        ElementsAreArray(expected));
    std::vector<std::string> lines = {kInstalled};
    lines.insert(lines.end(), c.startLines.begin(), c.startLines.end());
    lines.insert(lines.end(), {kProxyOff, kStopped});
    EXPECT_THAT(manager.log().LogSnapshot(), ElementsAreArray(lines));
    fs::remove_all(core_);
  }
}

// While another process wants a connection, its proxy and the cores in the
// folder are its own: no check switches the proxy off, and neither a start
// nor a stop ends a core this host did not record. This host's own mark,
// held from its start until its stop, stops neither, and its recorded core
// is always ended. Once the other lets go, the usual rules apply again.
TEST_F(CoreManagerTest, AnotherProcesssWantedConnectionIsLeftAlone) {
  const std::wstring mine = L"Local\\ZorvaneConnectionWanted-100";
  const std::wstring other = L"Local\\ZorvaneConnectionWanted-200";
  platform_.processIds = {4, 100, 200};
  platform_.mutexes[other] = 1;
  platform_.leftoverCores = 1;  // The other host's core, from this folder.
  platform_.SetProxy(1, "socks=127.0.0.1:2080");  // Nothing serves it.
  auto leftoversEnded = [&] {
    return std::count(platform_.calls.begin(), platform_.calls.end(),
                      L"Terminate 0 leftover1");
  };
  bool markedAtStart = false;
  platform_.onStart = [&](const std::wstring&) {
    markedAtStart = platform_.mutexes.count(mine) == 1;
  };

  manager_.SwitchOffDeadProxy();
  platform_.startFails = true;
  EXPECT_FALSE(manager_.StartXray("{}", true, 3000));
  EXPECT_EQ(platform_.ProxyEnabled(), 1);
  EXPECT_FALSE(platform_.mutexes.count(mine));
  platform_.startFails = false;
  ASSERT_TRUE(manager_.StartXray("{}", true, 3000));
  EXPECT_TRUE(markedAtStart);
  EXPECT_TRUE(platform_.mutexes.count(mine));
  ASSERT_TRUE(manager_.StartXray("{}", true, 3000));  // A restart.
  manager_.StopXray();
  EXPECT_FALSE(platform_.mutexes.count(mine));
  EXPECT_EQ(std::count(platform_.calls.begin(), platform_.calls.end(),
                       L"Terminate 0 #1"),
            1);
  EXPECT_EQ(leftoversEnded(), 0);

  platform_.mutexes.erase(other);
  platform_.SetProxy(1, "socks=127.0.0.1:2080");
  manager_.SwitchOffDeadProxy();
  EXPECT_EQ(platform_.ProxyEnabled(), 0);
  ASSERT_TRUE(manager_.StartXray("{}", true, 3000));
  EXPECT_EQ(leftoversEnded(), 1);
  EXPECT_THAT(
      manager_.log().LogSnapshot(),
      ElementsAreArray(std::vector<std::string>{
          kInstalled, kStartFailed, kProxyOn, kStarted, kProxyOn, kStarted,
          kProxyOff, kStopped, kProxyOff, kProxyOn, kStarted}));
}

// The session's end and a failed restart switch off only a proxy of the
// host's own: the user may have switched on another program's since a start
// that left the proxy off. A failed restart takes only the one pointing at
// the core it ended.
TEST_F(CoreManagerTest, SessionEndAndFailedRestartKeepAForeignProxy) {
  const struct {
    const char* name;
    bool restart;
    std::string server;
    bool off;
  } cases[] = {
      {"session end, own", false, "socks=127.0.0.1:2080", true},
      {"session end, own on another port", false, "socks=127.0.0.1:4000", true},
      {"session end, another program's", false, "http=10.1.2.3:3128", false},
      {"failed restart, own", true, "socks=127.0.0.1:2080", true},
      {"failed restart, own on another port", true, "socks=127.0.0.1:4000",
       false},
      {"failed restart, another program's", true, "http=10.1.2.3:3128", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform platform;
    platform.moduleFileName = platform_.moduleFileName;
    CoreManager manager(platform);
    ASSERT_TRUE(manager.StartXray("{}", false, 2080));
    platform.SetProxy(1, c.server);
    if (c.restart) {
      platform.exitCode = 1;
      EXPECT_FALSE(manager.StartXray("{}", true, 2080));
    } else {
      manager.OnSessionEnding();
    }
    EXPECT_EQ(platform.ProxyEnabled(), c.off ? 0 : 1);
    EXPECT_TRUE(platform.mutexes.empty());
    fs::remove_all(core_);
  }
}

// The sign-in check is armed whenever the host switches its proxy on and
// disarmed whenever it switches it off, however it does; a switch that fails
// leaves the value as it was.
TEST_F(CoreManagerTest, TheSignInCheckIsArmedExactlyWhileTheProxyIsOn) {
  const std::wstring runOnce =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  auto armed = [&] {
    const auto& values = platform_.registry[runOnce];
    const auto value = values.find(L"ZorvaneProxyCheck");
    if (value == values.end()) return std::string("none");
    std::string text;
    for (size_t i = 0; i + 1 < value->second.data.size(); i += 2) {
      text += static_cast<char>(value->second.data[i]);
    }
    return text;
  };
  const std::string command =
      "\"" + (folder_ / "client.exe").string() + "\" --check-proxy" + '\0';
  ASSERT_TRUE(manager_.StartXray("{}", true, 2080));
  EXPECT_EQ(armed(), command);
  manager_.StopXray();
  EXPECT_EQ(armed(), "none");
  ASSERT_TRUE(manager_.SetSystemProxy(true, 2080));
  EXPECT_EQ(armed(), command);
  ASSERT_TRUE(manager_.StartXray("{}", false, 2080));
  EXPECT_EQ(armed(), "none");
  platform_.failing = L"ProxyServer";
  EXPECT_FALSE(manager_.SetSystemProxy(true, 2080));
  EXPECT_EQ(armed(), "none");
  platform_.failing.clear();
  ASSERT_TRUE(manager_.SetSystemProxy(true, 2080));
  platform_.failing = L"ProxyEnable";
  EXPECT_FALSE(manager_.SetSystemProxy(false, 2080));
  EXPECT_EQ(armed(), command);
  platform_.failing.clear();
  // The host's own check: a live proxy keeps it, a dead one takes it away.
  platform_.listeners = {{false, {0, 0, 0, 0}, 2080}};
  manager_.SwitchOffDeadProxy();
  EXPECT_EQ(armed(), command);
  platform_.listeners.clear();
  manager_.SwitchOffDeadProxy();
  EXPECT_EQ(armed(), "none");
  ASSERT_TRUE(manager_.SetSystemProxy(true, 2080));
  manager_.OnSessionEnding();  // The core it recorded runs.
  EXPECT_EQ(armed(), "none");
}

TEST_F(CoreManagerTest, DownloadReportsEachOutcomeOnce) {
  const fs::path extracted = core_ / "downloaded";
  const struct {
    long download;
    uint32_t extractionExit;
    bool extractionHangs;     // Never ends, nor lets itself be ended.
    const char* extractedAs;  // Where the extraction puts the new core.
    bool copyFails;
    std::string line;
    const char* installed;
  } cases[] = {
      {-2146697211, 0, false, "xray.exe", false, kDownloadFailed, "old"},
      {0, 1, false, "xray.exe", false, kExtractFailed, "old"},
      {0, 0, true, "xray.exe", false, kExtractFailed, "old"},
      {1, 0, false, "bin/xray.exe", false, kNoXrayExe, "old"},
      {0, 0, false, "xray.exe", true, kReplaceFailed, "old"},
      {0, 0, false, "xray.exe", false, kDone, "new"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fs::create_directories(extracted);
    std::ofstream(extracted / "stale.txt") << "from the last download";
    std::ofstream(core_ / "xray.exe") << "old";
    platform_.calls.clear();
    platform_.downloadResult = c.download;
    platform_.exitCode = c.extractionExit;
    platform_.endFails = c.extractionHangs;
    platform_.copyFails = c.copyFails;
    bool staleGone = false;
    platform_.onStart = [&](const std::wstring&) {
      staleGone = !fs::exists(extracted / "stale.txt");
      fs::create_directories((extracted / c.extractedAs).parent_path());
      std::ofstream(extracted / c.extractedAs) << "new";
    };
    const size_t before = manager_.log().LogSnapshot().size();
    EXPECT_EQ(manager_.DownloadXray(L"http://127.0.0.1/x.zip"),
              c.line == kDone);
    EXPECT_EQ(manager_.log().LogSnapshot().size(), before + 1);
    EXPECT_EQ(manager_.log().LogSnapshot().back(), c.line);
    EXPECT_EQ(FileText(core_ / "xray.exe"), c.installed);
    const Calls& calls = platform_.calls;
    EXPECT_EQ(calls.front(), L"DownloadToFile http://127.0.0.1/x.zip");
    if (c.download < 0) {
      EXPECT_EQ(calls.size(), 1u);
      continue;
    }
    // Only the system's own PowerShell runs, never one the search would
    // find first in the host's or the current folder. Its command line is
    // checked where PowerShell reads it.
    EXPECT_EQ(calls[1].rfind(L"StartHiddenProcess [C:\\Windows\\system32\\"
                             L"WindowsPowerShell\\v1.0\\powershell.exe] "
                             L"powershell.exe -NoProfile ",
                             0),
              0u)
        << calls[1];
    EXPECT_TRUE(staleGone);
    EXPECT_EQ(FileText(core_ / "xray.zip"), "PK");
    // Waited for at most 10 minutes; one still running then is ended and
    // waited for 2 s more.
    const std::wstring process =
        L" #" + std::to_wstring(platform_.processesStarted);
    EXPECT_EQ(calls[2], L"Wait 600000" + process);
    EXPECT_EQ(calls[3].rfind(L"Terminate ", 0) == 0, c.extractionHangs);
    if (c.extractionHangs) {
      EXPECT_EQ(calls[3].substr(calls[3].size() - process.size()), process);
      EXPECT_EQ(calls[4], L"Wait 2000" + process);
    }
  }
  EXPECT_EQ(ReadXrayVersion(manager_.layout()), "نامشخص");
  // Without the system folder there is no PowerShell to trust.
  platform_.systemDirectory.clear();
  const int started = platform_.processesStarted;
  EXPECT_FALSE(manager_.DownloadXray(L"http://127.0.0.1/x.zip"));
  EXPECT_EQ(manager_.log().LogSnapshot().back(), kExtractFailed);
  EXPECT_EQ(platform_.processesStarted, started);
}

}  // namespace
}  // namespace core
