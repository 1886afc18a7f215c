#include "standins/powershell/zip_directory.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace powershell {
namespace {

constexpr uint32_t kEndOfDirectorySignature = 0x06054b50;
constexpr uint32_t kDirectoryEntrySignature = 0x02014b50;
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr size_t kEndOfDirectorySize = 22;
constexpr size_t kDirectoryEntrySize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kLongestComment = 0xFFFF;

constexpr uint16_t kFlagEncrypted = 1 << 0;
constexpr uint16_t kFlagStrongEncryption = 1 << 6;
constexpr uint16_t kFlagUtf8 = 1 << 11;

// Little-endian fields of a record that is known to lie inside the archive.
class Record {
 public:
  explicit Record(const uint8_t* start) : start(start) {}
  uint16_t U16(size_t offset) const {
    return static_cast<uint16_t>(start[offset] | start[offset + 1] << 8);
  }
  uint32_t U32(size_t offset) const {
    return static_cast<uint32_t>(U16(offset)) |
           static_cast<uint32_t>(U16(offset + 2)) << 16;
  }

 private:
  const uint8_t* start;
};

ZipDirectory Refuse(const std::string& why) {
  return ZipDirectory{{}, "damaged or unsupported archive: " + why};
}

// The end record is the last thing in the file, its comment running to the
// very end; a signature whose comment length does not fit is comment text.
bool FindEndOfDirectory(const uint8_t* archive, size_t size, size_t* found) {
  if (size < kEndOfDirectorySize) return false;
  const size_t last = size - kEndOfDirectorySize;
  const size_t first = last > kLongestComment ? last - kLongestComment : 0;
  for (size_t at = last + 1; at-- > first;) {
    const Record record(archive + at);
    if (record.U32(0) == kEndOfDirectorySignature &&
        at + kEndOfDirectorySize + record.U16(20) == size) {
      *found = at;
      return true;
    }
  }
  return false;
}

// Checks the entry's local header against its central directory record and
// finds where its data begins; the data must end before the directory.
std::string LocateData(const uint8_t* archive, size_t directory_offset,
                       uint32_t header_offset, ZipEntry* entry) {
  if (header_offset > directory_offset ||
      directory_offset - header_offset < kLocalHeaderSize) {
    return "a local header lies outside the archive's data";
  }
  const Record header(archive + header_offset);
  if (header.U32(0) != kLocalHeaderSignature) {
    return "no local header where the directory points";
  }
  const size_t name_length = header.U16(26);
  const size_t data_offset = static_cast<size_t>(header_offset) +
                             kLocalHeaderSize + name_length + header.U16(28);
  if (data_offset > directory_offset ||
      directory_offset - data_offset < entry->compressed_size) {
    return "an entry's data runs past the archive's data";
  }
  const char* local_name =
      reinterpret_cast<const char*>(archive + header_offset + kLocalHeaderSize);
  if (header.U16(8) != entry->method ||
      entry->name != std::string(local_name, name_length)) {
    return "a local header disagrees with the directory";
  }
  entry->data_offset = data_offset;
  return {};
}

// Reads one central directory record at `at`, advancing past it.
std::string ReadEntry(const uint8_t* archive, size_t directory_offset,
                      size_t directory_end, size_t* at, ZipEntry* entry) {
  if (directory_end - *at < kDirectoryEntrySize) {
    return "the central directory is cut short";
  }
  const Record record(archive + *at);
  if (record.U32(0) != kDirectoryEntrySignature) {
    return "a central directory record has no signature";
  }
  const size_t name_length = record.U16(28);
  const size_t record_size =
      kDirectoryEntrySize + name_length + record.U16(30) + record.U16(32);
  if (directory_end - *at < record_size) {
    return "the central directory is cut short";
  }
  const uint16_t flags = record.U16(8);
  entry->name.assign(
      reinterpret_cast<const char*>(archive + *at + kDirectoryEntrySize),
      name_length);
  entry->utf8_name = (flags & kFlagUtf8) != 0;
  entry->method = record.U16(10);
  entry->crc32 = record.U32(16);
  entry->compressed_size = record.U32(20);
  entry->size = record.U32(24);
  const uint32_t header_offset = record.U32(42);
  *at += record_size;
  if (flags & (kFlagEncrypted | kFlagStrongEncryption)) {
    return "an entry is encrypted";
  }
  if (entry->method != kMethodStored && entry->method != kMethodDeflated) {
    return "an entry uses compression method " + std::to_string(entry->method);
  }
  if (entry->method == kMethodStored && entry->compressed_size != entry->size) {
    return "a stored entry's two sizes differ";
  }
  if (entry->compressed_size == 0xFFFFFFFF || entry->size == 0xFFFFFFFF ||
      header_offset == 0xFFFFFFFF || record.U16(34) != 0) {
    return "ZIP64 and multi-disk entries are not supported";
  }
  return LocateData(archive, directory_offset, header_offset, entry);
}

}  // namespace

ZipDirectory ReadZipDirectory(const uint8_t* archive, size_t size) {
  size_t end_offset = 0;
  if (!FindEndOfDirectory(archive, size, &end_offset)) {
    return Refuse("no end of central directory record");
  }
  const Record end(archive + end_offset);
  const uint16_t count = end.U16(10);
  const uint32_t directory_size = end.U32(12);
  const uint32_t directory_offset = end.U32(16);
  if (end.U16(4) != 0 || end.U16(6) != 0 || end.U16(8) != count) {
    return Refuse("multi-disk archives are not supported");
  }
  if (count == 0xFFFF || directory_size == 0xFFFFFFFF ||
      directory_offset == 0xFFFFFFFF) {
    return Refuse("ZIP64 archives are not supported");
  }
  if (directory_offset > end_offset ||
      end_offset - directory_offset != directory_size) {
    return Refuse("the central directory is not where the end record says");
  }
  ZipDirectory directory;
  size_t at = directory_offset;
  for (uint16_t i = 0; i < count; ++i) {
    ZipEntry entry;
    const std::string why =
        ReadEntry(archive, directory_offset, end_offset, &at, &entry);
    if (!why.empty()) return Refuse(why);
    directory.entries.push_back(std::move(entry));
  }
  if (at != end_offset) return Refuse("the central directory has extra bytes");
  return directory;
}

}  // namespace powershell
