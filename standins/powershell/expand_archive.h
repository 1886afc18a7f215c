// Expand-Archive -Force, as far as the host uses it: every entry of a zip
// archive written below a destination folder that is created if missing.
#ifndef STANDINS_POWERSHELL_EXPAND_ARCHIVE_H_
#define STANDINS_POWERSHELL_EXPAND_ARCHIVE_H_

#include <string>

namespace powershell {

// Empty on success; else a one-line English reason. Every entry name is
// checked before anything is written, so a refused name writes nothing; a
// damaged entry found while decoding leaves the entries before it in place,
// as Expand-Archive does.
std::string ExpandArchive(const std::wstring& archive,
                          const std::wstring& destination);

}  // namespace powershell

#endif  // STANDINS_POWERSHELL_EXPAND_ARCHIVE_H_
