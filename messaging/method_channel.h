// Method calls on one named channel, answered through method results.
#ifndef MESSAGING_METHOD_CHANNEL_H_
#define MESSAGING_METHOD_CHANNEL_H_

#include <functional>
#include <memory>
#include <string>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_codec.h"
#include "codec/method_result.h"
#include "messaging/binary_messenger.h"

namespace flutter {

// Receives one decoded call, valid only during the handler, and the result
// it must answer exactly once.
using MethodCallHandler =
    std::function<void(const MethodCall<EncodableValue>& call,
                       std::unique_ptr<MethodResult<EncodableValue>> result)>;

class MethodChannel {
 public:
  // Neither messenger nor codec is owned; both must outlive every message
  // the channel's handler receives.
  MethodChannel(BinaryMessenger* messenger, const std::string& name,
                const MethodCodec<EncodableValue>* codec);
  // Leaves the handler registered with the messenger: it holds copies of all
  // it needs and keeps working.
  ~MethodChannel();

  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Replaces any earlier handler; an empty handler unregisters the channel.
  // A message that is not a call gets the empty (not-implemented) reply and
  // a line on standard error naming the channel. A call whose handler throws
  // before answering gets the error "internal_error", "internal error"; the
  // exception goes on to the messenger, which reports it.
  void SetMethodCallHandler(MethodCallHandler handler) const;

 private:
  BinaryMessenger* messenger;
  std::string name;
  const MethodCodec<EncodableValue>* codec;
};

}  // namespace flutter

#endif  // MESSAGING_METHOD_CHANNEL_H_
