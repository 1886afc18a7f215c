#include "codec/standard_codec_serializer.h"

#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

namespace {

// Wire type codes of the standard message codec.
enum WireType : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// What the reads on this thread know about the outermost value being read.
// Thread-local because the recursion it guards is the thread's own stack,
// and because the serializer itself has to stay stateless and shareable.
struct ReadState {
  int values_open = 0;      // ReadValueOfType calls in progress
  int containers_open = 0;  // lists and maps among them
  // Every announced element that has not started yet needs at least one
  // byte still ahead, so a new size must fit in what they leave over;
  // without this, nested sizes could each claim the whole remaining input.
  uint64_t pending_bytes = 0;
  bool abandoned = false;  // a refusal ended the outermost value
};
thread_local ReadState read_state;

struct WriteState {
  int values_open = 0;
  int containers_open = 0;
  bool depth_reported = false;  // one report per outermost value is enough
};
thread_local WriteState write_state;

class ScopedCount {
 public:
  explicit ScopedCount(int& count) : count_(count) { ++count_; }
  ~ScopedCount() { --count_; }
  ScopedCount(const ScopedCount&) = delete;
  ScopedCount& operator=(const ScopedCount&) = delete;

 private:
  int& count_;
};

// One more level of list or map nesting, counted while it lives; a level
// beyond kMaxNestingDepth is not admitted (and not counted).
class NestingLevel {
 public:
  explicit NestingLevel(int& open)
      : open_(open),
        admitted_(open < StandardCodecSerializer::kMaxNestingDepth) {
    if (admitted_) ++open_;
  }
  ~NestingLevel() {
    if (admitted_) --open_;
  }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;

  bool admitted() const { return admitted_; }

 private:
  int& open_;
  const bool admitted_;
};

// Books one byte per announced element of a list or map against the input,
// handing each back as its element starts and the rest back at the end.
class PendingElements {
 public:
  explicit PendingElements(uint64_t count) : left_(count) {
    read_state.pending_bytes += count;
  }
  ~PendingElements() { read_state.pending_bytes -= left_; }
  PendingElements(const PendingElements&) = delete;
  PendingElements& operator=(const PendingElements&) = delete;

  void StartOne() {
    --left_;
    --read_state.pending_bytes;
  }

 private:
  uint64_t left_;
};

bool Fits(uint64_t count, uint64_t width, const ByteStreamReader& stream) {
  const uint64_t remaining = stream.RemainingBytes();
  const uint64_t pending = read_state.pending_bytes;
  if (remaining < pending) return count == 0;
  return count <= (remaining - pending) / width;
}

EncodableValue Abandon(ByteStreamReader* stream) {
  stream->SkipToEnd();
  read_state.abandoned = true;
  return EncodableValue();
}

EncodableValue RefuseSize(ByteStreamReader* stream, size_t count) {
  std::cerr << "Invalid size in StandardCodecSerializer::ReadValueOfType: "
            << count << " is more than the remaining input can hold"
            << std::endl;
  return Abandon(stream);
}

EncodableValue RefuseDepth(ByteStreamReader* stream) {
  std::cerr << "Invalid nesting in StandardCodecSerializer::ReadValueOfType: "
               "lists and maps nested deeper than "
            << StandardCodecSerializer::kMaxNestingDepth << std::endl;
  return Abandon(stream);
}

// Numbers travel as raw little-endian bytes, the byte order of every
// platform this host runs on, so they are copied without conversion.
template <typename T>
T ReadNumber(ByteStreamReader* stream) {
  T number{};
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof(number));
  return number;
}

template <typename T>
void WriteNumber(T number, ByteStreamWriter* stream) {
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(&number), sizeof(number));
}

EncodableValue ReadString(const StandardCodecSerializer& serializer,
                          ByteStreamReader* stream) {
  const size_t length = serializer.ReadSize(stream);
  if (!Fits(length, 1, *stream)) return RefuseSize(stream, length);
  std::string string(length, '\0');
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&string[0]), length);
  return EncodableValue(std::move(string));
}

