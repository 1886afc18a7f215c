// Finding the running processes of one executable file, by its full path.
#ifndef PACKAGING_PROCESS_MATCH_H_
#define PACKAGING_PROCESS_MATCH_H_

#include <windows.h>

#include <string>
#include <vector>

#include "win/handles.h"

namespace packaging {

// The processes whose executable is the file at `image` (a full path,
// compared without regard to letter case, as the file system does), each
// opened with `access`; processes that cannot be opened or asked for their
// executable's name are left out, so an empty list means none was found.
std::vector<win::UniqueKernelHandle> ProcessesWithImage(
    const std::wstring& image, DWORD access);

}  // namespace packaging

#endif  // PACKAGING_PROCESS_MATCH_H_
