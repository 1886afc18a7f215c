// Where the core manager keeps the external core and its files: everything
// follows from the location of the running executable.

#ifndef CORE_CORE_LAYOUT_H_
#define CORE_CORE_LAYOUT_H_

#include <filesystem>
#include <string>

#include "core/platform.h"

namespace core {

// The separator put between path components: the backslash on Windows; the
// portable logic is also exercised on POSIX systems, where it is the slash.
inline constexpr wchar_t kPathSeparator =
    static_cast<wchar_t>(std::filesystem::path::preferred_separator);

// The folder part of a Windows-style path: the root ("C:\", "\\server\")
// stays, the last component and the separators before it go; never fails.
std::wstring ParentPath(const std::wstring& path);

// `left`, a separator unless `left` is empty or ends in one, and `right`;
// never fails.
std::wstring JoinPath(std::wstring left, const std::wstring& right);

// True when anything exists at `path`, false when it or a parent is missing;
// any other failure to query it throws std::filesystem::filesystem_error
// named "exists".
bool PathExists(const std::filesystem::path& path);

// Recomputes every path on each call, so a core folder deleted meanwhile is
// created again. The getters that pass through the core folder throw
// std::filesystem::filesystem_error named "create_directories" when the
// folder cannot be created.
class CoreLayout {
 public:
  explicit CoreLayout(Platform& platform) : platform_(platform) {}

  // The running executable's full name; empty when it cannot be had.
  std::wstring ExecutablePath() const;
  // The executable's folder; empty when its name cannot be had, making every
  // path relative to the current directory.
  std::filesystem::path ExecutableDirectory() const;
  // ExecutableDirectory\xray, created with its parents when missing.
  std::filesystem::path CoreDirectory() const;
  std::filesystem::path XrayExePath() const;
  std::filesystem::path ConfigFilePath() const;
  std::filesystem::path VersionFilePath() const;
  std::filesystem::path ArchivePath() const;
  std::filesystem::path ExtractionDirectory() const;
  // The copy of xray.exe among the Flutter assets; creates nothing.
  std::filesystem::path ShippedXrayPath() const;

 private:
  std::wstring ExecutableDirectoryText() const;
  std::wstring CoreDirectoryText() const;
  std::filesystem::path InCoreDirectory(const wchar_t* name) const;

  Platform& platform_;
};

}  // namespace core

#endif  // CORE_CORE_LAYOUT_H_
