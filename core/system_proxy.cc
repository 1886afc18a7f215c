#include "core/system_proxy.h"

#include <string>
#include <vector>

#include "core/log_lines.h"
#include "core/registry_data.h"

namespace core {
namespace {

constexpr long kWritten = 0;

// Later writes are skipped once one fails, so that a half-applied proxy is
// never announced to WinINet.
long WriteProxyValues(RegistryKey& key, bool enabled, int32_t port) {
  long status =
      key.SetValue(L"ProxyEnable", kRegDword, DwordData(enabled ? 1 : 0));
  if (!enabled || status != kWritten) return status;
  status =
      key.SetValue(L"ProxyServer", kRegSz, StringData(ProxyServerText(port)));
  if (status != kWritten) return status;
  return key.SetValue(L"ProxyOverride", kRegSz,
                      StringData(L"localhost;127.*;<local>"));
}

}  // namespace

std::wstring ProxyServerText(int32_t port) {
  return L"socks=127.0.0.1:" + std::to_wstring(port);
}

bool SetSystemProxy(Platform& platform, ActivityLog& log, bool enabled,
                    int32_t port) {
  long status;
  {
    std::unique_ptr<RegistryKey> key =
        platform.OpenCurrentUserKey(kInternetSettingsKey);
    if (!key) {
      log.AppendLog(kLogProxyKeyFailed);
      return false;
    }
    status = WriteProxyValues(*key, enabled, port);
  }  // The key is closed before WinINet re-reads the settings.
  if (status != kWritten) {
    log.AppendLog(kLogProxyWriteFailed);
    return false;
  }
  platform.NotifyInternetOption(kInternetOptionSettingsChanged);
  platform.NotifyInternetOption(kInternetOptionRefresh);
  log.AppendLog(enabled ? kLogProxyEnabled : kLogProxyDisabled);
  return true;
}

}  // namespace core
