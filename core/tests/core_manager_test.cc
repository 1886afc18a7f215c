// The core's life cycle through the fake platform, on a real scratch folder:
// installing, starting, stopping and downloading, faults included.

#include "core/core_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/log_lines.h"
#include "core/tests/fake_platform.h"
#include "core/tests/scratch_host.h"
#include "core/version_file.h"
#include "testing/hex.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;
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

// Every status line, byte for byte as the user interface receives it.
TEST(LogLinesTest, EachLineIsTheUsersTextInUtf8) {
  const struct {
    const char* line;
    const char* hex;
  } cases[] = {
      {kLogNotReadyToRun,
       "58 72 61 79 20 D8 A8 D8 B1 D8 A7 DB 8C 20 D8 A7 D8 AC "
       "D8 B1 D8 A7 20 D8 A2 D9 85 D8 A7 D8 AF D9 87 20 D9 86 "
       "DB 8C D8 B3 D8 AA"},
      {kLogXrayExeNotFound,
       "D9 81 D8 A7 DB 8C D9 84 20 78 72 61 79 2E 65 78 65 20 "
       "DB 8C D8 A7 D9 81 D8 AA 20 D9 86 D8 B4 D8 AF"},
      {kLogStartFailed,
       "D8 A7 D8 AC D8 B1 D8 A7 DB 8C 20 58 72 61 79 20 D9 86 "
       "D8 A7 D9 85 D9 88 D9 81 D9 82 20 D8 A8 D9 88 D8 AF"},
      {kLogStoppedRightAfterStart,
       "58 72 61 79 20 D8 A8 D9 84 D8 A7 D9 81 D8 A7 D8 B5 D9 "
       "84 D9 87 20 D9 BE D8 B3 20 D8 A7 D8 B2 20 D8 A7 D8 AC "
       "D8 B1 D8 A7 20 D9 85 D8 AA D9 88 D9 82 D9 81 20 D8 B4 "
       "D8 AF"},
      {kLogStarted,
       "58 72 61 79 20 D8 AF D8 B1 20 D9 88 DB 8C D9 86 D8 AF "
       "D9 88 D8 B2 20 D8 A7 D8 AC D8 B1 D8 A7 20 D8 B4 D8 AF"},
      {kLogStopped,
       "58 72 61 79 20 D9 85 D8 AA D9 88 D9 82 D9 81 20 D8 B4 "
       "D8 AF"},
      {kLogShippedXrayMissing,
       "58 72 61 79 20 D9 BE DB 8C D8 B4 20 D9 81 D8 B1 D8 B6 "
       "20 D8 AF D8 A7 D8 AE D9 84 20 D8 A8 D8 B1 D9 86 D8 A7 "
       "D9 85 D9 87 20 DB 8C D8 A7 D9 81 D8 AA 20 D9 86 D8 B4 "
       "D8 AF"},
      {kLogShippedCopyFailed,
       "DA A9 D9 BE DB 8C 20 58 72 61 79 20 D9 BE DB 8C D8 B4 "
       "20 D9 81 D8 B1 D8 B6 20 D9 86 D8 A7 D9 85 D9 88 D9 81 "
       "D9 82 20 D8 A8 D9 88 D8 AF"},
      {kLogShippedInstalled,
       "58 72 61 79 20 D9 BE DB 8C D8 B4 20 D9 81 D8 B1 D8 B6 "
       "20 D9 86 D8 B5 D8 A8 20 D8 B4 D8 AF"},
      {kLogDownloadFailed,
       "D8 AF D8 A7 D9 86 D9 84 D9 88 D8 AF 20 D9 81 D8 A7 DB "
       "8C D9 84 20 58 72 61 79 20 D9 86 D8 A7 D9 85 D9 88 D9 "
       "81 D9 82 20 D8 A8 D9 88 D8 AF"},
      {kLogExtractionFailed,
       "D8 A7 D8 B3 D8 AA D8 AE D8 B1 D8 A7 D8 AC 20 D9 81 D8 "
       "A7 DB 8C D9 84 20 58 72 61 79 20 D9 86 D8 A7 D9 85 D9 "
       "88 D9 81 D9 82 20 D8 A8 D9 88 D8 AF"},
      {kLogDownloadHasNoXrayExe,
       "D9 81 D8 A7 DB 8C D9 84 20 78 72 61 79 2E 65 78 65 20 "
       "D8 AF D8 B1 20 D8 A8 D8 B3 D8 AA D9 87 20 D8 AF D8 A7 "
       "D9 86 D9 84 D9 88 D8 AF DB 8C 20 DB 8C D8 A7 D9 81 D8 "
       "AA 20 D9 86 D8 B4 D8 AF"},
      {kLogReplaceFailed,
       "D8 AC D8 A7 DB 8C DA AF D8 B2 DB 8C D9 86 DB 8C 20 58 "
       "72 61 79 20 D8 AF D8 A7 D9 86 D9 84 D9 88 D8 AF DB 8C "
       "20 D9 86 D8 A7 D9 85 D9 88 D9 81 D9 82 20 D8 A8 D9 88 "
       "D8 AF"},
      {kLogDownloadInstalled,
       "D8 AF D8 A7 D9 86 D9 84 D9 88 D8 AF 20 D9 88 20 D9 86 "
       "D8 B5 D8 A8 20 58 72 61 79 20 DA A9 D8 A7 D9 85 D9 84 "
       "20 D8 B4 D8 AF"},
      {kLogProxyKeyFailed,
       "D8 AA D9 86 D8 B8 DB 8C D9 85 20 D9 BE D8 B1 D8 A7 DA "
       "A9 D8 B3 DB 8C 20 D8 B3 DB 8C D8 B3 D8 AA D9 85 20 D9 "
       "86 D8 A7 D9 85 D9 88 D9 81 D9 82 20 D8 A8 D9 88 D8 AF"},
      {kLogProxyWriteFailed,
       "D8 A7 D8 B9 D9 85 D8 A7 D9 84 20 D9 BE D8 B1 D8 A7 DA "
       "A9 D8 B3 DB 8C 20 D8 B3 DB 8C D8 B3 D8 AA D9 85 20 D9 "
       "86 D8 A7 D9 85 D9 88 D9 81 D9 82 20 D8 A8 D9 88 D8 AF"},
      {kLogProxyEnabled,
       "D9 BE D8 B1 D8 A7 DA A9 D8 B3 DB 8C 20 D8 B3 DB 8C D8 "
       "B3 D8 AA D9 85 20 D9 81 D8 B9 D8 A7 D9 84 20 D8 B4 D8 "
       "AF"},
      {kLogProxyDisabled,
       "D9 BE D8 B1 D8 A7 DA A9 D8 B3 DB 8C 20 D8 B3 DB 8C D8 "
       "B3 D8 AA D9 85 20 D8 BA DB 8C D8 B1 D9 81 D8 B9 D8 A7 "
       "D9 84 20 D8 B4 D8 AF"},
  };
  for (const auto& c : cases) {
    const std::string line = c.line;
    EXPECT_EQ(std::vector<uint8_t>(line.begin(), line.end()),
              testing_support::Hex(c.hex));
  }
}

