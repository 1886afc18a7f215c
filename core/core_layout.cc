#include "core/core_layout.h"

#include <system_error>
#include <vector>

namespace core {
namespace {

// GetModuleFileNameW's traditional buffer; longer paths double it.
constexpr uint32_t kInitialNameUnits = 260;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Length of the root name: "C:" or "\\server"; 0 when there is none.
size_t RootNameLength(const std::wstring& path) {
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':') return 2;
  if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      !IsSeparator(path[2])) {
    size_t end = 2;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    return end;
  }
  return 0;
}

// Length of the root name plus the separators that follow it.
size_t RootLength(const std::wstring& path) {
  size_t end = RootNameLength(path);
  while (end < path.size() && IsSeparator(path[end])) ++end;
  return end;
}

std::wstring ExecutableFileName(Platform& platform) {
  std::vector<wchar_t> buffer(kInitialNameUnits, L'\0');
  uint32_t length = platform.ModuleFileName(
      buffer.data(), static_cast<uint32_t>(buffer.size()));
  while (length == buffer.size()) {
    buffer.resize(buffer.size() * 2, L'\0');
    length = platform.ModuleFileName(buffer.data(),
                                     static_cast<uint32_t>(buffer.size()));
  }
  return std::wstring(buffer.data(), length);
}

}  // namespace

std::wstring ParentPath(const std::wstring& path) {
  const size_t root = RootLength(path);
  size_t end = path.size();
  while (end > root && !IsSeparator(path[end - 1])) --end;
  while (end > root && IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

std::wstring JoinPath(std::wstring left, const std::wstring& right) {
  if (!left.empty() && !IsSeparator(left.back())) left += kPathSeparator;
  return left + right;
}

bool PathExists(const std::filesystem::path& path) {
  std::error_code error;
  const bool exists = std::filesystem::exists(path, error);
  if (error) throw std::filesystem::filesystem_error("exists", path, error);
  return exists;
}

std::wstring CoreLayout::ExecutablePath() const {
  return ExecutableFileName(platform_);
}

std::filesystem::path CoreLayout::ExecutableDirectory() const {
  return ExecutableDirectoryText();
}

std::filesystem::path CoreLayout::CoreDirectory() const {
  return CoreDirectoryText();
}

std::filesystem::path CoreLayout::XrayExePath() const {
  return InCoreDirectory(L"xray.exe");
}

std::filesystem::path CoreLayout::ConfigFilePath() const {
  return InCoreDirectory(L"config.json");
}

std::filesystem::path CoreLayout::VersionFilePath() const {
  return InCoreDirectory(L"version.txt");
}

std::filesystem::path CoreLayout::ArchivePath() const {
  return InCoreDirectory(L"xray.zip");
}

std::filesystem::path CoreLayout::ExtractionDirectory() const {
  return InCoreDirectory(L"downloaded");
}

std::filesystem::path CoreLayout::ShippedXrayPath() const {
  std::wstring path = ExecutableDirectoryText();
  for (const wchar_t* component : {L"data", L"flutter_assets", L"assets",
                                   L"xray", L"windows", L"xray.exe"}) {
    path = JoinPath(std::move(path), component);
  }
  return path;
}

std::wstring CoreLayout::ExecutableDirectoryText() const {
  return ParentPath(ExecutableFileName(platform_));
}

std::wstring CoreLayout::CoreDirectoryText() const {
  const std::wstring directory = JoinPath(ExecutableDirectoryText(), L"xray");
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    throw std::filesystem::filesystem_error("create_directories", directory,
                                            error);
  }
  return directory;
}

std::filesystem::path CoreLayout::InCoreDirectory(const wchar_t* name) const {
  return JoinPath(CoreDirectoryText(), name);
}

}  // namespace core
