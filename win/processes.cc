#include "win/processes.h"

// windows.h (through handles.h) comes first: tlhelp32.h builds on it.
#include <tlhelp32.h>

namespace win {
namespace {

// QueryFullProcessImageNameW's name, however long; empty when it cannot be
// had (the process may have ended meanwhile).
std::wstring ImageName(HANDLE process) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (QueryFullProcessImageNameW(process, 0, buffer.data(), &size)) {
      return std::wstring(buffer.data(), size);
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() > 32768) {
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool SameImage(const std::wstring& left, const std::wstring& right) {
  return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()),
                              right.c_str(), static_cast<int>(right.size()),
                              TRUE) == CSTR_EQUAL;
}

}  // namespace

bool OpenProcessesByImage(const std::wstring& imagePath, DWORD access,
                          std::vector<UniqueKernelHandle>* found) {
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!Process32FirstW(snapshot.Get(), &entry)) return false;
  const DWORD self = GetCurrentProcessId();
  std::vector<UniqueKernelHandle> matches;
  do {
    if (entry.th32ProcessID == self) continue;
    // A process we may not open is one we could not end either.
    UniqueKernelHandle process(
        OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                    entry.th32ProcessID));
    if (process && SameImage(ImageName(process.Get()), imagePath)) {
      matches.push_back(std::move(process));
    }
  } while (Process32NextW(snapshot.Get(), &entry));
  for (UniqueKernelHandle& match : matches) found->push_back(std::move(match));
  return true;
}

}  // namespace win