TEST(CommandLineTest, PathsAreQuotedAsEachProgramReadsThem) {
  EXPECT_EQ(CoreCommandLine(L"C:\\Apps\\Client\\xray\\xray.exe",
                            L"C:\\Apps\\Client\\xray\\config.json"),
            L"\"C:\\Apps\\Client\\xray\\xray.exe\" run -c "
            L"\"C:\\Apps\\Client\\xray\\config.json\"");
  const struct {
    std::wstring archive, folder, command;
  } cases[] = {
      {L"A", L"B",
       L"powershell.exe -NoProfile -ExecutionPolicy Bypass -Command "
       L"\"Expand-Archive -Path 'A' -DestinationPath 'B' -Force\""},
      // Every quote PowerShell ends a literal at is doubled.
      {L"C:\\O'Neil\\x.zip", L"C:\\\u2018a\u2019\u201A\u201B",
       L"powershell.exe -NoProfile -ExecutionPolicy Bypass -Command "
       L"\"Expand-Archive -Path 'C:\\O''Neil\\x.zip' -DestinationPath "
       L"'C:\\\u2018\u2018a\u2019\u2019\u201A\u201A\u201B\u201B' -Force\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractionCommandLine(c.archive, c.folder), c.command);
  }
}

// A host whose shipped core is in place.
class CoreManagerTest : public ScratchHostTest {
 protected:
  CoreManagerTest() { PlaceShippedCore("shipped core"); }

  // Installs the core, then forgets what that left in the log and calls.
  void Install() {
    ASSERT_TRUE(manager_.InstallShippedXray());
    platform_.calls.clear();
    logged_ = manager_.log().LogSnapshot().size();
  }
  Lines NewLines() const {
    const Lines all = manager_.log().LogSnapshot();
    return Lines(all.begin() + static_cast<long>(logged_), all.end());
  }
  // The calls that act, without the module-name look-ups behind each path.
  Calls Actions() const {
    Calls actions;
    for (const std::wstring& call : platform_.calls) {
      if (call.rfind(L"ModuleFileName", 0) != 0) actions.push_back(call);
    }
    return actions;
  }
  std::wstring StartCall() const {
    return L"StartHiddenProcess " +
           CoreCommandLine((core_ / "xray.exe").wstring(),
                           (core_ / "config.json").wstring());
  }

  CoreManager manager_{platform_};
  size_t logged_ = 0;
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
  EXPECT_THAT(Actions(),
              ElementsAre(L"CopyOneFile xray.exe", L"CopyOneFile xray.exe"));
}

TEST_F(CoreManagerTest, StartRunsTheCoreThenPointsTheProxyAtIt) {
  EXPECT_TRUE(manager_.StartXray("{\n\"a\": 1\n}", true, 80));
  EXPECT_EQ(FileText(core_ / "config.json"), "{\r\n\"a\": 1\r\n}");
  EXPECT_EQ(manager_.process().lastLocalPort, 10808);
  EXPECT_THAT(NewLines(), ElementsAre(kInstalled, kProxyOn, kStarted));
  const Calls expected = {L"CopyOneFile xray.exe", StartCall(), L"Sleep 1200",
                          L"ExitCode #1"};
  const Calls actions = Actions();
  EXPECT_THAT(Calls(actions.begin(), actions.begin() + 4),
              ElementsAreArray(expected));
  EXPECT_EQ(actions[5], L"SetDword ProxyEnable 1");
  EXPECT_EQ(actions[6], L"SetString ProxyServer socks=127.0.0.1:10808");
}

TEST_F(CoreManagerTest, ACoreThatDiesAtOnceLeavesTheProxyAlone) {
  Install();
  manager_.process().lastLocalPort = 2080;
  for (bool queryFails : {false, true}) {
    platform_.exitCode = 1;
    platform_.exitCodeFails = queryFails;
    platform_.calls.clear();
    EXPECT_FALSE(manager_.StartXray("", false, 4000));
    EXPECT_EQ(FileText(core_ / "config.json"), "");
    EXPECT_EQ(manager_.process().processHandle, nullptr);
    EXPECT_EQ(manager_.process().lastLocalPort, 2080);
    EXPECT_EQ(Actions().back(),
              L"CloseProcess #" + std::to_wstring(queryFails ? 2 : 1));
  }
  EXPECT_THAT(NewLines(), ElementsAre(kDiedAtOnce, kDiedAtOnce));
}

TEST_F(CoreManagerTest, FailedStartsStartNothingAndSayWhy) {
  const struct {
    const char* name;
    std::function<void(const fs::path& core, FakePlatform&)> arrange;
    Lines lines;
  } cases[] = {
      {"no core, none shipped",
       [&](const fs::path& core, FakePlatform&) {
         fs::remove(core / "xray.exe");
         fs::remove(shipped_);
       },
       {kShippedMissing, kNotReady}},
      {"configuration unwritable",
       [](const fs::path& core, FakePlatform&) {
         fs::create_directories(core / "config.json");
       },
       {kStartFailed}},
      {"process not created",
       [](const fs::path&, FakePlatform& platform) {
         platform.startFails = true;
       },
       {kStartFailed}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform platform;
    platform.moduleFileName = platform_.moduleFileName;
    fs::remove_all(core_);
    fs::create_directories(core_);
    std::ofstream(core_ / "xray.exe") << "core";
    c.arrange(core_, platform);
    platform.calls.clear();
    CoreManager manager(platform);
    EXPECT_FALSE(manager.StartXray("{}", true, 2080));
    EXPECT_THAT(manager.log().LogSnapshot(), ElementsAreArray(c.lines));
    EXPECT_EQ(manager.process().lastLocalPort, 10808);
    for (const std::wstring& call : platform.calls) {
      EXPECT_EQ(call.find(L"Proxy"), std::wstring::npos) << call;
    }
  }
}

TEST_F(CoreManagerTest, ARestartEndsTheRunningCoreBeforeTheNewOneStarts) {
  Install();
  ASSERT_TRUE(manager_.StartXray("{}", false, 2080));
  platform_.calls.clear();
  ASSERT_TRUE(manager_.StartXray("{}", true, 3000));
  const Calls actions = Actions();
  EXPECT_THAT(Calls(actions.begin(), actions.begin() + 4),
              ElementsAre(L"Terminate 0 #1", L"Wait 2000 #1",
                          L"CloseProcess #1", StartCall()));
  EXPECT_EQ(manager_.process().lastLocalPort, 3000);

  // A configuration that cannot be written keeps the running core.
  fs::remove(core_ / "config.json");
  fs::create_directories(core_ / "config.json");
  platform_.calls.clear();
  EXPECT_FALSE(manager_.StartXray("{}", true, 4000));
  EXPECT_THAT(Actions(), IsEmpty());
  EXPECT_NE(manager_.process().processHandle, nullptr);
}

TEST_F(CoreManagerTest, StopEndsTheCoreWaitsForItAndSwitchesTheProxyOff) {
  Install();
  ASSERT_TRUE(manager_.StartXray("{}", true, 2080));
  manager_.OnSessionEnding();  // Switches the proxy off; the core stays.
  EXPECT_NE(manager_.process().processHandle, nullptr);
  platform_.calls.clear();
  manager_.StopXray();
  manager_.StopXray();
  manager_.OnSessionEnding();  // No core: nothing to do.
  const Calls proxyOff = {
      L"OpenCurrentUserKey "
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
      L"SetDword ProxyEnable 0", L"CloseKey", L"NotifyInternetOption 39",
      L"NotifyInternetOption 37"};
  Calls expected = {L"Terminate 0 #1", L"Wait 2000 #1", L"CloseProcess #1"};
  expected.insert(expected.end(), proxyOff.begin(), proxyOff.end());
  expected.insert(expected.end(), proxyOff.begin(), proxyOff.end());
  EXPECT_THAT(Actions(), ElementsAreArray(expected));
  EXPECT_THAT(NewLines(), ElementsAre(kProxyOn, kStarted, kProxyOff, kProxyOff,
                                      kStopped, kProxyOff, kStopped));
}

TEST_F(CoreManagerTest, DownloadReportsEachOutcomeOnce) {
  const std::string kDownloadFailed = "دانلود فایل Xray ناموفق بود";
  const std::string kExtractFailed = "استخراج فایل Xray ناموفق بود";
  const std::string kNoXrayExe = "فایل xray.exe در بسته دانلودی یافت نشد";
  const std::string kReplaceFailed = "جایگزینی Xray دانلودی ناموفق بود";
  const std::string kDone = "دانلود و نصب Xray کامل شد";
  const fs::path extracted = core_ / "downloaded";
  const struct {
    long download;
    uint32_t extractionExit;
    const char* extractedAs;  // Where the extraction puts the new core.
    bool copyFails;
    std::string line;
    const char* installed;
  } cases[] = {
      {-2146697211, 0, "xray.exe", false, kDownloadFailed, "old"},
      {0, 1, "xray.exe", false, kExtractFailed, "old"},
      {1, 0, "bin/xray.exe", false, kNoXrayExe, "old"},
      {0, 0, "xray.exe", true, kReplaceFailed, "old"},
      {0, 0, "xray.exe", false, kDone, "new"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fs::create_directories(extracted);
    std::ofstream(extracted / "stale.txt") << "from the last download";
    std::ofstream(core_ / "xray.exe") << "old";
    platform_.calls.clear();
    platform_.downloadResult = c.download;
    platform_.exitCode = c.extractionExit;
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
    EXPECT_EQ(Actions().front(), L"DownloadToFile http://127.0.0.1/x.zip");
    if (c.download < 0) {
      EXPECT_EQ(Actions().size(), 1u);
      continue;
    }
    EXPECT_TRUE(staleGone);
    EXPECT_EQ(FileText(core_ / "xray.zip"), "PK");
    EXPECT_EQ(Actions()[1],
              L"StartHiddenProcess " +
                  ExtractionCommandLine((core_ / "xray.zip").wstring(),
                                        extracted.wstring()));
    EXPECT_EQ(Actions()[2], L"Wait 4294967295 #" +
                                std::to_wstring(platform_.processesStarted));
  }
  EXPECT_EQ(ReadXrayVersion(manager_.layout()), "نامشخص");
}

}  // namespace
}  // namespace core
