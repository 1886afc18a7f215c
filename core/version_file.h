// The marker that tells the user interface where the installed core came
// from ("bundled" or "latest"), kept in the core folder's version.txt.

#ifndef CORE_VERSION_FILE_H_
#define CORE_VERSION_FILE_H_

#include <string>

#include "core/core_layout.h"

namespace core {

// Reported when there is no marker: Persian for "unspecified".
inline constexpr char kUnknownVersion[] = "نامشخص";

// Replaces the version file's content with exactly the bytes of `text`; a
// file that cannot be written is left as it was, silently, and only the
// core folder's errors of CoreLayout are thrown.
void WriteXrayVersion(const CoreLayout& layout, const std::string& text);

// The version file's first line without a CR before its LF, or
// kUnknownVersion when that line is empty or unreadable; only the errors of
// CoreLayout and PathExists are thrown.
std::string ReadXrayVersion(const CoreLayout& layout);

}  // namespace core

#endif  // CORE_VERSION_FILE_H_
