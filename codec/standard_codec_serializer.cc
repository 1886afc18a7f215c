#include "codec/standard_codec_serializer.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <typeinfo>
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

using DecodeState = ByteStreamReader::DecodeState;

// Lists and maps being read on this thread. Counted per thread rather than
// per reader because the recursion it bounds is the thread's own stack, which
// an extension decoding an embedded message with a reader of its own goes on
// using.
thread_local int lists_and_maps_open = 0;

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

bool AdmitsNesting(int open) {
  return open < StandardCodecSerializer::kMaxNestingDepth;
}

// One more level of list or map nesting, counted while it lives; a level
// beyond kMaxNestingDepth is not admitted (and not counted).
class NestingLevel {
 public:
  explicit NestingLevel(int& open)
      : open_(open), admitted_(AdmitsNesting(open)) {
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

size_t SizeFormLength(size_t size) {
  if (size < 254) return 1;
  return size <= 0xFFFF ? 3 : 5;
}

size_t Aligned(size_t position, size_t alignment) {
  const size_t misalignment = position % alignment;
  return misalignment == 0 ? position : position + alignment - misalignment;
}

size_t EncodedEnd(const EncodableValue& value, size_t position, int depth);

size_t StringEnd(const std::string& string, size_t position) {
  return position + 1 + SizeFormLength(string.size()) + string.size();
}

// Strings, the bulk of most lists, are measured here directly.
size_t ElementEnd(const EncodableValue& element, size_t position, int depth) {
  if (const auto* string = std::get_if<std::string>(&element)) {
    return StringEnd(*string, position);
  }
  return EncodedEnd(element, position, depth);
}

template <typename T>
size_t TypedListEnd(const std::vector<T>& list, size_t position) {
  position = Aligned(position + 1 + SizeFormLength(list.size()), sizeof(T));
  return position + list.size() * sizeof(T);
}

size_t ListEnd(const EncodableList& list, size_t position, int depth) {
  if (!AdmitsNesting(depth)) return position + 1;
  position += 1 + SizeFormLength(list.size());
  for (const EncodableValue& element : list) {
    position = ElementEnd(element, position, depth + 1);
  }
  return position;
}

size_t MapEnd(const EncodableMap& map, size_t position, int depth) {
  if (!AdmitsNesting(depth)) return position + 1;
  position += 1 + SizeFormLength(map.size());
  for (const auto& entry : map) {
    position = ElementEnd(entry.first, position, depth + 1);
    position = ElementEnd(entry.second, position, depth + 1);
  }
  return position;
}

// Where `value` ends when written from `position` with `depth` lists and
// maps open around it: it fixes only how much room is reserved, never a
// byte written.
size_t EncodedEnd(const EncodableValue& value, size_t position, int depth) {
  switch (value.index()) {
    case 2:
      return position + 1 + sizeof(int32_t);
    case 3:
      return position + 1 + sizeof(int64_t);
    case 4:
      return Aligned(position + 1, 8) + sizeof(double);
    case 5:
      return StringEnd(std::get<std::string>(value), position);
    case 6:
      return TypedListEnd(std::get<std::vector<uint8_t>>(value), position);
    case 7:
      return TypedListEnd(std::get<std::vector<int32_t>>(value), position);
    case 8:
      return TypedListEnd(std::get<std::vector<int64_t>>(value), position);
    case 9:
      return TypedListEnd(std::get<std::vector<double>>(value), position);
    case 10:
      return ListEnd(std::get<EncodableList>(value), position, depth);
    case 11:
      return MapEnd(std::get<EncodableMap>(value), position, depth);
    case 13:
      return TypedListEnd(std::get<std::vector<float>>(value), position);
    default:  // null, bool, custom: the type byte alone
      return position + 1;
  }
}

// Books one byte per announced element of a list or map against the input,
// handing each back as its element starts and the rest back at the end.
class PendingElements {
 public:
  PendingElements(DecodeState& state, uint64_t count)
      : state_(state), left_(count) {
    state_.pending_bytes += count;
  }
  ~PendingElements() { state_.pending_bytes -= left_; }
  PendingElements(const PendingElements&) = delete;
  PendingElements& operator=(const PendingElements&) = delete;

  void StartOne() {
    --left_;
    --state_.pending_bytes;
  }

 private:
  DecodeState& state_;
  uint64_t left_;
};

template <typename Source>
bool Fits(uint64_t count, uint64_t width, const Source& source) {
  const uint64_t remaining = source.Remaining();
  const uint64_t pending = source.state().pending_bytes;
  if (remaining < pending) return count == 0;
  return count <= (remaining - pending) / width;
}

template <typename Source>
EncodableValue Abandon(Source& source) {
  source.SkipToEnd();
  source.state().abandoned = true;
  return EncodableValue();
}

template <typename Source>
EncodableValue RefuseSize(Source& source, size_t count) {
  std::cerr << "Invalid size in StandardCodecSerializer::ReadValueOfType: "
            << count << " is more than the remaining input can hold"
            << std::endl;
  return Abandon(source);
}

template <typename Source>
EncodableValue RefuseDepth(Source& source) {
  std::cerr << "Invalid nesting in StandardCodecSerializer::ReadValueOfType: "
               "lists and maps nested deeper than "
            << StandardCodecSerializer::kMaxNestingDepth << std::endl;
  return Abandon(source);
}

// Numbers travel as raw little-endian bytes, the byte order of every
// platform this host runs on, so they are copied without conversion.
template <typename T, typename Source>
T ReadNumber(Source& source) {
  T number{};
  source.Bytes(&number, sizeof(number));
  return number;
}

template <typename Source>
size_t ReadSizeFrom(Source& source) {
  const uint8_t first = source.Byte();
  if (first < 254) return first;
  if (first == 254) return ReadNumber<uint16_t>(source);
  return ReadNumber<uint32_t>(source);
}

template <typename Source>
EncodableValue ReadString(Source& source) {
  const size_t length = ReadSizeFrom(source);
  if (!Fits(length, 1, source)) return RefuseSize(source, length);
  return EncodableValue(source.String(length));
}

template <typename T, typename Source>
EncodableValue ReadTypedList(Source& source) {
  const size_t count = ReadSizeFrom(source);
  if (sizeof(T) > 1) source.Align(sizeof(T));
  if (!Fits(count, sizeof(T), source)) return RefuseSize(source, count);
  std::vector<T> list(count);
  source.Bytes(list.data(), count * sizeof(T));
  return EncodableValue(std::move(list));
}

template <typename Source>
EncodableValue ReadList(Source& source) {
  DecodeState& state = source.state();
  const NestingLevel level(lists_and_maps_open);
  if (!level.admitted()) return RefuseDepth(source);
  const size_t count = ReadSizeFrom(source);
  if (!Fits(count, 1, source)) return RefuseSize(source, count);
  EncodableList list;
  list.reserve(count);
  PendingElements pending(state, count);
  for (size_t i = 0; i < count; ++i) {
    pending.StartOne();
    source.AppendValue(list);
    if (state.abandoned) break;
  }
  return EncodableValue(std::move(list));
}

template <typename Source>
EncodableValue ReadMap(Source& source) {
  DecodeState& state = source.state();
  const NestingLevel level(lists_and_maps_open);
  if (!level.admitted()) return RefuseDepth(source);
  const size_t count = ReadSizeFrom(source);
  if (!Fits(count, 2, source)) return RefuseSize(source, count);
  EncodableMap map;
  PendingElements pending(state, uint64_t{count} * 2);
  for (size_t i = 0; i < count; ++i) {
    pending.StartOne();
    EncodableValue key = source.Value();
    if (state.abandoned) break;
    pending.StartOne();
    EncodableValue value = source.Value();
    if (state.abandoned) break;
    // The first value read for a key stays; later duplicates are dropped.
    // Encoders write keys in ascending order, so the end is the usual spot.
    map.try_emplace(map.end(), std::move(key), std::move(value));
  }
  return EncodableValue(std::move(map));
}

template <typename Source>
EncodableValue ReadPayload(uint8_t type, Source& source) {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(ReadNumber<int32_t>(source));
    case kInt64:
      return EncodableValue(ReadNumber<int64_t>(source));
    case kFloat64:
      source.Align(8);
      return EncodableValue(ReadNumber<double>(source));
    case kLargeInt:
    case kString:
      return ReadString(source);
    case kUInt8List:
      return ReadTypedList<uint8_t>(source);
    case kInt32List:
      return ReadTypedList<int32_t>(source);
    case kInt64List:
      return ReadTypedList<int64_t>(source);
    case kFloat64List:
      return ReadTypedList<double>(source);
    case kFloat32List:
      return ReadTypedList<float>(source);
    case kList:
      return ReadList(source);
    case kMap:
      return ReadMap(source);
    default:
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return EncodableValue();
  }
}

template <typename Source>
EncodableValue ReadTypedValue(uint8_t type, Source& source) {
  DecodeState& state = source.state();
  const bool outermost = state.values_open == 0;
  if (outermost) {
    state.abandoned = false;
    state.pending_bytes = 0;
  }
  const ScopedCount open(state.values_open);
  EncodableValue value = ReadPayload(type, source);
  if (outermost && state.abandoned) {
    state.abandoned = false;
    value = EncodableValue();
  }
  return value;
}

template <typename T, typename Sink>
void WriteNumber(T number, Sink& sink) {
  sink.Bytes(&number, sizeof(number));
}

template <typename Sink>
void WriteLongSize(size_t size, Sink& sink) {
  if (size <= 0xFFFF) {
    sink.Byte(254);
    WriteNumber(static_cast<uint16_t>(size), sink);
  } else {
    // Sizes beyond 32 bits cannot be expressed; nothing here makes them.
    sink.Byte(255);
    WriteNumber(static_cast<uint32_t>(size), sink);
  }
}

template <typename Sink>
void WriteSizeTo(size_t size, Sink& sink) {
  if (size < 254) return sink.Byte(static_cast<uint8_t>(size));
  WriteLongSize(size, sink);
}

template <typename Sink>
void WriteString(const std::string& string, Sink& sink) {
  sink.Byte(kString);
  WriteSizeTo(string.size(), sink);
  sink.Bytes(string.data(), string.size());
}

template <typename T, typename Sink>
void WriteTypedList(uint8_t type, const std::vector<T>& list, Sink& sink) {
  sink.Byte(type);
  WriteSizeTo(list.size(), sink);
  if (sizeof(T) > 1) sink.Align(sizeof(T));
  sink.Bytes(list.data(), list.size() * sizeof(T));
}

// A list or map too deep to write goes out as null, reported once per
// outermost value.
template <typename Sink>
void WriteTooDeepAsNull(Sink& sink) {
  if (!sink.state().depth_reported) {
    sink.state().depth_reported = true;
    std::cerr << "Invalid nesting in StandardCodecSerializer::WriteValue: "
                 "lists and maps nested deeper than "
              << StandardCodecSerializer::kMaxNestingDepth
              << " are written as null" << std::endl;
  }
  sink.Byte(kNull);
}

template <typename Sink>
void WriteList(const EncodableList& list, Sink& sink) {
  const NestingLevel level(sink.state().containers_open);
  if (!level.admitted()) return WriteTooDeepAsNull(sink);
  sink.Byte(kList);
  WriteSizeTo(list.size(), sink);
  for (const EncodableValue& element : list) sink.Value(element);
}

template <typename Sink>
void WriteMap(const EncodableMap& map, Sink& sink) {
  const NestingLevel level(sink.state().containers_open);
  if (!level.admitted()) return WriteTooDeepAsNull(sink);
  sink.Byte(kMap);
  WriteSizeTo(map.size(), sink);
  for (const auto& entry : map) {
    sink.Value(entry.first);
    sink.Value(entry.second);
  }
}

template <typename Sink>
void WriteCustomAsNull(Sink& sink) {
  sink.Byte(kNull);
  std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue."
               " Custom types require codec extensions."
            << std::endl;
}

template <typename Sink>
void WritePayload(const EncodableValue& value, Sink& sink) {
  switch (value.index()) {
    case 1:
      return sink.Byte(std::get<bool>(value) ? kTrue : kFalse);
    case 2:
      sink.Byte(kInt32);
      return WriteNumber(std::get<int32_t>(value), sink);
    case 3:
      sink.Byte(kInt64);
      return WriteNumber(std::get<int64_t>(value), sink);
    case 4:
      sink.Byte(kFloat64);
      sink.Align(8);
      return WriteNumber(std::get<double>(value), sink);
    case 5:
      return sink.String(std::get<std::string>(value));
    case 6:
      return WriteTypedList(kUInt8List, std::get<std::vector<uint8_t>>(value),
                            sink);
    case 7:
      return WriteTypedList(kInt32List, std::get<std::vector<int32_t>>(value),
                            sink);
    case 8:
      return WriteTypedList(kInt64List, std::get<std::vector<int64_t>>(value),
                            sink);
    case 9:
      return WriteTypedList(kFloat64List, std::get<std::vector<double>>(value),
                            sink);
    case 10:
      return WriteList(std::get<EncodableList>(value), sink);
    case 11:
      return WriteMap(std::get<EncodableMap>(value), sink);
    case 12:
      return WriteCustomAsNull(sink);
    case 13:
      return WriteTypedList(kFloat32List, std::get<std::vector<float>>(value),
                            sink);
    default:  // null, or a value left empty by a failed assignment
      return sink.Byte(kNull);
  }
}

template <typename Sink>
void WriteTypedValue(const EncodableValue& value, Sink& sink) {
  WriteState& state = sink.state();
  if (state.values_open == 0) state.depth_reported = false;
  const ScopedCount open(state.values_open);
  WritePayload(value, sink);
}

// Reads through the stream's virtual operations. Nested values go through
// the serializer's virtual ReadValueOfType, so an override applies to them.
class StreamSource {
 public:
  StreamSource(const StandardCodecSerializer& serializer,
               ByteStreamReader* stream, DecodeState& state)
      : serializer_(serializer), stream_(stream), state_(state) {}

