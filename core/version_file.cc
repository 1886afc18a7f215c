#include "core/version_file.h"

#include <fstream>

namespace core {

void WriteXrayVersion(const CoreLayout& layout, const std::string& text) {
  std::ofstream file(layout.VersionFilePath(),
                     std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string ReadXrayVersion(const CoreLayout& layout) {
  const std::filesystem::path path = layout.VersionFilePath();
  if (!PathExists(path)) return kUnknownVersion;
  // Read as bytes and drop the CR of a CR LF by hand: the same first line as
  // Windows' text mode gives, on every platform the logic is tested on.
  std::ifstream file(path, std::ios::binary);
  std::string line;
  std::getline(file, line);
  if (!line.empty() && line.back() == '\r' && !file.eof()) line.pop_back();
  return line.empty() ? kUnknownVersion : line;
}

}  // namespace core
