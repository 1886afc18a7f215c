// BinaryMessenger over the engine's messenger handle.
#ifndef MESSAGING_BINARY_MESSENGER_IMPL_H_
#define MESSAGING_BINARY_MESSENGER_IMPL_H_

#include <map>
#include <memory>
#include <string>

#include "messaging/binary_messenger.h"
#include "messaging/flutter_windows.h"

namespace flutter {

// Must be used on the platform thread: the handler table has no lock because
// the engine delivers messages on the thread that registers the handlers.
// The replies it hands to handlers may be called from any thread. All copies
// of one message's reply share its single response handle, since the engine
// frees that handle once it is answered.
// Failures: a reply used a second time writes a line to standard error and
// sends nothing, one used after the engine is gone is dropped silently, and
// an exception out of a handler or reply is reported on standard error and
// stops there.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // Borrows the handle: no reference is taken on it. A null handle (no
  // engine) passes nothing to the embedder: messages and handlers given to it
  // are dropped.
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messengerHandle);
  // Frees the handler table without calling the engine, which is expected to
  // be gone already.
  ~BinaryMessengerImpl() override;

  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel, const uint8_t* message,
            size_t message_size, BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel,
                         BinaryMessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messengerHandle;
  // A node-based map: the engine keeps the address of each entry's owner as
  // its callback data, so entries must not move while registered. Shared, so
  // that a message keeps its handler alive while it runs, even if the handler
  // replaces or removes itself meanwhile.
  std::map<std::string, std::shared_ptr<BinaryMessageHandler>> handlers;
};

}  // namespace flutter

#endif  // MESSAGING_BINARY_MESSENGER_IMPL_H_
