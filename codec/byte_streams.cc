#include "codec/byte_streams.h"

#include <cstring>
#include <iostream>

namespace flutter {

void ByteBufferStreamReader::ReportShortRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes,
                                               size_t size)
    : bytes_(bytes), size_(size) {}

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

uint8_t ByteBufferStreamReader::ReadByte() { return NextByte(); }

void ByteBufferStreamReader::ReadBytes(uint8_t* destination, size_t count) {
  const uint8_t* source = Take(count);
  // An empty destination may be a null pointer.
  if (source != nullptr && count > 0) {
    std::memcpy(destination, source, count);
  }
}

void ByteBufferStreamReader::ReadAlignment(uint8_t alignment) {
  Align(alignment);
}

size_t ByteBufferStreamReader::RemainingBytes() const { return Remaining(); }

void ByteBufferStreamReader::SkipToEnd() {
  if (position_ < size_) position_ = size_;
}

ByteBufferStreamWriter::ByteBufferStreamWriter(std::vector<uint8_t>* buffer)
    : buffer_(buffer) {}

ByteBufferStreamWriter::~ByteBufferStreamWriter() = default;

void ByteBufferStreamWriter::WriteByte(uint8_t byte) {
  buffer_->push_back(byte);
}

void ByteBufferStreamWriter::WriteBytes(const uint8_t* source, size_t count) {
  if (count == 0) return;
  buffer_->insert(buffer_->end(), source, source + count);
}

void ByteBufferStreamWriter::WriteAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  const size_t misalignment = buffer_->size() % alignment;
  if (misalignment == 0) return;
  for (size_t i = misalignment; i < alignment; ++i) WriteByte(0);
}

}  // namespace flutter
