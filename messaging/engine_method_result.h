// The method result that answers a call with the reply of the incoming
// message that carried it.
#ifndef MESSAGING_ENGINE_METHOD_RESULT_H_
#define MESSAGING_ENGINE_METHOD_RESULT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_codec.h"
#include "codec/method_result.h"
#include "messaging/binary_messenger.h"

namespace flutter {

// Holds one message's reply until its first use. Not locked: answer it from
// one thread at a time. A second use is refused with a line on standard
// error; dropping it unused leaves the message unanswered, with a warning.
class OneShotReply {
 public:
  explicit OneShotReply(BinaryReply reply);
  ~OneShotReply();

  OneShotReply(const OneShotReply&) = delete;
  OneShotReply& operator=(const OneShotReply&) = delete;

  // Null or empty data replies with no bytes.
  void SendResponseData(const std::vector<uint8_t>* data);
  bool Answered() const { return !reply; }

 private:
  BinaryReply reply;  // Empty once answered.
};

// Encodes the answer with the channel's codec, which must outlive it.
template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  EngineMethodResult(BinaryReply reply, const MethodCodec<T>* codec)
      : replyHolder(std::move(reply)), codec(codec) {}

  // True once Success, Error or NotImplemented has been called.
  bool Answered() const { return replyHolder.Answered(); }

 protected:
  void SuccessInternal(const T* result) override {
    const auto data = codec->EncodeSuccessEnvelope(result);
    replyHolder.SendResponseData(data.get());
  }

  void ErrorInternal(const std::string& error_code,
                     const std::string& error_message,
                     const T* error_details) override {
    const auto data =
        codec->EncodeErrorEnvelope(error_code, error_message, error_details);
    replyHolder.SendResponseData(data.get());
  }

  // The empty reply tells the caller that nothing handles the method.
  void NotImplementedInternal() override {
    replyHolder.SendResponseData(nullptr);
  }

 private:
  OneShotReply replyHolder;
  const MethodCodec<T>* codec;
};

}  // namespace flutter

#endif  // MESSAGING_ENGINE_METHOD_RESULT_H_