  DecodeState& state() const { return state_; }
  uint8_t Byte() { return stream_->ReadByte(); }
  void Bytes(void* destination, size_t count) {
    stream_->ReadBytes(static_cast<uint8_t*>(destination), count);
  }
  void Align(uint8_t alignment) { stream_->ReadAlignment(alignment); }
  size_t Remaining() const { return stream_->RemainingBytes(); }
  void SkipToEnd() { stream_->SkipToEnd(); }
  std::string String(size_t length) {
    std::string string(length, '\0');
    Bytes(&string[0], length);
    return string;
  }
  EncodableValue Value() { return serializer_.ReadValue(stream_); }
  void AppendValue(EncodableList& list) { list.push_back(Value()); }

 private:
  const StandardCodecSerializer& serializer_;
  ByteStreamReader* stream_;
  DecodeState& state_;
};

// Writes through the stream's virtual operations. Nested values go through
// the serializer's virtual WriteValue, so an override applies to them.
class StreamSink {
 public:
  StreamSink(const StandardCodecSerializer& serializer,
             ByteStreamWriter* stream)
      : serializer_(serializer), stream_(stream) {}

  WriteState& state() const { return write_state; }
  void Byte(uint8_t byte) { stream_->WriteByte(byte); }
  void Bytes(const void* source, size_t count) {
    stream_->WriteBytes(static_cast<const uint8_t*>(source), count);
  }
  void Align(uint8_t alignment) { stream_->WriteAlignment(alignment); }
  void Value(const EncodableValue& value) {
    serializer_.WriteValue(value, stream_);
  }
  void String(const std::string& string) { WriteString(string, *this); }

