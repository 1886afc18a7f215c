// The framing of the driver connection, the stand-in engine's "user
// interface": a test or a demo script connected over TCP sends messages on
// channels and reads back what the host answered.
//
// Every frame, in both directions, is
//   kind u8 | id u32 | channel length u16 | channel | payload length u32 |
//   payload
// with the integers big-endian and the channel in UTF-8.
#ifndef STANDINS_FLUTTER_WINDOWS_DRIVER_PROTOCOL_H_
#define STANDINS_FLUTTER_WINDOWS_DRIVER_PROTOCOL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

namespace frame_kind {
// Driver to engine: a message for the host's handler of the channel; the
// answer carries the same id. Engine to driver: a message the host sent, to
// be answered with a reply frame of the same id.
constexpr char kMessage = 'M';
// The reply to a message, byte for byte; the payload may be empty.
constexpr char kReply = 'R';
// No handler is registered for the message's channel.
constexpr char kUnhandled = 'U';
// The handler returned without replying; a reply may still follow.
constexpr char kPending = 'P';
// The engine stopped before the message was answered; nothing will follow.
constexpr char kAbandoned = 'A';
// Driver to engine: asks for the transcript; the answer is a frame of the
// same kind and id whose payload is the transcript's text.
constexpr char kTranscript = 'T';
// Driver to engine: close the host's top-level window; acknowledged with a
// frame of the same kind and id.
constexpr char kClose = 'Q';
// Driver to engine: the stand-in's records (records.h); the answer is a
// frame of the same kind and id whose payload is their text.
constexpr char kRecords = 'S';
// Driver to engine: claim the next message of the host's top-level window
// of the kind in the payload's first four bytes, answering it with the
// signed result in the next eight; acknowledged with a frame of the same
// kind and id once in place.
constexpr char kClaim = 'C';
}  // namespace frame_kind

struct DriverFrame {
  char kind = 0;
  uint32_t id = 0;
  std::string channel;
  std::vector<uint8_t> payload;
};

std::vector<uint8_t> EncodeFrame(const DriverFrame& frame);

// Cuts a byte stream into frames.
class FrameReader {
 public:
  // Larger payloads mean a broken or hostile peer, not a message.
  static constexpr uint32_t kMaxPayload = 64u << 20;

  enum class Result { kFrame, kNeedMore, kMalformed };

  void Append(const uint8_t* data, size_t size);
  // kMalformed: the stream cannot continue and the connection must be
  // dropped.
  Result Next(DriverFrame* frame);

 private:
  std::vector<uint8_t> buffer;
};

}  // namespace standin

#endif  // STANDINS_FLUTTER_WINDOWS_DRIVER_PROTOCOL_H_
