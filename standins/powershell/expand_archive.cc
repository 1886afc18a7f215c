#include "standins/powershell/expand_archive.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "standins/powershell/zip_directory.h"
#include "standins/powershell/zip_entry_name.h"
#include "win/handles.h"
#include "win/text.h"

namespace powershell {
namespace {

constexpr size_t kChunk = 64 * 1024;

// `error` is taken before the path is converted, which may change it.
std::string Describe(const char* what, const std::wstring& path, DWORD error) {
  return std::string(what) + " " + win::WideToUtf8(path) + " (Windows error " +
         std::to_string(error) + ")";
}

std::string ReadArchive(const std::wstring& path, std::vector<uint8_t>* bytes) {
  win::UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return "the archive " + win::WideToUtf8(path) + " does not exist";
    }
    return Describe("cannot open the archive", path, error);
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) {
    return Describe("cannot size the archive", path, GetLastError());
  }
  // Without ZIP64 no offset in an archive goes past 4 GiB.
  if (size.QuadPart > 0xFFFFFFFFLL + 0xFFFF) return "the archive is too large";
  bytes->resize(static_cast<size_t>(size.QuadPart));
  for (size_t done = 0; done < bytes->size();) {
    const DWORD wanted =
        static_cast<DWORD>(std::min<size_t>(bytes->size() - done, 1 << 24));
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes->data() + done, wanted, &read, nullptr)) {
      return Describe("cannot read the archive", path, GetLastError());
    }
    if (read == 0) return "the archive " + win::WideToUtf8(path) + " shrank";
    done += read;
  }
  return {};
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring ParentOf(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring()
                                         : path.substr(0, separator);
}

// The folder and any missing parents; a folder already there is fine, a
// file in its place is not.
std::string CreateFolderTree(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return {};
  DWORD error = GetLastError();
  const std::wstring parent = ParentOf(path);
  if (error == ERROR_PATH_NOT_FOUND && !parent.empty()) {
    const std::string why = CreateFolderTree(parent);
    if (!why.empty()) return why;
    if (CreateDirectoryW(path.c_str(), nullptr)) return {};
    error = GetLastError();
  }
  if (IsFolder(path)) return {};
  return Describe("cannot create the folder", path, error);
}

// The first `count` components below the destination, joined by
// backslashes.
std::wstring PathBelow(const std::wstring& destination,
                       const std::vector<std::string>& components,
                       size_t count) {
  std::wstring path = destination;
  for (size_t i = 0; i < count; ++i) {
    if (path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += win::Utf8ToWide(components[i]);
  }
  return path;
}

// Writes an entry's decoded bytes to its file, keeping their CRC-32 and
// count to compare with the directory's.
class EntryWriter {
 public:
  explicit EntryWriter(HANDLE file) : file(file) {}

  bool Write(const uint8_t* bytes, size_t count) {
    crc = crc32(crc, bytes, static_cast<uInt>(count));
    written += count;
    while (count > 0) {
      DWORD done = 0;
      if (!WriteFile(file, bytes, static_cast<DWORD>(count), &done, nullptr)) {
        error = GetLastError();
        return false;
      }
      if (done == 0) {
        error = ERROR_WRITE_FAULT;
        return false;
      }
      bytes += done;
      count -= done;
    }
    return true;
  }

  bool Matches(const ZipEntry& entry) const {
    return written == entry.size && crc == entry.crc32;
  }
  bool Failed() const { return error != ERROR_SUCCESS; }
  DWORD Error() const { return error; }

 private:
  HANDLE file;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t written = 0;
  DWORD error = ERROR_SUCCESS;
};

// Ends a raw inflate stream however the decoding ends.
class Inflater {
 public:
  Inflater() { started = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (started) inflateEnd(&stream);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool Started() const { return started; }
  z_stream& Stream() { return stream; }

 private:
  z_stream stream{};
  bool started = false;
};

// Empty, or what stopped the decoding: the data or the writer.
std::string Inflate(const uint8_t* data, const ZipEntry& entry,
                    EntryWriter* writer) {
  Inflater inflater;
  if (!inflater.Started()) return "zlib could not start";
  z_stream& stream = inflater.Stream();
  stream.next_in = data;
  stream.avail_in = entry.compressed_size;
  std::vector<uint8_t> chunk(kChunk);
  for (int status = Z_OK; status != Z_STREAM_END;) {
    stream.next_out = chunk.data();
    stream.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&stream, Z_NO_FLUSH);
    // Z_BUF_ERROR: the entry's bytes ran out before the stream's end.
    if (status != Z_OK && status != Z_STREAM_END) return "damaged data";
    if (stream.total_out > entry.size) return "more data than its size";
    if (!writer->Write(chunk.data(), chunk.size() - stream.avail_out)) {
      return "not written";
    }
  }
  if (stream.avail_in != 0) return "bytes after the end of its data";
  return {};
}

std::string ExtractFile(const uint8_t* archive, const ZipEntry& entry,
                        const std::wstring& path) {
  win::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Describe("cannot write", path, GetLastError());
  EntryWriter writer(file.Get());
  const uint8_t* data = archive + entry.data_offset;
  std::string why;
  if (entry.method == kMethodStored) {
    writer.Write(data, entry.size);
  } else {
    why = Inflate(data, entry, &writer);
  }
  if (writer.Failed()) return Describe("cannot write", path, writer.Error());
  if (why.empty() && !writer.Matches(entry)) why = "CRC-32 or size mismatch";
  if (why.empty()) return {};
  return "damaged archive: entry " + win::WideToUtf8(path) + ": " + why;
}

std::string ExtractEntry(const uint8_t* archive, const ZipEntry& entry,
                         const EntryPath& path,
                         const std::wstring& destination) {
  const std::vector<std::string>& components = path.components;
  if (path.is_folder) {
    return CreateFolderTree(
        PathBelow(destination, components, components.size()));
  }
  const std::string why = CreateFolderTree(
      PathBelow(destination, components, components.size() - 1));
  if (!why.empty()) return why;
  return ExtractFile(archive, entry,
                     PathBelow(destination, components, components.size()));
}

}  // namespace

std::string ExpandArchive(const std::wstring& archive,
                          const std::wstring& destination) {
  std::vector<uint8_t> bytes;
  std::string why = ReadArchive(archive, &bytes);
  if (!why.empty()) return why;
  const ZipDirectory directory = ReadZipDirectory(bytes.data(), bytes.size());
  if (!directory.error.empty()) return directory.error;
  std::vector<EntryPath> paths;
  for (const ZipEntry& entry : directory.entries) {
    paths.push_back(ParseEntryName(entry.name, entry.utf8_name));
    if (!paths.back().error.empty()) return paths.back().error;
  }
  why = CreateFolderTree(destination);
  for (size_t i = 0; i < paths.size() && why.empty(); ++i) {
    why =
        ExtractEntry(bytes.data(), directory.entries[i], paths[i], destination);
  }
  return why;
}

}  // namespace powershell