template <typename T>
EncodableValue ReadTypedList(const StandardCodecSerializer& serializer,
                             ByteStreamReader* stream) {
  const size_t count = serializer.ReadSize(stream);
  if (sizeof(T) > 1) stream->ReadAlignment(sizeof(T));
  if (!Fits(count, sizeof(T), *stream)) return RefuseSize(stream, count);
  std::vector<T> list(count);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(list.data()), count * sizeof(T));
  return EncodableValue(std::move(list));
}

EncodableValue ReadList(const StandardCodecSerializer& serializer,
                        ByteStreamReader* stream) {
  const NestingLevel level(read_state.containers_open);
  if (!level.admitted()) return RefuseDepth(stream);
  const size_t count = serializer.ReadSize(stream);
  if (!Fits(count, 1, *stream)) return RefuseSize(stream, count);
  EncodableList list;
  list.reserve(count);
  PendingElements pending(count);
  for (size_t i = 0; i < count; ++i) {
    pending.StartOne();
    EncodableValue element = serializer.ReadValue(stream);
    if (read_state.abandoned) break;
    list.push_back(std::move(element));
  }
  return EncodableValue(std::move(list));
}

EncodableValue ReadMap(const StandardCodecSerializer& serializer,
                       ByteStreamReader* stream) {
  const NestingLevel level(read_state.containers_open);
  if (!level.admitted()) return RefuseDepth(stream);
  const size_t count = serializer.ReadSize(stream);
  if (!Fits(count, 2, *stream)) return RefuseSize(stream, count);
  EncodableMap map;
  PendingElements pending(uint64_t{count} * 2);
  for (size_t i = 0; i < count; ++i) {
    pending.StartOne();
    EncodableValue key = serializer.ReadValue(stream);
    if (read_state.abandoned) break;
    pending.StartOne();
    EncodableValue value = serializer.ReadValue(stream);
    if (read_state.abandoned) break;
    // The first value read for a key stays; later duplicates are dropped.
    // Encoders write keys in ascending order, so the end is the usual spot.
    map.try_emplace(map.end(), std::move(key), std::move(value));
  }
  return EncodableValue(std::move(map));
}

EncodableValue ReadPayload(const StandardCodecSerializer& serializer,
                           uint8_t type, ByteStreamReader* stream) {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(ReadNumber<int32_t>(stream));
    case kInt64:
      return EncodableValue(ReadNumber<int64_t>(stream));
    case kFloat64:
      stream->ReadAlignment(8);
      return EncodableValue(ReadNumber<double>(stream));
    case kLargeInt:
    case kString:
      return ReadString(serializer, stream);
    case kUInt8List:
      return ReadTypedList<uint8_t>(serializer, stream);
    case kInt32List:
      return ReadTypedList<int32_t>(serializer, stream);
    case kInt64List:
      return ReadTypedList<int64_t>(serializer, stream);
    case kFloat64List:
      return ReadTypedList<double>(serializer, stream);
    case kFloat32List:
      return ReadTypedList<float>(serializer, stream);
    case kList:
      return ReadList(serializer, stream);
    case kMap:
      return ReadMap(serializer, stream);
    default:
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return EncodableValue();
  }
}

template <typename T>
void WriteTypedList(const StandardCodecSerializer& serializer,
                    const std::vector<T>& list, ByteStreamWriter* stream) {
  serializer.WriteSize(list.size(), stream);
  if (sizeof(T) > 1) stream->WriteAlignment(sizeof(T));
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()),
                     list.size() * sizeof(T));
}

