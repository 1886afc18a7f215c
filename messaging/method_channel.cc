#include "messaging/method_channel.h"

#include <iostream>
#include <utility>

#include "messaging/engine_method_result.h"

namespace flutter {
namespace {

using EngineResult = EngineMethodResult<EncodableValue>;

// The result handed to the method handler. The channel keeps the engine
// result too, so that it can still answer a call whose handler threw before
// answering: the user interface would otherwise wait for ever.
class SharedResult : public MethodResult<EncodableValue> {
 public:
  explicit SharedResult(std::shared_ptr<EngineResult> target)
      : target(std::move(target)) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    result ? target->Success(*result) : target->Success();
  }
  void ErrorInternal(const std::string& error_code,
                     const std::string& error_message,
                     const EncodableValue* error_details) override {
    target->Error(error_code, error_message, error_details);
  }
  void NotImplementedInternal() override { target->NotImplemented(); }

 private:
  std::shared_ptr<EngineResult> target;
};

// Runs the handler; when it throws before answering, answers the call with
// an error and lets the exception go on to be reported.
void InvokeAnsweringOnThrow(const MethodCallHandler& handler,
                            const MethodCall<EncodableValue>& call,
                            const std::shared_ptr<EngineResult>& result) {
  try {
    handler(call, std::make_unique<SharedResult>(result));
  } catch (...) {
    if (!result->Answered()) result->Error("internal_error", "internal error");
    throw;
  }
}

// Refers to nothing in the channel object, which may be destroyed while the
// handler stays registered.
BinaryMessageHandler MessageHandlerFor(MethodCallHandler handler,
                                       const MethodCodec<EncodableValue>* codec,
                                       std::string name) {
  return [handler = std::move(handler), codec, name = std::move(name)](
             const uint8_t* message, size_t message_size, BinaryReply reply) {
    auto result = std::make_shared<EngineResult>(std::move(reply), codec);
    std::unique_ptr<MethodCall<EncodableValue>> call =
        codec->DecodeMethodCall(message, message_size);
    if (!call) {
      std::cerr << "Unable to construct method call from message on channel "
                << name << std::endl;
      result->NotImplemented();
      return;
    }
    InvokeAnsweringOnThrow(handler, *call, result);
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
