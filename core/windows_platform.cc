#include "core/windows_platform.h"

// windows.h comes first: the other SDK headers build on it.
#include <iphlpapi.h>
#include <wininet.h>

#include <cstddef>
#include <utility>

namespace core {
namespace {

class WindowsRegistryKey : public RegistryKey {
 public:
  explicit WindowsRegistryKey(win::UniqueHkey key) : key_(std::move(key)) {}

  long SetDword(const std::wstring& name, uint32_t value) override {
    const DWORD data = value;
    return RegSetValueExW(key_.Get(), name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof(data));
  }

  long SetString(const std::wstring& name, const std::wstring& text) override {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key_.Get(), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  }

 private:
  win::UniqueHkey key_;
};

}  // namespace

uint32_t WindowsPlatform::ModuleFileName(wchar_t* buffer, uint32_t size) {
  return GetModuleFileNameW(nullptr, buffer, size);
}

std::unique_ptr<RegistryKey> WindowsPlatform::OpenCurrentUserKey(
    const std::wstring& path) {
  win::UniqueHkey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE,
                    key.Put()) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<WindowsRegistryKey>(std::move(key));
}

void WindowsPlatform::NotifyInternetOption(uint32_t option) {
  InternetSetOptionW(nullptr, option, nullptr, 0);
}

uint32_t WindowsPlatform::InterfaceTableSize(uint32_t* size) {
  ULONG bytes = 0;
  const DWORD result = GetIfTable(nullptr, &bytes, FALSE);
  *size = bytes;
  return result;
}

uint32_t WindowsPlatform::ReadInterfaceTable(uint32_t size,
                                             std::vector<InterfaceRow>* rows) {
  // Allocated as MIB_IFROWs so that the table is aligned for its fields.
  std::vector<MIB_IFROW> storage(size / sizeof(MIB_IFROW) + 1);
  auto* table = reinterpret_cast<MIB_IFTABLE*>(storage.data());
  ULONG bytes = size;
  const DWORD result = GetIfTable(table, &bytes, FALSE);
  if (result != NO_ERROR) return result;
  // Never trust the row count beyond the buffer the rows were written to.
  const size_t header = offsetof(MIB_IFTABLE, table);
  const size_t room = size > header ? (size - header) / sizeof(MIB_IFROW) : 0;
  const size_t count = table->dwNumEntries < room ? table->dwNumEntries : room;
  const MIB_IFROW* row = table->table;
  for (size_t i = 0; i < count; ++i, ++row) {
    rows->push_back({row->dwType, static_cast<uint32_t>(row->dwOperStatus),
                     row->dwInOctets, row->dwOutOctets});
  }
  return result;
}

uint64_t WindowsPlatform::TickCount() { return GetTickCount64(); }

}  // namespace core