 private:
  const StandardCodecSerializer& serializer_;
  ByteStreamWriter* stream_;
};

}  // namespace

// Reads the memory of a ByteBufferStreamReader directly, with the results
// its virtual operations would give: no virtual call per value, and each
// string copied once, straight from the input.
class ByteBufferSource {
 public:
  ByteBufferSource(ByteBufferStreamReader* stream, DecodeState& state)
      : stream_(*stream), state_(state) {}

  DecodeState& state() const { return state_; }
  uint8_t Byte() { return stream_.NextByte(); }
  void Bytes(void* destination, size_t count) {
    const uint8_t* source = stream_.Take(count);
    if (source != nullptr && count > 0) {
      std::memcpy(destination, source, count);
    }
  }
  void Align(uint8_t alignment) { stream_.Align(alignment); }
  size_t Remaining() const { return stream_.Remaining(); }
  void SkipToEnd() { stream_.ByteBufferStreamReader::SkipToEnd(); }
  std::string String(size_t length) {
    const uint8_t* bytes = stream_.Take(length);
    if (bytes == nullptr || length == 0) return std::string(length, '\0');
    return std::string(reinterpret_cast<const char*>(bytes), length);
  }
  EncodableValue Value() {
    const uint8_t type = Byte();
    return ReadTypedValue(type, *this);
  }
  // Strings, the bulk of most lists, are built in place: as nested values
  // they have nothing else to do.
  void AppendValue(EncodableList& list) {
    const uint8_t type = Byte();
    if (type != kString) return list.push_back(ReadTypedValue(type, *this));
    const size_t length = ReadSizeFrom(*this);
    if (!Fits(length, 1, *this)) {
      RefuseSize(*this, length);
      return;
    }
    list.emplace_back(std::in_place_type<std::string>, String(length));
  }

