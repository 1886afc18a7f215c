#ifndef CODEC_STANDARD_METHOD_CODEC_H_
#define CODEC_STANDARD_METHOD_CODEC_H_

#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_codec.h"
#include "codec/standard_codec_serializer.h"

namespace flutter {

// The method-call layer of the Flutter standard method codec. Immutable, so
// any thread may use it. DecodeMethodCall returns nullptr, after the stderr
// line "Invalid method call; method name is not a string.", when the first
// value is not a string; DecodeResponseEnvelope lets std::bad_variant_access
// escape when an error envelope's code or non-null message is not a string.
class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // The shared codec for `serializer` (the shared standard serializer when
  // nullptr): one per serializer for the life of the process. Call it on one
  // thread at a time (the platform thread).
  static const StandardMethodCodec& GetInstance(
      const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override;

 protected:
  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCallInternal(
      const uint8_t* message, size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCallInternal(
      const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelopeInternal(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelopeInternal(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;
  bool DecodeResponseEnvelopeInternal(
      const uint8_t* response, size_t response_size,
      MethodResult<EncodableValue>* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer);

  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter

#endif  // CODEC_STANDARD_METHOD_CODEC_H_
