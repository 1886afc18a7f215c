#include "codec/standard_method_codec.h"

#include <iostream>
#include <map>
#include <utility>
#include <variant>

#include "codec/byte_streams.h"

namespace flutter {

namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// Most replies and calls are short: starting with room for one lets it be
// written in one allocation. A longer one grows once, when its value is
// written, to the room that value needs.
std::unique_ptr<std::vector<uint8_t>> NewMessage() {
  auto message = std::make_unique<std::vector<uint8_t>>();
  message->reserve(128);
  return message;
}

// Writes `value`, or a null value when there is none. Never through a
// temporary copy: a result such as the whole activity log can be large.
void WriteValueOrNull(const StandardCodecSerializer& serializer,
                      const EncodableValue* value, ByteStreamWriter* writer) {
  if (value != nullptr) {
    serializer.WriteValue(*value, writer);
  } else {
    serializer.WriteValue(EncodableValue(), writer);
  }
}

}  // namespace

const StandardMethodCodec& StandardMethodCodec::GetInstance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    serializer = &StandardCodecSerializer::GetInstance();
  }
  // Never destroyed: channels may hold on to their codec until the very end.
  static auto* const codecs =
      new std::map<const StandardCodecSerializer*,
                   std::unique_ptr<StandardMethodCodec>>();
  auto found = codecs->find(serializer);
  if (found == codecs->end()) {
    std::unique_ptr<StandardMethodCodec> codec(
        new StandardMethodCodec(serializer));
    found = codecs->emplace(serializer, std::move(codec)).first;
  }
  return *found->second;
}

StandardMethodCodec::StandardMethodCodec(
    const StandardCodecSerializer* serializer)
    : serializer_(serializer) {}

StandardMethodCodec::~StandardMethodCodec() = default;

std::unique_ptr<MethodCall<EncodableValue>>
StandardMethodCodec::DecodeMethodCallInternal(const uint8_t* message,
                                              size_t message_size) const {
  ByteBufferStreamReader reader(message, message_size);
  EncodableValue name = serializer_->ReadValue(&reader);
  const std::string* method_name = std::get_if<std::string>(&name);
  if (method_name == nullptr) {
    std::cerr << "Invalid method call; method name is not a string."
              << std::endl;
    return nullptr;
  }
  auto arguments =
      std::make_unique<EncodableValue>(serializer_->ReadValue(&reader));
  return std::make_unique<MethodCall<EncodableValue>>(*method_name,
                                                      std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>>
StandardMethodCodec::EncodeMethodCallInternal(
    const MethodCall<EncodableValue>& method_call) const {
  auto message = NewMessage();
  ByteBufferStreamWriter writer(message.get());
  serializer_->WriteValue(EncodableValue(method_call.method_name()), &writer);
  WriteValueOrNull(*serializer_, method_call.arguments(), &writer);
  return message;
}

std::unique_ptr<std::vector<uint8_t>>
StandardMethodCodec::EncodeSuccessEnvelopeInternal(
    const EncodableValue* result) const {
  auto envelope = NewMessage();
  ByteBufferStreamWriter writer(envelope.get());
  writer.WriteByte(kSuccessEnvelope);
  WriteValueOrNull(*serializer_, result, &writer);
  return envelope;
}

std::unique_ptr<std::vector<uint8_t>>
StandardMethodCodec::EncodeErrorEnvelopeInternal(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto envelope = NewMessage();
  ByteBufferStreamWriter writer(envelope.get());
  writer.WriteByte(kErrorEnvelope);
  serializer_->WriteValue(EncodableValue(error_code), &writer);
  serializer_->WriteValue(
      error_message.empty() ? EncodableValue() : EncodableValue(error_message),
      &writer);
  WriteValueOrNull(*serializer_, error_details, &writer);
  return envelope;
}

bool StandardMethodCodec::DecodeResponseEnvelopeInternal(
    const uint8_t* response, size_t response_size,
    MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader reader(response, response_size);
  const uint8_t flag = reader.ReadByte();
  if (flag == kSuccessEnvelope) {
    EncodableValue value = serializer_->ReadValue(&reader);
    if (value.IsNull()) {
      result->Success();
    } else {
      result->Success(value);
    }
    return true;
  }
  if (flag == kErrorEnvelope) {
    EncodableValue code = serializer_->ReadValue(&reader);
    EncodableValue message = serializer_->ReadValue(&reader);
    EncodableValue details = serializer_->ReadValue(&reader);
    const std::string* code_text = std::get_if<std::string>(&code);
    const std::string* message_text = std::get_if<std::string>(&message);
    // Thrown here rather than by std::get so that the description is the
    // plain "bad variant access" on every standard library.
    if (code_text == nullptr ||
        (message_text == nullptr && !message.IsNull())) {
      throw std::bad_variant_access();
    }
    result->Error(*code_text, message_text ? *message_text : std::string(),
                  details.IsNull() ? nullptr : &details);
    return true;
  }
  return false;
}

}  // namespace flutter
