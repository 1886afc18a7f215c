#include "core/system_proxy.h"

#include <string>
#include <vector>

#include "core/log_lines.h"

namespace core {
namespace {

constexpr long kWritten = 0;

// A REG_DWORD's bytes: the value, little-endian.
std::vector<uint8_t> DwordData(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

void AppendUtf16Unit(std::vector<uint8_t>& data, uint32_t unit) {
  data.push_back(static_cast<uint8_t>(unit));
  data.push_back(static_cast<uint8_t>(unit >> 8));
}

// A REG_SZ's bytes: the text in UTF-16LE and its terminating NUL, which
// readers of the value rely on finding within the stored size.
std::vector<uint8_t> StringData(const std::wstring& text) {
  std::vector<uint8_t> data;
  data.reserve((text.size() + 1) * 2);
  for (const wchar_t c : text) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code > 0xFFFF) {  // Only where wchar_t holds whole code points.
      AppendUtf16Unit(data, 0xD800 + ((code - 0x10000) >> 10));
      AppendUtf16Unit(data, 0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      AppendUtf16Unit(data, code);
    }
  }
  AppendUtf16Unit(data, 0);
  return data;
}

// Later writes are skipped once one fails, so that a half-applied proxy is
// never announced to WinINet.
long WriteProxyValues(RegistryKey& key, bool enabled, int32_t port) {
  long status =
      key.SetValue(L"ProxyEnable", kRegDword, DwordData(enabled ? 1 : 0));
  if (!enabled || status != kWritten) return status;
  status =
      key.SetValue(L"ProxyServer", kRegSz,
                   StringData(L"socks=127.0.0.1:" + std::to_wstring(port)));
  if (status != kWritten) return status;
  return key.SetValue(L"ProxyOverride", kRegSz,
                      StringData(L"localhost;127.*;<local>"));
}

}  // namespace

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
