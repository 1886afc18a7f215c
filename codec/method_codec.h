#ifndef CODEC_METHOD_CODEC_H_
#define CODEC_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"

namespace flutter {

// Turns method calls into bytes and back, and wraps replies in success or
// error envelopes. Each public operation forwards to its virtual one.
template <typename T = EncodableValue>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;
  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // nullptr when the message is not a valid method call.
  std::unique_ptr<MethodCall<T>> DecodeMethodCall(const uint8_t* message,
                                                  size_t message_size) const {
    return DecodeMethodCallInternal(message, message_size);
  }
  std::unique_ptr<MethodCall<T>> DecodeMethodCall(
      const std::vector<uint8_t>& message) const {
    return DecodeMethodCallInternal(message.data(), message.size());
  }

  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(
      const MethodCall<T>& method_call) const {
    return EncodeMethodCallInternal(method_call);
  }

  // `result` may be nullptr (a success without a value).
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const T* result = nullptr) const {
    return EncodeSuccessEnvelopeInternal(result);
  }

  // `error_details` may be nullptr (no details).
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message = "",
      const T* error_details = nullptr) const {
    return EncodeErrorEnvelopeInternal(error_code, error_message,
                                       error_details);
  }

  // On true, exactly one of Success or Error has been called on `result`;
  // on false (not an envelope) nothing has.
  bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                              MethodResult<T>* result) const {
    return DecodeResponseEnvelopeInternal(response, response_size, result);
  }

 protected:
  virtual std::unique_ptr<MethodCall<T>> DecodeMethodCallInternal(
      const uint8_t* message, size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMethodCallInternal(
      const MethodCall<T>& method_call) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelopeInternal(
      const T* result) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelopeInternal(
      const std::string& error_code, const std::string& error_message,
      const T* error_details) const = 0;
  virtual bool DecodeResponseEnvelopeInternal(
      const uint8_t* response, size_t response_size,
      MethodResult<T>* result) const = 0;
};

}  // namespace flutter

#endif  // CODEC_METHOD_CODEC_H_
