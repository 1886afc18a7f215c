#include "packaging/process_match.h"

#include <tlhelp32.h>

#include <utility>

namespace packaging {
namespace {

// "C:\A\..\B/x.exe" and "c:\b\X.EXE" name the same file.
std::wstring FullPath(const std::wstring& path) {
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  DWORD written = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  return full;
}

bool SameFileName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ImageOf(HANDLE process) {
  // The longest path Windows has, so no name is ever cut.
  std::wstring name(32768, L'\0');
  DWORD size = static_cast<DWORD>(name.size());
  if (!QueryFullProcessImageNameW(process, 0, &name[0], &size)) return {};
  name.resize(size);
  return name;
}

}  // namespace

std::vector<win::UniqueKernelHandle> ProcessesWithImage(
    const std::wstring& image, DWORD access) {
  std::vector<win::UniqueKernelHandle> found;
  const std::wstring wanted = FullPath(image);
  win::UniqueFileHandle snapshot(
      CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    win::UniqueKernelHandle process(
        OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                    entry.th32ProcessID));
    if (process && SameFileName(ImageOf(process.Get()), wanted)) {
      found.push_back(std::move(process));
    }
  }
  return found;
}

}  // namespace packaging