 private:
  ByteBufferStreamReader& stream_;
  DecodeState& state_;
};

// Appends to the vector of a ByteBufferStreamWriter directly, with the bytes
// its virtual operations would give. Small pieces go through a cursor into
// room that the vector has been grown to (zero-filled, a little at a time):
// appending them one by one through the vector would reload its bounds after
// every byte, as a byte store may alias them. Large blocks are appended
// whole, so that their bytes are written once rather than zeroed first.
class ByteBufferSink {
 public:
  explicit ByteBufferSink(ByteBufferStreamWriter* stream)
      : buffer_(*stream->buffer_),
        written_(buffer_.size()),
        state_(write_state) {}
  // Gives back the room not written to.
  ~ByteBufferSink() { buffer_.resize(written_); }
  ByteBufferSink(const ByteBufferSink&) = delete;
  ByteBufferSink& operator=(const ByteBufferSink&) = delete;

  WriteState& state() const { return state_; }
  size_t position() const { return written_; }
  void Byte(uint8_t byte) { *Room(1) = byte; }
  void Bytes(const void* source, size_t count) {
    if (count >= kBlockBytes) return AppendBlock(source, count);
    if (count > 0) std::memcpy(Room(count), source, count);
  }
  void Align(uint8_t alignment) {
    const size_t misalignment = written_ % alignment;
    if (misalignment == 0) return;
    const size_t padding = alignment - misalignment;
    std::memset(Room(padding), 0, padding);
  }
  // Strings, the bulk of most messages, are written here directly: as
  // nested values they have nothing else to do.
  void Value(const EncodableValue& value) {
    if (const auto* string = std::get_if<std::string>(&value)) {
      return String(*string);
    }
    WriteTypedValue(value, *this);
  }
  // A short string (shorter than a block too) as one piece: type, one-byte
  // size, bytes.
  void String(const std::string& string) {
    const size_t length = string.size();
    if (length >= 254) return WriteString(string, *this);
    uint8_t* room = Room(2 + length);
    room[0] = kString;
    room[1] = static_cast<uint8_t>(length);
    std::memcpy(room + 2, string.data(), length);
  }
  // Capacity up to `end` in one allocation, at least doubling it so that
  // many values written one after another still append in amortized
  // constant time.
  void Reserve(size_t end) {
    if (end > buffer_.capacity()) {
      buffer_.reserve(std::max(end, 2 * buffer_.capacity()));
    }
  }

