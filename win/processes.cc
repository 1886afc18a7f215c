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

bool SnapshotProcessIds(std::vector<DWORD>* ids) {
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!Process32FirstW(snapshot.Get(), &entry)) return false;
  std::vector<DWORD> found;
  do {
    found.push_back(entry.th32ProcessID);
  } while (Process32NextW(snapshot.Get(), &entry));
  ids->insert(ids->end(), found.begin(), found.end());
  return true;
}

bool OpenProcessesByImage(const std::wstring& imagePath, DWORD access,
                          std::vector<UniqueKernelHandle>* found) {
  std::vector<DWORD> ids;
  if (!SnapshotProcessIds(&ids)) return false;
  const DWORD self = GetCurrentProcessId();
  std::vector<UniqueKernelHandle> matches;
  for (const DWORD id : ids) {
    if (id == self) continue;
    // A process we may not open is one we could not end either.
    UniqueKernelHandle process(
        OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (process && SameImage(ImageName(process.Get()), imagePath)) {
      matches.push_back(std::move(process));
    }
  }
  for (UniqueKernelHandle& match : matches) found->push_back(std::move(match));
  return true;
}

}  // namespace win
