// Where a zip entry lands below the destination folder, and the names that
// must not land anywhere: those that would leave the folder or that Windows
// would read as something else than a plain file name.
#ifndef STANDINS_POWERSHELL_ZIP_ENTRY_NAME_H_
#define STANDINS_POWERSHELL_ZIP_ENTRY_NAME_H_

#include <string>
#include <vector>

namespace powershell {

struct EntryPath {
  // The folder names and, for a file, the file name, outermost first; UTF-8.
  std::vector<std::string> components;
  bool is_folder = false;
  // Empty when the name is safe to use; else why not, in English.
  std::string error;
};

// `name` is the entry's name as stored. Without the UTF-8 flag (bit 11) zip
// names are in code page 437; we accept only their ASCII part and refuse the
// rest rather than guess. Portable: no Windows headers.
EntryPath ParseEntryName(const std::string& name, bool utf8_flag);

}  // namespace powershell

#endif  // STANDINS_POWERSHELL_ZIP_ENTRY_NAME_H_
