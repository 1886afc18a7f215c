// The channel's method table through a recording result: which operation
// each call reaches, with which arguments, and the one answer it gets.

#include "core/xray_channel_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/tests/fake_platform.h"
#include "core/tests/scratch_host.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;

// Short text forms of the values the channel answers with.
std::string Describe(const EncodableValue& value) {
  if (value.IsNull()) return "null";
  if (const auto* flag = std::get_if<bool>(&value)) {
    return *flag ? "true" : "false";
  }
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<double>(&value)) {
    std::ostringstream out;
    out << *number;
    return out.str();
  }
  std::string described = "[";
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    for (const EncodableValue& item : *list) described += Describe(item) + ";";
  } else if (const auto* map = std::get_if<EncodableMap>(&value)) {
    for (const auto& [key, item] : *map) {
      described += Describe(key) + "=" + Describe(item) + ";";
    }
  } else {
    described += "?";
  }
  return described + "]";
}

// Appends each answer it is given to `answers`.
class RecordingResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit RecordingResult(std::vector<std::string>& answers)
      : answers_(answers) {}

 protected:
  void SuccessInternal(const EncodableValue* value) override {
    answers_.push_back("success " + (value ? Describe(*value) : "none"));
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    answers_.push_back("error " + code + " / " + message +
                       (details ? " with details" : ""));
  }
  void NotImplementedInternal() override {
    answers_.push_back("not implemented");
  }

 private:
  std::vector<std::string>& answers_;
};

class XrayChannelHandlerTest : public ScratchHostTest {
 protected:
  XrayChannelHandlerTest() { PlaceShippedCore("core"); }

  // The one answer to `method`, or every answer when there is not one.
  std::string Call(const std::string& method,
                   std::unique_ptr<EncodableValue> arguments = nullptr) {
    std::vector<std::string> answers;
    const XrayChannelHandler handler(manager_);
    handler(MethodCall<EncodableValue>(method, std::move(arguments)),
            std::make_unique<RecordingResult>(answers));
    if (answers.size() == 1) return answers[0];
    std::string all = std::to_string(answers.size()) + " answers:";
    for (const std::string& answer : answers) all += " " + answer;
    return all;
  }
  std::string Call(const std::string& method, EncodableMap arguments) {
    return Call(method, std::make_unique<EncodableValue>(std::move(arguments)));
  }

  // The registry writes the last call made, in one line.
  std::wstring ProxyWrites() const {
    std::wstring writes;
    for (const std::wstring& call : platform_.calls) {
      if (call.rfind(L"Set", 0) == 0) writes += call + L"; ";
    }
    return writes;
  }

  CoreManager manager_{platform_};
};

EncodableValue Text(const char* text) { return EncodableValue(text); }

TEST_F(XrayChannelHandlerTest, StartTakesEachArgumentOnlyWithItsExactType) {
  const std::wstring on = L"SetDword ProxyEnable 1; SetString ProxyServer ";
  struct {
    std::unique_ptr<EncodableValue> arguments;
    std::string config;
    std::wstring writes;
  } cases[] = {
      {nullptr, "{}", on + L"socks=127.0.0.1:10808; " + L"SetString "},
      {std::make_unique<EncodableValue>(EncodableList{Text("config")}), "{}",
       on + L"socks=127.0.0.1:10808; SetString "},
      {std::make_unique<EncodableValue>(
           EncodableMap{{Text("config"), Text("{\"log\":1}")},
                        {Text("systemProxy"), EncodableValue(false)}}),
       "{\"log\":1}", L"SetDword ProxyEnable 0; "},
      {std::make_unique<EncodableValue>(
           EncodableMap{{Text("config"), EncodableValue(5)},
                        {Text("localPort"), EncodableValue(2080)}}),
       "{}", on + L"socks=127.0.0.1:2080; SetString "},
      {std::make_unique<EncodableValue>(
           EncodableMap{{Text("config"), Text("")},
                        {Text("systemProxy"), Text("false")},
                        {Text("localPort"), EncodableValue(int64_t{2080})}}),
       "", on + L"socks=127.0.0.1:10808; SetString "},
  };
  for (auto& c : cases) {
    platform_.calls.clear();
    EXPECT_EQ(Call("startXray", std::move(c.arguments)), "success none");
    EXPECT_EQ(FileText(core_ / "config.json"), c.config);
    EXPECT_EQ(ProxyWrites().substr(0, c.writes.size()), c.writes);
  }
  platform_.exitCode = 1;
  EXPECT_EQ(Call("startXray"), "error start_failed / start failed");
}

