// The host's side of the engine's byte-message exchange on named channels.
#ifndef MESSAGING_BINARY_MESSENGER_H_
#define MESSAGING_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Answers one message with (reply bytes or none, length in bytes). Copyable;
// may be empty.
using BinaryReply =
    std::function<void(const uint8_t* reply, size_t reply_size)>;

// Receives one channel message and the reply that answers it. May be empty.
using BinaryMessageHandler = std::function<void(
    const uint8_t* message, size_t message_size, BinaryReply reply)>;

class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends one message; a non-empty reply is called once with the answer, or
  // never when the engine does not take the message.
  virtual void Send(const std::string& channel, const uint8_t* message,
                    size_t message_size, BinaryReply reply = nullptr) const = 0;

  // Installs the channel's handler, replacing any previous one; an empty
  // handler removes it.
  virtual void SetMessageHandler(const std::string& channel,
                                 BinaryMessageHandler handler) = 0;
};

}  // namespace flutter

#endif  // MESSAGING_BINARY_MESSENGER_H_
