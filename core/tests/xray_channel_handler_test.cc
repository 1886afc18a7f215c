// The channel's method table through a recording result: which operation
// each call reaches, with which arguments, and the one answer it gets; and
// the channel's reference page (docs/channel.md) held to those answers.

#include "core/xray_channel_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/tests/fake_platform.h"
#include "core/tests/scratch_host.h"

namespace core {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;

// Short text forms of the null, flags and texts the channel answers with.
std::string Describe(const EncodableValue* value) {
  if (!value || value->IsNull()) return "none";
  if (const auto* flag = std::get_if<bool>(value)) {
    return *flag ? "true" : "false";
  }
  const auto* text = std::get_if<std::string>(value);
  return text ? *text : "?";  // The rates and the log are the end-to-end's.
}

// The type of a success's value as the channel page names it.
std::string Kind(const EncodableValue* value) {
  if (!value || value->IsNull()) return "null";
  if (std::holds_alternative<bool>(*value)) return "bool";
  if (std::holds_alternative<std::string>(*value)) return "string";
  if (std::holds_alternative<EncodableList>(*value)) return "list";
  if (std::holds_alternative<EncodableMap>(*value)) return "map";
  return "other";
}

// Appends each answer it is given to `answers`, a success's value as
// `describe` gives it.
class RecordingResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit RecordingResult(
      std::vector<std::string>& answers,
      std::string (*describe)(const EncodableValue*) = Describe)
      : answers_(answers), describe_(describe) {}

 protected:
  void SuccessInternal(const EncodableValue* value) override {
    answers_.push_back("success " + describe_(value));
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
  std::string (*describe_)(const EncodableValue*);
};

EncodableValue Text(const char* text) { return EncodableValue(text); }

// A method as docs/channel.md gives it under its heading ### "NAME": the
// type of its "- Success:" line, its "- Error:" line (CODE / MESSAGE, or
// none) and the whole section, where each line it logs is quoted.
struct DocMethod {
  std::string success, error, section;
};

std::map<std::string, DocMethod> ReadChannelDoc() {
  std::map<std::string, DocMethod> methods;
  std::ifstream file(ZV_CHANNEL_DOC);
  DocMethod* method = nullptr;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind('#', 0) == 0) {
      const bool named = line.rfind("### \"", 0) == 0 && line.back() == '"';
      method = named ? &methods[line.substr(5, line.size() - 6)] : nullptr;
    }
    if (!method) continue;
    method->section += line + '\n';
    if (line.rfind("- Success: ", 0) == 0) {
      method->success = line.substr(
          11, line.find_first_not_of("abcdefghijklmnopqrstuvwxyz", 11) - 11);
    } else if (line.rfind("- Error: ", 0) == 0) {
      method->error = line.substr(9, line.find(';') - 9);
      method->error.erase(
          std::remove(method->error.begin(), method->error.end(), '"'),
          method->error.end());
    }
  }
  return methods;
}

