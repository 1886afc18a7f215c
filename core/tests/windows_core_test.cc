// The core's life cycle for real: the stand-in core started, listening,
// restarted and stopped, the proxy in a scratch registry, and downloads fetched
// with URLDownloadToFileW from a server on 127.0.0.1 and unpacked by the
// stand-in PowerShell beside this program.

#include <windows.h>
// windows.h comes first: the other SDK headers build on it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/core_manager.h"
#include "core/tests/scratch_host.h"
#include "core/tests/scratch_user.h"
#include "core/windows_platform.h"
#include "win/handles.h"
#include "win/module.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

int RunningCores() {
  win::UniqueFileHandle snapshot(
      CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (bool more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, L"xray.exe") == 0) ++count;
  }
  return count;
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

bool SendAll(SOCKET socket, const std::string& bytes) {
  return send(socket, bytes.data(), static_cast<int>(bytes.size()), 0) ==
         static_cast<int>(bytes.size());
}

// Serves the files of one folder over HTTP/1.0 on 127.0.0.1, one
// connection at a time, until destroyed.
class FileServer {
 public:
  explicit FileServer(fs::path folder)
      : folder_(std::move(folder)), listening_(LoopbackSocket(0, true)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~FileServer() {
    stopping_ = true;
    LoopbackSocket(port(), false);  // Wakes the accept.
    thread_.join();
  }

  uint16_t port() const { return PortOf(listening_); }
  std::wstring Url(const std::wstring& name) const {
    return L"http://127.0.0.1:" + std::to_wstring(port()) + L"/" + name;
  }

 private:
  void Serve() {
    while (!stopping_) {
      win::UniqueSocket client(accept(listening_.Get(), nullptr, nullptr));
      if (stopping_ || !client) break;
      std::string request;
      char buffer[1024];
      for (int got;
           request.find("\r\n\r\n") == std::string::npos &&
           (got = recv(client.Get(), buffer, sizeof(buffer), 0)) > 0;) {
        request.append(buffer, static_cast<size_t>(got));
      }
      SendAll(client.Get(), Response(request));
    }
  }

  std::string Response(const std::string& request) const {
    const size_t start = request.find('/') + 1, end = request.find(' ', start);
    const fs::path file = folder_ / request.substr(start, end - start);
    if (request.rfind("GET ", 0) != 0 || !fs::is_regular_file(file)) {
      return "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    }
    const std::string body = FileText(file);
    return "HTTP/1.0 200 OK\r\nContent-Type: application/zip\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
  }

  const fs::path folder_;
  win::UniqueSocket listening_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Whether something listens on 127.0.0.1:`port`; what it serves is the end-
// to-end suite's to check.
bool Listening(uint16_t port) {
  return static_cast<bool>(LoopbackSocket(port, false));
}

std::string SocksConfig(uint16_t port) {
  return "{\n  \"inbounds\": [{\"tag\": \"socks-in\", \"port\": " +
         std::to_string(port) +
         ", \"listen\": \"127.0.0.1\", \"protocol\": \"socks\"}],\n"
         "  \"outbounds\": [{\"protocol\": \"freedom\"}]\n}\n";
}

// The Windows platform, but with the host's executable in a scratch folder
// whose name PowerShell would misread unless its quotes are doubled.
class ScratchHostPlatform : public WindowsPlatform {
 public:
  explicit ScratchHostPlatform(const fs::path& folder)
      : executable_((folder / "client.exe").wstring()) {}
  uint32_t ModuleFileName(wchar_t* buffer, uint32_t size) override {
    const size_t units = std::min<size_t>(executable_.size(), size);
    std::copy_n(executable_.begin(), units, buffer);
    return static_cast<uint32_t>(units);
  }

 private:
  std::wstring executable_;
};

// The current user's registry is a scratch key holding an empty Internet
// Settings key, and the host lives in a scratch folder whose shipped core is
// the stand-in.
class WindowsCoreTest : public ScratchUserTest {
 protected:
  void SetUp() override {
    ScratchUserTest::SetUp();
    if (IsSkipped()) return;
    win::UniqueHkey settings;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, settings.Put(), nullptr),
              ERROR_SUCCESS);
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

  // "ProxyEnable" and "ProxyServer" as the registry holds them.
  std::string ProxyValues() const {
    DWORD enable = 7, size = sizeof(enable);
    wchar_t server[64] = L"none";
    DWORD serverSize = sizeof(server);
    RegGetValueW(HKEY_CURRENT_USER, kSettings, L"ProxyEnable", RRF_RT_DWORD,
                 nullptr, &enable, &size);
    RegGetValueW(HKEY_CURRENT_USER, kSettings, L"ProxyServer", RRF_RT_REG_SZ,
                 nullptr, server, &serverSize);
    return std::to_string(enable) + " " + fs::path(server).string();
  }

  static constexpr wchar_t kSettings[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  const fs::path here_ = win::ExecutableFolder();
  const fs::path folder_ =
      fs::temp_directory_path() /
      (L"zv O'Neil \u2019s " + std::to_wstring(GetCurrentProcessId()));
  win::WinsockSession winsock_;
  ScratchHostPlatform platform_{folder_};
  CoreManager manager_{platform_};
};

TEST_F(WindowsCoreTest, CoreServesFromStartToStop) {
  const uint16_t port = FreePort();

  ASSERT_TRUE(manager_.CheckXrayInstalled());
  ASSERT_TRUE(manager_.StartXray(SocksConfig(port), true, port));
  EXPECT_EQ(RunningCores(), 1);
  EXPECT_TRUE(Listening(port));
  EXPECT_EQ(ProxyValues(), "1 socks=127.0.0.1:" + std::to_string(port));
  // Written in text mode.
  EXPECT_THAT(FileText(folder_ / "xray" / "config.json"),
              ::testing::StartsWith("{\r\n  \"inbounds\""));

  // A restart on the same port ends the running core first.
  ASSERT_TRUE(manager_.StartXray(SocksConfig(port), false, port));
  EXPECT_EQ(RunningCores(), 1);
  EXPECT_EQ(ProxyValues(), "0 socks=127.0.0.1:" + std::to_string(port));
  manager_.StopXray();
  manager_.StopXray();
  EXPECT_EQ(RunningCores(), 0);
  EXPECT_FALSE(Listening(port));
  EXPECT_EQ(manager_.log().LogSnapshot().size(), 9u);
}

TEST_F(WindowsCoreTest, CoreThatExitsAtOnceLeavesEverythingAsItWas) {
  ASSERT_TRUE(manager_.CheckXrayInstalled());
  EXPECT_FALSE(manager_.StartXray("{ not json", true, 2080));
  EXPECT_EQ(RunningCores(), 0);
  EXPECT_EQ(ProxyValues(), "7 none");
  EXPECT_EQ(manager_.process().lastLocalPort, 10808);
  EXPECT_EQ(manager_.log().LogSnapshot().back(),
            "Xray بلافاصله پس از اجرا متوقف شد");
}

TEST_F(WindowsCoreTest, DownloadHasFiveOutcomes) {
  FileServer server(here_ / "archives");
  const fs::path core = folder_ / "xray";
  fs::create_directories(core / "downloaded");
  std::ofstream(core / "downloaded" / "stale.txt") << "from before";
  const uint16_t closed = FreePort();
  const std::wstring nowhere =
      L"http://127.0.0.1:" + std::to_wstring(closed) + L"/core.zip";

  EXPECT_FALSE(manager_.DownloadXray(nowhere));
  EXPECT_TRUE(fs::exists(core / "downloaded" / "stale.txt"));
  EXPECT_FALSE(manager_.DownloadXray(server.Url(L"damaged.zip")));
  EXPECT_FALSE(fs::exists(core / "downloaded" / "stale.txt"));
  EXPECT_FALSE(manager_.DownloadXray(server.Url(L"nested.zip")));
  EXPECT_TRUE(fs::exists(core / "downloaded" / "bin" / "xray.exe"));

  // Windows will not overwrite the program of a running process.
  ASSERT_TRUE(manager_.StartXray(SocksConfig(FreePort()), false, 2080));
  EXPECT_FALSE(manager_.DownloadXray(server.Url(L"core.zip")));
  manager_.StopXray();
  EXPECT_TRUE(manager_.DownloadXray(server.Url(L"core.zip")));
  EXPECT_EQ(FileText(core / "xray.exe"), "the newest core");
  EXPECT_FALSE(fs::exists(core / "downloaded" / "bin"));

  std::vector<std::string> downloadLines;
  for (const std::string& line : manager_.log().LogSnapshot()) {
    if (line.find("دانلود") != std::string::npos ||
        line.find("استخراج") != std::string::npos ||
        line.find("جایگزینی") != std::string::npos) {
      downloadLines.push_back(line);
    }
  }
  EXPECT_THAT(
      downloadLines,
      ElementsAre("دانلود فایل Xray ناموفق بود", "استخراج فایل Xray ناموفق بود",
                  "فایل xray.exe در بسته دانلودی یافت نشد",
                  "جایگزینی Xray دانلودی ناموفق بود",
                  "دانلود و نصب Xray کامل شد"));
}

TEST_F(WindowsCoreTest, ProcessRunAndWaitTellsExitCodes) {
  EXPECT_FALSE(manager_.RunProcessAndWait(L"no-such-program.exe"));
  EXPECT_FALSE(manager_.RunProcessAndWait(
      L"\"" + (here_ / "standin-core" / "xray.exe").wstring() + L"\""));
  EXPECT_TRUE(manager_.RunProcessAndWait(L"cmd.exe /c exit 0"));
}

}  // namespace
}  // namespace core
