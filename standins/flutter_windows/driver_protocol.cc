#include "standins/flutter_windows/driver_protocol.h"

namespace standin {
namespace {

constexpr size_t kHeaderSize = 1 + 4 + 2;

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<uint8_t>(value >> shift));
  }
}

uint32_t GetU32(const uint8_t* at) {
  return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) |
         (uint32_t{at[2]} << 8) | uint32_t{at[3]};
}

}  // namespace

std::vector<uint8_t> EncodeFrame(const DriverFrame& frame) {
  std::vector<uint8_t> out;
  const size_t channelSize = frame.channel.size() & 0xFFFF;
  out.reserve(kHeaderSize + channelSize + 4 + frame.payload.size());
  out.push_back(static_cast<uint8_t>(frame.kind));
  PutU32(out, frame.id);
  out.push_back(static_cast<uint8_t>(channelSize >> 8));
  out.push_back(static_cast<uint8_t>(channelSize));
  out.insert(out.end(), frame.channel.begin(),
             frame.channel.begin() + channelSize);
  PutU32(out, static_cast<uint32_t>(frame.payload.size()));
  out.insert(out.end(), frame.payload.begin(), frame.payload.end());
  return out;
}

void FrameReader::Append(const uint8_t* data, size_t size) {
  buffer.insert(buffer.end(), data, data + size);
}

FrameReader::Result FrameReader::Next(DriverFrame* frame) {
  if (buffer.size() < kHeaderSize) return Result::kNeedMore;
  const size_t channelSize = (size_t{buffer[5]} << 8) | buffer[6];
  const size_t lengthAt = kHeaderSize + channelSize;
  if (buffer.size() < lengthAt + 4) return Result::kNeedMore;
  const uint32_t payloadSize = GetU32(&buffer[lengthAt]);
  if (payloadSize > kMaxPayload) return Result::kMalformed;
  const size_t frameSize = lengthAt + 4 + payloadSize;
  if (buffer.size() < frameSize) return Result::kNeedMore;

  frame->kind = static_cast<char>(buffer[0]);
  frame->id = GetU32(&buffer[1]);
  frame->channel.assign(buffer.begin() + kHeaderSize,
                        buffer.begin() + lengthAt);
  frame->payload.assign(buffer.begin() + lengthAt + 4,
                        buffer.begin() + frameSize);
  buffer.erase(buffer.begin(), buffer.begin() + frameSize);
  return Result::kFrame;
}

}  // namespace standin
