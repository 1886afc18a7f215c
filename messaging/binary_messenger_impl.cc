#include "messaging/binary_messenger_impl.h"

#include <atomic>
#include <iostream>
#include <memory>
#include <utility>

#include "messaging/callback_guard.h"

namespace flutter {
namespace {

// Holds the messenger lock for one scope. Lock may hand back nothing, in which
// case there is nothing to unlock.
class MessengerLock {
 public:
  explicit MessengerLock(FlutterDesktopMessengerRef messenger)
      : locked(FlutterDesktopMessengerLock(messenger)) {}
  ~MessengerLock() {
    if (locked != nullptr) FlutterDesktopMessengerUnlock(locked);
  }
  MessengerLock(const MessengerLock&) = delete;
  MessengerLock& operator=(const MessengerLock&) = delete;

 private:
  FlutterDesktopMessengerRef locked;
};

// The state behind every copy of one incoming message's reply. It keeps the
// messenger referenced so that a late reply still finds a valid handle, and
// it holds the response handle once for all copies: the engine frees the
// handle when it is answered, so no second copy may hand it back again.
class IncomingResponse {
 public:
  IncomingResponse(FlutterDesktopMessengerRef messenger,
                   const FlutterDesktopMessageResponseHandle* responseHandle)
      : messenger(FlutterDesktopMessengerAddRef(messenger)),
        responseHandle(responseHandle) {}
  ~IncomingResponse() { FlutterDesktopMessengerRelease(messenger); }
  IncomingResponse(const IncomingResponse&) = delete;
  IncomingResponse& operator=(const IncomingResponse&) = delete;

  // Callable from any thread; the lock spans the availability test and the
  // response.
  void Respond(const uint8_t* reply, size_t reply_size) {
    MessengerLock lock(messenger);
    if (!FlutterDesktopMessengerIsAvailable(messenger)) return;
    const FlutterDesktopMessageResponseHandle* handle =
        responseHandle.exchange(nullptr);
    if (handle == nullptr) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate "
                   "response."
                << std::endl;
      return;
    }
    FlutterDesktopMessengerSendResponse(messenger, handle, reply, reply_size);
  }

 private:
  FlutterDesktopMessengerRef messenger;
  std::atomic<const FlutterDesktopMessageResponseHandle*> responseHandle;
};

void DispatchIncomingMessage(FlutterDesktopMessengerRef messenger,
                             const FlutterDesktopMessage* message,
                             void* user_data) {
  RunGuarded("the handler of an incoming message", [&] {
    auto response =
        std::make_shared<IncomingResponse>(messenger, message->response_handle);
    BinaryReply reply = [response = std::move(response)](const uint8_t* bytes,
                                                         size_t size) {
      response->Respond(bytes, size);
    };
    // Held for the call, so that a handler that replaces or removes its own
    // channel's handler is not destroyed while it runs; not copied, so that
    // the state it keeps lasts from one message to the next.
    const std::shared_ptr<BinaryMessageHandler> handler =
        *static_cast<std::shared_ptr<BinaryMessageHandler>*>(user_data);
    (*handler)(message->message, message->message_size, std::move(reply));
  });
}

void DeliverReply(const uint8_t* reply, size_t reply_size, void* user_data) {
  std::unique_ptr<BinaryReply> pending(static_cast<BinaryReply*>(user_data));
  RunGuarded("the reply to a sent message",
             [&] { (*pending)(reply, reply_size); });
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(
    FlutterDesktopMessengerRef messengerHandle)
    : messengerHandle(messengerHandle) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel,
                               const uint8_t* message, size_t message_size,
                               BinaryReply reply) const {
  if (messengerHandle == nullptr) return;
  if (!reply) {
    FlutterDesktopMessengerSend(messengerHandle, channel.c_str(), message,
                                message_size);
    return;
  }
  auto pending = std::make_unique<BinaryReply>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messengerHandle, channel.c_str(),
                                           message, message_size, DeliverReply,
                                           pending.get())) {
    pending.release();  // The engine hands it back to DeliverReply.
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            BinaryMessageHandler handler) {
  if (messengerHandle == nullptr) return;
  if (!handler) {
    handlers.erase(channel);
    FlutterDesktopMessengerSetCallback(messengerHandle, channel.c_str(),
                                       nullptr, nullptr);
    return;
  }
  std::shared_ptr<BinaryMessageHandler>& stored = handlers[channel];
  stored = std::make_shared<BinaryMessageHandler>(std::move(handler));
  FlutterDesktopMessengerSetCallback(messengerHandle, channel.c_str(),
                                     DispatchIncomingMessage, &stored);
}

}  // namespace flutter
