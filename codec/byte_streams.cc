#include "codec/byte_streams.h"

#include <cstring>
#include <iostream>

namespace flutter {

namespace {

void ReportShortRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

}  // namespace

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes,
                                               size_t size)
    : bytes_(bytes), size_(size) {}

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

uint8_t ByteBufferStreamReader::ReadByte() {
  if (position_ >= size_) {
    ReportShortRead();
    return 0;
  }
  return bytes_[position_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* destination, size_t count) {
  // Alignment may have moved the position past the end.
  if (position_ > size_ || count > size_ - position_) {
    ReportShortRead();
    return;
  }
  if (count > 0) {  // An empty destination may be a null pointer.
    std::memcpy(destination, bytes_ + position_, count);
  }
  position_ += count;
}

void ByteBufferStreamReader::ReadAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  const size_t misalignment = position_ % alignment;
  if (misalignment != 0) position_ += alignment - misalignment;
}

size_t ByteBufferStreamReader::RemainingBytes() const {
  return position_ >= size_ ? 0 : size_ - position_;
}

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
