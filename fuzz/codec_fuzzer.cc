// Feeds arbitrary bytes to every decoder of the message encoding and checks
// that what they decoded encodes to bytes that decode to the same thing.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <streambuf>
#include <variant>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "codec/standard_method_codec.h"

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;
using flutter::StandardCodecSerializer;
using flutter::StandardMethodCodec;

// Swallows the decoders' report lines, which malformed input makes plenty of.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void Check(bool holds) {
  if (!holds) std::abort();
}

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

EncodableValue Decode(const uint8_t* data, size_t size) {
  ByteBufferStreamReader reader(data, size);
  return StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

// Byte comparison rather than value comparison: a NaN is not equal to itself.
void CheckValueRoundTrip(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> encoded = Encode(Decode(data, size));
  const std::vector<uint8_t> again =
      Encode(Decode(encoded.data(), encoded.size()));
  Check(again == encoded);
}

void CheckMethodCallRoundTrip(const uint8_t* data, size_t size) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  std::unique_ptr<MethodCall<>> call = codec.DecodeMethodCall(data, size);
  if (!call) return;
  const std::unique_ptr<std::vector<uint8_t>> encoded =
      codec.EncodeMethodCall(*call);
  std::unique_ptr<MethodCall<>> again = codec.DecodeMethodCall(*encoded);
  Check(again && again->method_name() == call->method_name());
  Check(*codec.EncodeMethodCall(*again) == *encoded);
}

// Re-encodes whichever answer the envelope decoder gives.
class ReencodingResult : public MethodResult<> {
 public:
  std::unique_ptr<std::vector<uint8_t>> envelope;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    envelope = StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    envelope = StandardMethodCodec::GetInstance().EncodeErrorEnvelope(
        code, message, details);
  }
  void NotImplementedInternal() override { std::abort(); }
};

bool DecodeEnvelope(const uint8_t* data, size_t size,
                    ReencodingResult* result) {
  try {
    return StandardMethodCodec::GetInstance().DecodeResponseEnvelope(data, size,
                                                                     result);
  } catch (const std::bad_variant_access&) {
    // The one failure the envelope decoder lets through: a code or message
    // that is not a string.
    return false;
  }
}

void CheckEnvelopeRoundTrip(const uint8_t* data, size_t size) {
  ReencodingResult first;
  if (!DecodeEnvelope(data, size, &first)) return;
  Check(first.envelope != nullptr);
  ReencodingResult second;
  Check(
      DecodeEnvelope(first.envelope->data(), first.envelope->size(), &second));
  Check(*second.envelope == *first.envelope);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static NullBuffer null_buffer;
  std::cerr.rdbuf(&null_buffer);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckValueRoundTrip(data, size);
  CheckMethodCallRoundTrip(data, size);
  CheckEnvelopeRoundTrip(data, size);
  return 0;
}
