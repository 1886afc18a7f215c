// Finding running programs by the file they were started from, for the tools
// that must end every copy of a program before they can replace or remove it.
#ifndef WIN_PROCESSES_H_
#define WIN_PROCESSES_H_

#include <string>
#include <vector>

#include "win/handles.h"

namespace win {

// The ids of every running process, from one snapshot; false when it cannot
// be taken, and then `ids` is untouched.
bool SnapshotProcessIds(std::vector<DWORD>* ids);

// Every process other than the caller whose executable is `imagePath`, full
// paths compared without regard to letter case, each opened with `access`;
// false when the process list cannot be taken, and then `found` is untouched.
bool OpenProcessesByImage(const std::wstring& imagePath, DWORD access,
                          std::vector<UniqueKernelHandle>* found);

}  // namespace win

#endif  // WIN_PROCESSES_H_