TEST_F(XrayChannelHandlerTest, ProxyPortIsNormalisedAndRememberedFirst) {
  const auto Args = [](EncodableMap map) { return map; };
  const struct {
    EncodableMap arguments;
    std::wstring writes;
    int32_t lastPort;
  } cases[] = {
      {Args({{Text("enabled"), EncodableValue(true)},
             {Text("localPort"), EncodableValue(65536)}}),
       L"SetDword ProxyEnable 1; SetString ProxyServer socks=127.0.0.1:10808; ",
       10808},
      {Args({{Text("enabled"), EncodableValue(true)},
             {Text("localPort"), EncodableValue(1024)}}),
       L"SetDword ProxyEnable 1; SetString ProxyServer socks=127.0.0.1:1024; ",
       1024},
      {Args({{Text("enabled"), EncodableValue(true)},
             {Text("localPort"), EncodableValue(2080)}}),
       L"SetDword ProxyEnable 1; SetString ProxyServer socks=127.0.0.1:2080; ",
       2080},
      // The last port is the default of the next call.
      {Args({{Text("enabled"), EncodableValue(true)}}),
       L"SetDword ProxyEnable 1; SetString ProxyServer socks=127.0.0.1:2080; ",
       2080},
      {Args({{Text("enabled"), Text("true")},
             {Text("localPort"), EncodableValue(1023)}}),
       L"SetDword ProxyEnable 0; ", 10808},
      {Args({}), L"SetDword ProxyEnable 0; ", 10808},
  };
  for (const auto& c : cases) {
    platform_.calls.clear();
    EXPECT_EQ(Call("setSystemProxy", c.arguments), "success none");
    EXPECT_EQ(ProxyWrites().substr(0, c.writes.size()), c.writes);
    EXPECT_EQ(manager_.process().lastLocalPort, c.lastPort);
  }
  platform_.failing = L"ProxyEnable";
  EXPECT_EQ(Call("setSystemProxy",
                 EncodableMap{{Text("localPort"), EncodableValue(3000)}}),
            "error proxy_failed / proxy update failed");
  EXPECT_EQ(manager_.process().lastLocalPort, 3000);
}

TEST_F(XrayChannelHandlerTest, EveryOtherMethodAnswersOnceAsItsRowSays) {
  platform_.downloadResult = -1;
  const struct {
    const char* method;
    std::string answer;
  } rows[] = {
      {"getXrayVersion", "success نامشخص"},
      {"getLogs", "success []"},
      {"checkXrayInstalled", "success true"},
      {"getXrayVersion", "success bundled"},
      {"downloadXray", "error download_failed / download failed"},
      {"updateXray", "error update_failed / update failed"},
      {"getXrayVersion", "success bundled"},
      {"stopXray", "success none"},
      {"getTrafficStats", "success [downKbps=0;upKbps=0;]"},
      {"getLogs",
       "success [Xray پیش فرض نصب شد;دانلود فایل Xray ناموفق بود;"
       "دانلود فایل Xray ناموفق بود;پراکسی سیستم غیرفعال شد;Xray متوقف شد;]"},
      {"GetLogs", "not implemented"},
      {"getlogs", "not implemented"},
      {"getLogs ", "not implemented"},
      {"", "not implemented"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Call(row.method), row.answer) << row.method;
  }
  platform_.downloadResult = 0;
  platform_.exitCode = 0;
  platform_.onStart = [&](const std::wstring&) {
    std::ofstream(folder_ / "xray" / "downloaded" / "xray.exe") << "new";
  };
  EXPECT_EQ(Call("updateXray"), "success none");
  EXPECT_EQ(Call("getXrayVersion"), "success latest");
}

// Every method under every fault the platform can show answers exactly once,
// and no process handle is left open but the running core's.
TEST_F(XrayChannelHandlerTest, EveryMethodUnderEveryFaultAnswersOnce) {
  const std::function<void(FakePlatform&)> faults[] = {
      [](FakePlatform&) {},
      [](FakePlatform& p) { p.startFails = true; },
      [](FakePlatform& p) { p.exitCode = 1; },
      [](FakePlatform& p) { p.exitCodeFails = true; },
      [](FakePlatform& p) { p.downloadResult = -1; },
      [](FakePlatform& p) { p.copyFails = true; },
      [](FakePlatform& p) {
        p.failing = L"ProxyServer";
        p.sizeResult = 5;
      },
      [&](FakePlatform& p) {  // A file where the core folder belongs.
        p.moduleFileName = (folder_ / "blocked" / "client.exe").wstring();
      },
  };
  fs::create_directories(folder_ / "blocked");
  std::ofstream(folder_ / "blocked" / "xray") << "not a folder";
  const char* const methods[] = {
      "checkXrayInstalled", "downloadXray",    "updateXray",
      "getXrayVersion",     "startXray",       "setSystemProxy",
      "startXray",          "stopXray",        "getLogs",
      "getTrafficStats",    "getTrafficStats", "noSuchMethod"};
  for (const auto& fault : faults) {
    FakePlatform platform;
    platform.moduleFileName = platform_.moduleFileName;
    fault(platform);
    CoreManager manager(platform);
    const XrayChannelHandler handler(manager);
    for (const char* method : methods) {
      std::vector<std::string> answers;
      handler(MethodCall<EncodableValue>(
                  method, std::make_unique<EncodableValue>(EncodableMap{
                              {Text("enabled"), EncodableValue(true)}})),
              std::make_unique<RecordingResult>(answers));
      EXPECT_EQ(answers.size(), 1u) << method;
      EXPECT_EQ(platform.processHandlesOpen,
                manager.process().processHandle ? 1 : 0)
          << method;
    }
  }
}

TEST_F(XrayChannelHandlerTest, AnUnreachableCoreFolderStillGetsAnswers) {
  std::ofstream(folder_ / "xray") << "a file where the folder belongs";
  EXPECT_EQ(Call("checkXrayInstalled"), "success false");
  EXPECT_EQ(Call("getXrayVersion"), "success نامشخص");
  EXPECT_EQ(Call("startXray"), "error start_failed / start failed");
  EXPECT_EQ(Call("downloadXray"), "error download_failed / download failed");
  EXPECT_THAT(manager_.log().LogSnapshot(),
              ::testing::ElementsAre("کپی Xray پیش فرض ناموفق بود",
                                     "Xray برای اجرا آماده نیست",
                                     "دانلود فایل Xray ناموفق بود"));
  EXPECT_EQ(platform_.processesStarted, 0);
}

}  // namespace
}  // namespace core
