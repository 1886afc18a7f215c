// Finds a system proxy of the host's own that nothing serves any more and
// switches it off, and keeps the command that does the same at the next
// sign-in, when no host may run. A proxy left pointing at a port where
// nothing listens cuts the user off from every site.

#ifndef CORE_PROXY_CHECK_H_
#define CORE_PROXY_CHECK_H_

#include <cstdint>
#include <optional>
#include <string>

#include "core/activity_log.h"
#include "core/platform.h"

namespace core {

inline constexpr wchar_t kRunOnceKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kProxyCheckValue[] = L"ZorvaneProxyCheck";
// The one argument that makes the host run the check and exit.
inline constexpr wchar_t kProxyCheckArgument[] = L"--check-proxy";

// The port of the host's own proxy: "ProxyEnable" the REG_DWORD 1 and
// "ProxyServer" exactly socks=127.0.0.1:N as SetSystemProxy writes it, N
// from 1024 to 65535. None when the proxy is off or another program's, or a
// value cannot be read.
std::optional<int32_t> OwnProxyPort(Platform& platform);

// Whether a proxy at 127.0.0.1:`port` is served: a socket listens on the
// port at 127.0.0.1 or 0.0.0.0, or at :: (a dual-stack socket serves
// 127.0.0.1 too). None when a table cannot be read.
std::optional<bool> IsProxyServed(Platform& platform, int32_t port);

// Switches the host's own proxy off, with SetSystemProxy's line, when
// nothing listens on its port and no other process wants a connection; true
// when it did. A live own proxy, another program's, one that is off, one
// that cannot be read and any proxy while another process wants a
// connection stay exactly as they are, and no process is ever ended.
bool SwitchOffDeadProxy(Platform& platform, ActivityLog& log);

// The sign-in command for `executable`: its quoted path, then
// " --check-proxy"; with the path's short form when the long one makes the
// command longer than the 260 characters Windows runs; empty when neither
// fits or there is no path.
std::wstring ProxyCheckCommand(Platform& platform,
                               const std::wstring& executable);

// Writes the sign-in command for `executable` as the user's RunOnce value,
// creating the key when missing; writes nothing when no command fits. A
// failure is silent: the host's own checks still run.
void ArmSignInCheck(Platform& platform, const std::wstring& executable);

// Deletes the RunOnce value; silent when it is absent or stays.
void DisarmSignInCheck(Platform& platform);

}  // namespace core

#endif  // CORE_PROXY_CHECK_H_