 private:
  static constexpr size_t kBlockBytes = 1024;  // more than a short string
  static constexpr size_t kMinRoomStep = 64;

  // `count` bytes at the end of what is written, now counted as written.
  uint8_t* Room(size_t count) {
    if (buffer_.size() - written_ < count) Grow(count);
    uint8_t* room = buffer_.data() + written_;
    written_ += count;
    return room;
  }
  // Room for `count` bytes, and for the next small pieces: an eighth more
  // than is written so far, so that zeroing ahead stays a small share of the
  // work and the steps few, as far as the reserved capacity goes.
  void Grow(size_t count) {
    const size_t step = std::max(kMinRoomStep, written_ / 8);
    const size_t spare = buffer_.capacity() - written_;
    buffer_.resize(written_ + std::max(count, std::min(step, spare)));
  }
  void AppendBlock(const void* source, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(source);
    buffer_.resize(written_);
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    written_ += count;
  }

  std::vector<uint8_t>& buffer_;
  size_t written_;  // the vector's bytes before this are the message's
  WriteState& state_;
};

namespace {

// The direct ways of reading and writing skip only what nothing can have
// overridden: they apply when the serializer and the stream are exactly the
// standard ones.
template <typename Plain, typename Stream>
Plain* AsPlainBuffer(const StandardCodecSerializer& serializer,
                     Stream* stream) {
  if (typeid(serializer) != typeid(StandardCodecSerializer) ||
      typeid(*stream) != typeid(Plain)) {
    return nullptr;
  }
  return static_cast<Plain*>(stream);
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
  DecodeState& state = stream->decode_state_;
  if (auto* buffer = AsPlainBuffer<ByteBufferStreamReader>(*this, stream)) {
    ByteBufferSource source(buffer, state);
    return ReadTypedValue(type, source);
  }
  StreamSource source(*this, stream, state);
  return ReadTypedValue(type, source);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  if (auto* buffer = AsPlainBuffer<ByteBufferStreamWriter>(*this, stream)) {
    ByteBufferSink sink(buffer);
    sink.Reserve(
        EncodedEnd(value, sink.position(), sink.state().containers_open));
    return WriteTypedValue(value, sink);
  }
  StreamSink sink(*this, stream);
  WriteTypedValue(value, sink);
}

void StandardCodecSerializer::WriteSize(size_t size,
                                        ByteStreamWriter* stream) const {
  StreamSink sink(*this, stream);
  WriteSizeTo(size, sink);
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  StreamSource source(*this, stream, stream->decode_state_);
  return ReadSizeFrom(source);
}

}  // namespace flutter