// A list or map too deep to write goes out as null, reported once per
// outermost value.
void WriteTooDeepAsNull(ByteStreamWriter* stream) {
  if (!write_state.depth_reported) {
    write_state.depth_reported = true;
    std::cerr << "Invalid nesting in StandardCodecSerializer::WriteValue: "
                 "lists and maps nested deeper than "
              << StandardCodecSerializer::kMaxNestingDepth
              << " are written as null" << std::endl;
  }
  stream->WriteByte(kNull);
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadValue(
    ByteStreamReader* stream) const {
  const uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

EncodableValue StandardCodecSerializer::ReadValueOfType(
    uint8_t type, ByteStreamReader* stream) const {
  ReadState& state = read_state;
  const bool outermost = state.values_open == 0;
  if (outermost) {
    state.abandoned = false;
    state.pending_bytes = 0;
  }
  ScopedCount open(state.values_open);
  EncodableValue value = ReadPayload(*this, type, stream);
  if (outermost && state.abandoned) {
    state.abandoned = false;
    return EncodableValue();
  }
  return value;
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  WriteState& state = write_state;
  if (state.values_open == 0) state.depth_reported = false;
  ScopedCount open(state.values_open);
  switch (value.index()) {
    case 1:
      stream->WriteByte(std::get<bool>(value) ? kTrue : kFalse);
      break;
    case 2:
      stream->WriteByte(kInt32);
      WriteNumber(std::get<int32_t>(value), stream);
      break;
    case 3:
      stream->WriteByte(kInt64);
      WriteNumber(std::get<int64_t>(value), stream);
      break;
    case 4:
      stream->WriteByte(kFloat64);
      stream->WriteAlignment(8);
      WriteNumber(std::get<double>(value), stream);
      break;
    case 5: {
      const std::string& string = std::get<std::string>(value);
      stream->WriteByte(kString);
      WriteSize(string.size(), stream);
      stream->WriteBytes(reinterpret_cast<const uint8_t*>(string.data()),
                         string.size());
      break;
    }
    case 6:
      stream->WriteByte(kUInt8List);
      WriteTypedList(*this, std::get<std::vector<uint8_t>>(value), stream);
      break;
    case 7:
      stream->WriteByte(kInt32List);
      WriteTypedList(*this, std::get<std::vector<int32_t>>(value), stream);
      break;
    case 8:
      stream->WriteByte(kInt64List);
      WriteTypedList(*this, std::get<std::vector<int64_t>>(value), stream);
      break;
    case 9:
      stream->WriteByte(kFloat64List);
      WriteTypedList(*this, std::get<std::vector<double>>(value), stream);
      break;
    case 10: {
      const NestingLevel level(state.containers_open);
      if (!level.admitted()) return WriteTooDeepAsNull(stream);
      const EncodableList& list = std::get<EncodableList>(value);
      stream->WriteByte(kList);
      WriteSize(list.size(), stream);
      for (const EncodableValue& element : list) WriteValue(element, stream);
      break;
    }
    case 11: {
      const NestingLevel level(state.containers_open);
      if (!level.admitted()) return WriteTooDeepAsNull(stream);
      const EncodableMap& map = std::get<EncodableMap>(value);
      stream->WriteByte(kMap);
      WriteSize(map.size(), stream);
      for (const auto& entry : map) {
        WriteValue(entry.first, stream);
        WriteValue(entry.second, stream);
      }
      break;
    }
    case 12:
      stream->WriteByte(kNull);
      std::cerr
          << "Unhandled custom type in StandardCodecSerializer::WriteValue."
             " Custom types require codec extensions."
          << std::endl;
      break;
    case 13:
      stream->WriteByte(kFloat32List);
      WriteTypedList(*this, std::get<std::vector<float>>(value), stream);
      break;
    default:  // null, or a value left empty by a failed assignment
      stream->WriteByte(kNull);
      break;
  }
}

void StandardCodecSerializer::WriteSize(size_t size,
                                        ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    WriteNumber(static_cast<uint16_t>(size), stream);
  } else {
    // Sizes beyond 32 bits cannot be expressed; nothing here makes them.
    stream->WriteByte(255);
    WriteNumber(static_cast<uint32_t>(size), stream);
  }
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  const uint8_t first = stream->ReadByte();
  if (first < 254) return first;
  if (first == 254) return ReadNumber<uint16_t>(stream);
  return ReadNumber<uint32_t>(stream);
}

}  // namespace flutter
