#ifndef CODEC_BYTE_STREAMS_H_
#define CODEC_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace flutter {

// The serializer's direct access to the memory streams below (defined with
// the serializer).
class ByteBufferSource;
class ByteBufferSink;

// Source of encoded bytes for one decode operation.
class ByteStreamReader {
 public:
  ByteStreamReader() = default;
  virtual ~ByteStreamReader() = default;
  ByteStreamReader(const ByteStreamReader&) = delete;
  ByteStreamReader& operator=(const ByteStreamReader&) = delete;

  virtual uint8_t ReadByte() = 0;
  virtual void ReadBytes(uint8_t* destination, size_t count) = 0;
  // Skips to the next position that is a multiple of `alignment`.
  virtual void ReadAlignment(uint8_t alignment) = 0;

  // Added after the operations above so that their slot order stays fixed.
  // Bytes left to read, so that decoders can refuse counts the input cannot
  // hold; a reader that cannot tell answers the largest size_t (no bound).
  virtual size_t RemainingBytes() const {
    return std::numeric_limits<size_t>::max();
  }
  // Gives up the rest of the input after malformed data, so that nothing
  // more is misread from it; later reads behave as reads past the end.
  virtual void SkipToEnd() {}

  // What the serializer knows about the outermost value being read from this
  // reader. It lives here, not with the thread, so that a reader opened while
  // another is being read (an extension decoding an embedded message) neither
  // sees nor spends the other's budget, and a refusal ends only its own value.
  struct DecodeState {
    int values_open = 0;  // values being read, the outermost included
    // Every announced list element or map key and value that has not started
    // yet needs at least one byte still ahead, so a new size must fit in what
    // they leave over; without this, nested sizes could each claim the whole
    // remaining input.
    uint64_t pending_bytes = 0;
    bool abandoned = false;  // a refusal ended the outermost value
  };

 private:
  friend class StandardCodecSerializer;

  DecodeState decode_state_;
};

// Sink for encoded bytes of one encode operation.
class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  virtual ~ByteStreamWriter() = default;
  ByteStreamWriter(const ByteStreamWriter&) = delete;
  ByteStreamWriter& operator=(const ByteStreamWriter&) = delete;

  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* source, size_t count) = 0;
  // Pads with zero bytes to the next multiple of `alignment`.
  virtual void WriteAlignment(uint8_t alignment) = 0;
};

// Reads a borrowed byte array, which must outlive the reader. A read past the
// end reports "Invalid read in StandardCodecByteStreamReader" on stderr,
// leaves the destination untouched (ReadByte returns 0) and does not move.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size);
  ~ByteBufferStreamReader() override;

  uint8_t ReadByte() override;
  void ReadBytes(uint8_t* destination, size_t count) override;
  void ReadAlignment(uint8_t alignment) override;
  size_t RemainingBytes() const override;
  void SkipToEnd() override;

 private:
  // The serializer reads a reader of exactly this type through the helpers
  // below, which the virtual operations use too, so both ways of reading
  // behave alike; it saves a virtual call per value and a copy per string.
  friend class ByteBufferSource;

  uint8_t NextByte() {
    if (position_ >= size_) {
      ReportShortRead();
      return 0;
    }
    return bytes_[position_++];
  }
  // The next `count` bytes, skipped over; nullptr when fewer are left.
  const uint8_t* Take(size_t count) {
    // Alignment may have moved the position past the end.
    if (position_ > size_ || count > size_ - position_) {
      ReportShortRead();
      return nullptr;
    }
    const uint8_t* start = bytes_ + position_;
    position_ += count;
    return start;
  }
  void Align(uint8_t alignment) {
    if (alignment == 0) return;
    const size_t misalignment = position_ % alignment;
    if (misalignment != 0) position_ += alignment - misalignment;
  }
  size_t Remaining() const {
    return position_ >= size_ ? 0 : size_ - position_;
  }
  static void ReportShortRead();

  const uint8_t* bytes_;
  size_t size_;
  size_t position_ = 0;
};

// Appends to a caller-owned vector; alignment counts from the vector's start.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer);
  ~ByteBufferStreamWriter() override;

  void WriteByte(uint8_t byte) override;
  void WriteBytes(const uint8_t* source, size_t count) override;
  void WriteAlignment(uint8_t alignment) override;

 private:
  // The serializer appends to the vector of a writer of exactly this type
  // directly, reserving the whole value's room first.
  friend class ByteBufferSink;

  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // CODEC_BYTE_STREAMS_H_
