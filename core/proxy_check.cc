#include "core/proxy_check.h"

#include <vector>

#include "core/connection_wanted.h"
#include "core/local_port.h"
#include "core/registry_data.h"
#include "core/system_proxy.h"

namespace core {
namespace {

constexpr long kRead = 0;
// What Windows runs of a RunOnce value.
constexpr size_t kMaxRunOnceCommand = 260;

// The value's bytes when it is there with `type`.
std::optional<std::vector<uint8_t>> ReadValueOfType(Platform& platform,
                                                    const wchar_t* name,
                                                    uint32_t type) {
  uint32_t stored = 0;
  std::vector<uint8_t> data;
  if (platform.ReadCurrentUserValue(kInternetSettingsKey, name, &stored,
                                    &data) != kRead ||
      stored != type) {
    return std::nullopt;
  }
  return data;
}

// The port of a server text exactly as SetSystemProxy writes it for a local
// port; none for any other text.
std::optional<int32_t> PortOfOwnServer(const std::wstring& server) {
  const size_t colon = server.rfind(L':');
  if (colon == std::wstring::npos || server.size() - colon > 6) {
    return std::nullopt;
  }
  int32_t port = 0;
  for (size_t i = colon + 1; i < server.size(); ++i) {
    if (server[i] < L'0' || server[i] > L'9') return std::nullopt;
    port = port * 10 + (server[i] - L'0');
  }
  if (NormalizeLocalPort(port) != port || ProxyServerText(port) != server) {
    return std::nullopt;
  }
  return port;
}

bool ServesLoopback(const TcpListener& listener) {
  const std::array<uint8_t, 16> any = {};
  if (listener.ipv6) return listener.address == any;
  const uint8_t* a = listener.address.data();
  const bool isAny = a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0;
  const bool isLoopback = a[0] == 127 && a[1] == 0 && a[2] == 0 && a[3] == 1;
  return isAny || isLoopback;
}

std::wstring CommandFor(const std::wstring& path) {
  return L"\"" + path + L"\" " + kProxyCheckArgument;
}

}  // namespace

std::optional<int32_t> OwnProxyPort(Platform& platform) {
  const auto enabled = ReadValueOfType(platform, L"ProxyEnable", kRegDword);
  if (!enabled || DwordOf(*enabled) != 1u) return std::nullopt;
  const auto server = ReadValueOfType(platform, L"ProxyServer", kRegSz);
  if (!server) return std::nullopt;
  return PortOfOwnServer(StringOf(*server));
}

std::optional<bool> IsProxyServed(Platform& platform, int32_t port) {
  std::vector<TcpListener> listeners;
  if (!platform.ListeningTcpSockets(&listeners)) return std::nullopt;
  for (const TcpListener& listener : listeners) {
    if (listener.port == port && ServesLoopback(listener)) return true;
  }
  return false;
}

bool SwitchOffDeadProxy(Platform& platform, ActivityLog& log) {
  const std::optional<int32_t> port = OwnProxyPort(platform);
  if (!port) return false;
  const std::optional<bool> served = IsProxyServed(platform, *port);
  if (!served || *served) return false;
  // A host whose user wants a connection may show it as connected: its
  // proxy is its own business, dead or not.
  if (AnotherProcessWantsAConnection(platform)) return false;
  return SetSystemProxy(platform, log, false, *port);
}

std::wstring ProxyCheckCommand(Platform& platform,
                               const std::wstring& executable) {
  if (executable.empty()) return {};
  std::wstring command = CommandFor(executable);
  if (command.size() <= kMaxRunOnceCommand) return command;
  const std::wstring shortPath = platform.ShortPathName(executable);
  if (shortPath.empty()) return {};
  command = CommandFor(shortPath);
  return command.size() <= kMaxRunOnceCommand ? command : std::wstring();
}

void ArmSignInCheck(Platform& platform, const std::wstring& executable) {
  const std::wstring command = ProxyCheckCommand(platform, executable);
  if (command.empty()) return;
  if (const auto key = platform.CreateCurrentUserKey(kRunOnceKey)) {
    key->SetValue(kProxyCheckValue, kRegSz, StringData(command));
  }
}

void DisarmSignInCheck(Platform& platform) {
  if (const auto key = platform.OpenCurrentUserKey(kRunOnceKey)) {
    key->DeleteValue(kProxyCheckValue);
  }
}

}  // namespace core
