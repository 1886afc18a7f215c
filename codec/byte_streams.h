#ifndef CODEC_BYTE_STREAMS_H_
#define CODEC_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace flutter {

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
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // CODEC_BYTE_STREAMS_H_