class XrayChannelHandlerTest : public ScratchHostTest {
 protected:
  // The answer to `method`, which must be the only one.
  std::string Call(const std::string& method,
                   std::unique_ptr<EncodableValue> arguments = nullptr) {
    std::vector<std::string> answers;
    handler_(MethodCall<EncodableValue>(method, std::move(arguments)),
             std::make_unique<RecordingResult>(answers));
    EXPECT_EQ(answers.size(), 1u) << method;
    return answers.empty() ? "" : answers[0];
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
  const XrayChannelHandler handler_{manager_};
};

// Each argument counts only with its exact type; the proxy's port is
// normalised and remembered before the registry is written, and the last
// port is the default of the next call.
TEST_F(XrayChannelHandlerTest, ArgumentsCountOnlyWithTheirExactTypes) {
  const std::wstring on = L"SetDword ProxyEnable 1; SetString ProxyServer ";
  const auto Map = [](EncodableMap map) {
    return std::make_unique<EncodableValue>(std::move(map));
  };
  struct {
    const char* method;
    std::unique_ptr<EncodableValue> arguments;
    std::string config;  // of startXray
    std::wstring writes;
    int32_t lastPort;
  } cases[] = {
      {"startXray", std::make_unique<EncodableValue>(EncodableList{Text("c")}),
       "{}", on + L"socks=127.0.0.1:10808; ", 10808},
      {"startXray",
       Map({{Text("config"), Text("{\"log\":1}")},
            {Text("systemProxy"), EncodableValue(false)}}),
       "{\"log\":1}", L"SetDword ProxyEnable 0; ", 10808},
      {"startXray",
       Map({{Text("config"), Text("")},
            {Text("systemProxy"), Text("false")},
            {Text("localPort"), EncodableValue(int64_t{2080})}}),
       "", on + L"socks=127.0.0.1:10808; ", 10808},
      {"startXray",
       Map({{Text("config"), EncodableValue(5)},
            {Text("localPort"), EncodableValue(2080)}}),
       "{}", on + L"socks=127.0.0.1:2080; ", 2080},
      {"setSystemProxy", Map({{Text("enabled"), EncodableValue(true)}}), "",
       on + L"socks=127.0.0.1:2080; ", 2080},
      {"setSystemProxy",
       Map({{Text("enabled"), Text("true")},
            {Text("localPort"), EncodableValue(65536)}}),
       "", L"SetDword ProxyEnable 0; ", 10808},
  };
  for (auto& c : cases) {
    platform_.calls.clear();
    EXPECT_EQ(Call(c.method, std::move(c.arguments)), "success none");
    if (c.method == std::string("startXray")) {
      EXPECT_EQ(FileText(core_ / "config.json"), c.config);
    }
    EXPECT_EQ(ProxyWrites().substr(0, c.writes.size()), c.writes);
    EXPECT_EQ(manager_.process().lastLocalPort, c.lastPort);
  }
  platform_.failing = L"ProxyEnable";
  EXPECT_EQ(Call("setSystemProxy",
                 EncodableMap{{Text("localPort"), EncodableValue(3000)}}),
            "error proxy_failed / proxy update failed");
  EXPECT_EQ(manager_.process().lastLocalPort, 3000);
}

// What the end-to-end suite cannot reach; it checks every other answer.
TEST_F(XrayChannelHandlerTest, UpdatesAndUnknownNamesAnswerAsTheirRowsSay) {
  platform_.downloadResult = -1;
  const struct {
    const char* method;
    std::string answer;
  } rows[] = {
      {"checkXrayInstalled", "success true"},
      {"updateXray", "error update_failed / update failed"},
      {"getXrayVersion", "success bundled"},  // A failed update leaves it.
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
    std::ofstream(core_ / "downloaded" / "xray.exe") << "new";
  };
  EXPECT_EQ(Call("updateXray"), "success none");
  EXPECT_EQ(Call("getXrayVersion"), "success latest");
}

// The dispatcher fuzzer reaches the process and download faults; these are
// the ones it does not.
TEST_F(XrayChannelHandlerTest, EveryMethodUnderEveryFaultAnswersOnce) {
  const std::function<void(FakePlatform&)> faults[] = {
      [](FakePlatform&) {},
      [](FakePlatform& p) { p.exitCodeFails = true; },
      [](FakePlatform& p) {
        p.failing = L"ProxyServer";
        p.sizeResult = 5;
      },
  };
  const std::wstring host = platform_.moduleFileName;
  for (const auto& fault : faults) {
    platform_ = FakePlatform();
    platform_.moduleFileName = host;
    fault(platform_);
    for (const char* method :
         {"checkXrayInstalled", "downloadXray", "updateXray", "getXrayVersion",
          "startXray", "setSystemProxy", "startXray", "stopXray", "getLogs",
          "getTrafficStats", "getTrafficStats", "noSuchMethod"}) {
      Call(method, EncodableMap{{Text("enabled"), EncodableValue(true)}});
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

// The page names exactly the methods the dispatcher implements: of its own
// names, near misses of them and a grid of likely names (today's nine among
// them), those implemented are those with a section.
TEST_F(XrayChannelHandlerTest, TheChannelPageNamesEveryImplementedMethod) {
  const auto doc = ReadChannelDoc();
  ASSERT_FALSE(doc.empty()) << "no method in " << ZV_CHANNEL_DOC;
  std::set<std::string> names;
  for (const auto& [name, method] : doc) {
    names.insert(name);
    if (name.empty()) continue;
    std::string upper = name, lower = name;
    upper[0] = static_cast<char>(std::toupper(upper[0]));
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    names.insert({upper, lower, name + " ", name.substr(1)});
  }
  for (const char* verb :
       {"check", "download", "update", "get", "set", "start", "stop", "restart",
        "install", "remove", "clear", "read", "is"}) {
    for (const char* noun :
         {"Xray", "XrayInstalled", "XrayVersion", "XrayStatus", "SystemProxy",
          "Proxy", "TrafficStats", "Traffic", "Logs", "Log", "Version",
          "Status", "Config"}) {
      names.insert(std::string(verb) + noun);
    }
  }
  for (const std::string& name : names) {
    EXPECT_EQ(Call(name) != "not implemented", doc.count(name) == 1)
        << '"' << name << "\" implemented, or named in " << ZV_CHANNEL_DOC;
  }
}

// Each method of the page, on a fresh host whose platform works or fails in
// one of two ways, answers as its Success or Error line says, and every line
// it logs is quoted in its section.
TEST_F(XrayChannelHandlerTest, TheChannelPageGivesEachMethodsAnswersAndLines) {
  const struct {
    bool fails;
    std::function<void(FakePlatform&)> setUp;
  } hosts[] = {
      {false,
       [this](FakePlatform& p) {
         // The extraction leaves a core and exits with 0; a core runs on.
         p.onStart = [this, &p](const std::wstring& commandLine) {
           const bool extraction =
               commandLine.find(L"Expand-Archive") != std::wstring::npos;
           if (extraction) {
             std::ofstream(core_ / "downloaded" / "xray.exe") << "new";
           }
           p.exitCode = extraction ? 0 : Process::kStillActive;
         };
       }},
      {true,
       [](FakePlatform& p) {
         p.copyFails = p.startFails = true;
         p.downloadResult = -1;
         p.failing =
             L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
       }},
      {true,
       [](FakePlatform& p) {
         p.exitCode = 1;
         p.failing = L"ProxyEnable";
       }},
  };
  const auto doc = ReadChannelDoc();
  ASSERT_FALSE(doc.empty()) << "no method in " << ZV_CHANNEL_DOC;
  for (const auto& host : hosts) {
    for (const auto& [name, method] : doc) {
      std::filesystem::remove_all(core_);
      FakePlatform platform;
      platform.moduleFileName = platform_.moduleFileName;
      host.setUp(platform);
      CoreManager manager(platform);
      std::vector<std::string> answers;
      const XrayChannelHandler handler(manager);
      handler(MethodCall<EncodableValue>(
                  name, std::make_unique<EncodableValue>(EncodableMap{
                            {Text("enabled"), EncodableValue(true)}})),
              std::make_unique<RecordingResult>(answers, Kind));
      EXPECT_THAT(answers,
                  ::testing::ElementsAre(host.fails && method.error != "none"
                                             ? "error " + method.error
                                             : "success " + method.success))
          << name;
      for (const std::string& line : manager.log().LogSnapshot()) {
        EXPECT_NE(method.section.find('"' + line + '"'), std::string::npos)
            << name << " logs " << line;
      }
    }
  }
}

}  // namespace
}  // namespace core
