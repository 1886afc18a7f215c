#include "win/module.h"

#include <windows.h>

#include <vector>

namespace win {

std::wstring ExecutableFileName() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return {};
    if (length < size) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);  // Cut short: try a larger buffer.
  }
}

std::wstring ExecutableFolder() {
  const std::wstring name = ExecutableFileName();
  const size_t separator = name.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  // "C:\x.exe" keeps the separator of its root.
  const bool root = separator == 2 && name[1] == L':';
  return name.substr(0, root ? separator + 1 : separator);
}

}  // namespace win
