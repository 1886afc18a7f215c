// The table of contents of a zip archive held in memory: the end of central
// directory record, the central directory and each entry's local header,
// checked against each other. Decompression is the caller's.
#ifndef STANDINS_POWERSHELL_ZIP_DIRECTORY_H_
#define STANDINS_POWERSHELL_ZIP_DIRECTORY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace powershell {

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

struct ZipEntry {
  std::string name;  // as stored: UTF-8 when utf8_name, else code page 437
  bool utf8_name = false;
  uint16_t method = kMethodStored;
  uint32_t crc32 = 0;
  uint32_t compressed_size = 0;
  uint32_t size = 0;
  size_t data_offset = 0;  // where the entry's compressed bytes begin
};

struct ZipDirectory {
  std::vector<ZipEntry> entries;  // in central directory order
  // Empty when the archive's structure is sound; else why not, in English.
  std::string error;
};

// Single-disk archives without ZIP64 records or encryption, whose entries
// are stored or deflated; anything else is refused. Portable.
ZipDirectory ReadZipDirectory(const uint8_t* archive, size_t size);

}  // namespace powershell

#endif  // STANDINS_POWERSHELL_ZIP_DIRECTORY_H_
