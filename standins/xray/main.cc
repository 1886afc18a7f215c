// The stand-in core: `xray run -c CONFIG` serves SOCKS5 on the config's
// first socks inbound until the process is terminated. Not part of the
// product; it lets the host's core management run for real under Wine.
#include <ws2tcpip.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <system_error>
#include <thread>

#include "standins/xray/config.h"
#include "standins/xray/socks_session.h"
#include "win/handles.h"
#include "win/text.h"

namespace {

constexpr int kStartFailed = 1;
constexpr int kUsageError = 2;
// A configuration is a few kilobytes; refuse to slurp anything huge.
constexpr DWORD kMaxConfigBytes = 16 * 1024 * 1024;

int Fail(int exitCode, const std::string& reason) {
  std::fprintf(stderr, "xray stand-in: %s\n", reason.c_str());
  return exitCode;
}

// Exactly "run -c PATH", as the host starts the core.
bool ReadArguments(int argc, wchar_t** argv, std::wstring* configPath) {
  if (argc != 4 || std::wcscmp(argv[1], L"run") != 0 ||
      std::wcscmp(argv[2], L"-c") != 0) {
    return false;
  }
  *configPath = argv[3];
  return true;
}

bool ReadWholeFile(const std::wstring& path, std::string* content,
                   std::string* error) {
  const win::UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = GetLastError();
    const bool missing =
        code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    *error =
        (missing ? "config file not found: " : "cannot open config file: ") +
        win::WideToUtf8(path);
    return false;
  }
  char buffer[64 * 1024];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) &&
         read > 0) {
    content->append(buffer, read);
    if (content->size() > kMaxConfigBytes) {
      *error = "config file too large: " + win::WideToUtf8(path);
      return false;
    }
  }
  return true;
}

std::string Endpoint(const standin::SocksInbound& inbound) {
  return inbound.listen + ":" + std::to_string(inbound.port);
}

win::UniqueSocket Listen(const standin::SocksInbound& inbound,
                         std::string* error) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(inbound.port);
  if (inet_pton(AF_INET, inbound.listen.c_str(), &address.sin_addr) != 1) {
    *error = "listen address is not IPv4: " + inbound.listen;
    return {};
  }
  win::UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener) {
    *error = "no socket (error " + std::to_string(WSAGetLastError()) + ")";
    return {};
  }
  // Without it Windows lets a specific address share a port bound to the
  // wildcard address, and a taken port would go unnoticed.
  const BOOL exclusive = TRUE;
  setsockopt(listener.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
             reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  if (bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address),
           sizeof address) != 0 ||
      listen(listener.Get(), SOMAXCONN) != 0) {
    const int code = WSAGetLastError();
    // A port another program holds exclusively is refused as access denied.
    *error = code == WSAEADDRINUSE || code == WSAEACCES
                 ? "port taken: " + Endpoint(inbound)
                 : "cannot listen on " + Endpoint(inbound) + " (error " +
                       std::to_string(code) + ")";
    return {};
  }
  return listener;
}

// One thread per client; a client whose thread cannot start is dropped.
[[noreturn]] void AcceptForever(SOCKET listener) {
  for (;;) {
    win::UniqueSocket client(accept(listener, nullptr, nullptr));
    if (!client) {
      Sleep(10);  // out of resources for the moment: do not spin
      continue;
    }
    try {
      std::thread(standin::ServeSocksClient, std::move(client)).detach();
    } catch (const std::system_error&) {
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring configPath;
  if (!ReadArguments(argc, argv, &configPath)) {
    return Fail(kUsageError, "usage: xray run -c <config file>");
  }
  std::string text;
  std::string error;
  if (!ReadWholeFile(configPath, &text, &error)) {
    return Fail(kStartFailed, error);
  }
  const standin::SocksInboundResult found = standin::FindSocksInbound(text);
  if (!found.error.empty()) return Fail(kStartFailed, found.error);
  const win::WinsockSession winsock;
  if (!winsock.Started()) return Fail(kStartFailed, "Winsock unavailable");
  const win::UniqueSocket listener = Listen(found.inbound, &error);
  if (!listener) return Fail(kStartFailed, error);
  std::printf("xray stand-in: SOCKS5 on %s\n", Endpoint(found.inbound).c_str());
  std::fflush(stdout);
  AcceptForever(listener.Get());
}
