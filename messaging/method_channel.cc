#include "messaging/method_channel.h"

#include <iostream>
#include <utility>

#include "messaging/engine_method_result.h"

namespace flutter {
namespace {

// Refers to nothing in the channel object, which may be destroyed while the
// handler stays registered.
BinaryMessageHandler MessageHandlerFor(MethodCallHandler handler,
                                       const MethodCodec<EncodableValue>* codec,
                                       std::string name) {
  return [handler = std::move(handler), codec, name = std::move(name)](
             const uint8_t* message, size_t message_size, BinaryReply reply) {
    auto result = std::make_unique<EngineMethodResult<EncodableValue>>(
        std::move(reply), codec);
    std::unique_ptr<MethodCall<EncodableValue>> call =
        codec->DecodeMethodCall(message, message_size);
    if (!call) {
      std::cerr << "Unable to construct method call from message on channel "
                << name << std::endl;
      result->NotImplemented();
      return;
    }
    handler(*call, std::move(result));
  };
}

}  // namespace

MethodChannel::MethodChannel(BinaryMessenger* messenger,
                             const std::string& name,
                             const MethodCodec<EncodableValue>* codec)
    : messenger(messenger), name(name), codec(codec) {}

MethodChannel::~MethodChannel() = default;

void MethodChannel::SetMethodCallHandler(MethodCallHandler handler) const {
  if (!handler) {
    messenger->SetMessageHandler(name, nullptr);
    return;
  }
  messenger->SetMessageHandler(
      name, MessageHandlerFor(std::move(handler), codec, name));
}

}  // namespace flutter
