// Where the running program lives.
#ifndef WIN_MODULE_H_
#define WIN_MODULE_H_

#include <string>

namespace win {

// The full file name of the running executable, however long; empty when
// Windows cannot tell it.
std::wstring ExecutableFileName();

// The folder of the running executable, without a trailing separator (the
// root keeps its own, as in "C:\"); empty when the name cannot be had.
std::wstring ExecutableFolder();

}  // namespace win

#endif  // WIN_MODULE_H_
