// Points the current user's system proxy at the core's local SOCKS port, or
// switches it off.

#ifndef CORE_SYSTEM_PROXY_H_
#define CORE_SYSTEM_PROXY_H_

#include <cstdint>
#include <string>

#include "core/activity_log.h"
#include "core/platform.h"

namespace core {

inline constexpr wchar_t kInternetSettingsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
inline constexpr uint32_t kInternetOptionSettingsChanged = 39;
inline constexpr uint32_t kInternetOptionRefresh = 37;

// "ProxyServer" as the host writes it: socks=127.0.0.1:`port`, the port in
// plain decimal; never fails.
std::wstring ProxyServerText(int32_t port);

// Writes "ProxyEnable" and, when enabling, "ProxyServer" for 127.0.0.1:`port`
// and "ProxyOverride"; then tells WinINet. Returns false when the key cannot
// be opened or a write fails (earlier writes stay, WinINet is not told);
// appends exactly one status line in every case.
bool SetSystemProxy(Platform& platform, ActivityLog& log, bool enabled,
                    int32_t port);

}  // namespace core

#endif  // CORE_SYSTEM_PROXY_H_
