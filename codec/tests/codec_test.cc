// The encodable values, the standard message codec and the method codec,
// checked against wire bytes written out by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/standard_codec_serializer.h"
#include "codec/standard_method_codec.h"
#include "testing/hex.h"
#include "testing/stderr_capture.h"

namespace flutter {
namespace {

using testing_support::Hex;
using testing_support::StderrCapture;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const char kShortRead[] = "Invalid read in StandardCodecByteStreamReader";
const char kInvalidCall[] = "Invalid method call; method name is not a string.";

const StandardCodecSerializer& kStandard =
    StandardCodecSerializer::GetInstance();

// Not exactly the standard serializer, so it goes through the streams'
// virtual operations, as the standard one does with streams other than the
// memory ones: the two ways must agree on every standard byte, value and
// report. It also extends the codec: custom values travel as type code 128,
// with no payload; and type codes 129 and 130 carry a size and then an
// embedded message, which it reads with a reader of its own, through itself
// (129) or through the standard serializer (130).
class ThroughStreamOperations : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value,
                  ByteStreamWriter* stream) const override {
    if (std::holds_alternative<CustomEncodableValue>(value)) {
      return stream->WriteByte(128);
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }
  EncodableValue ReadValueOfType(uint8_t type,
                                 ByteStreamReader* stream) const override {
    if (type == 128) return EncodableValue("custom");
    if (type != 129 && type != 130) {
      return StandardCodecSerializer::ReadValueOfType(type, stream);
    }
    std::vector<uint8_t> message(ReadSize(stream));
    stream->ReadBytes(message.data(), message.size());
    ByteBufferStreamReader reader(message.data(), message.size());
    if (type == 129) return ReadValue(&reader);
    return StandardCodecSerializer::GetInstance().ReadValue(&reader);
  }
};

const ThroughStreamOperations kExtended;
const StandardCodecSerializer* const kBothWays[] = {&kStandard, &kExtended};

// Appends `value` to `bytes`, which may already hold the start of a message.
Bytes Encode(const EncodableValue& value, Bytes bytes = {},
             const StandardCodecSerializer& serializer = kStandard) {
  ByteBufferStreamWriter writer(&bytes);
  serializer.WriteValue(value, &writer);
  return bytes;
}

EncodableValue Decode(const Bytes& bytes,
                      const StandardCodecSerializer& serializer = kStandard) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return serializer.ReadValue(&reader);
}

std::string TooLarge(const std::string& size) {
  return "Invalid size in StandardCodecSerializer::ReadValueOfType: " + size +
         " is more than the remaining input can hold";
}

// `times` copies of the hex `unit`.
std::string Repeat(const std::string& unit, size_t times) {
  std::string hex;
  for (size_t i = 0; i < times; ++i) hex += unit + " ";
  return hex;
}

// `depth` levels of single-element lists around a null.
EncodableValue Nested(int depth) {
  EncodableValue value;
  for (int i = 0; i < depth; ++i) value = EncodableList{std::move(value)};
  return value;
}

TEST(StandardCodecSerializerTest, EncodesAndDecodesWireVectors) {
  const std::pair<EncodableValue, std::string> rows[] = {
      {int32_t{1}, "03 01 00 00 00"},
      {int64_t{-2}, "04 FE FF FF FF FF FF FF FF"},
      {1.5, "06 00 00 00 00 00 00 00  00 00 00 00 00 00 F8 3F"},
      {"a", "07 01 61"},
      {std::vector<uint8_t>{1, 2}, "08 02 01 02"},
      {std::vector<int32_t>{}, "09 00 00 00"},
      {std::vector<int32_t>{1, 2}, "09 02 00 00 01 00 00 00 02 00 00 00"},
      {std::vector<int64_t>{1},
       "0A 01 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
      {std::vector<float>{1.0f}, "0E 01 00 00 00 00 80 3F"},
      {std::vector<double>{2.0},
       "0B 01 00 00 00 00 00 00  00 00 00 00 00 00 00 40"},
      {EncodableList{EncodableValue(), true, false}, "0C 03 00 01 02"},
      {EncodableMap{{"b", 1}, {"a", 2}},
       "0D 02 07 01 61 03 02 00 00 00 07 01 62 03 01 00 00 00"},
      // The size form at its boundaries.
      {std::string(253, 'x'), "07 FD " + Repeat("78", 253)},
      {std::string(254, 'x'), "07 FE FE 00 " + Repeat("78", 254)},
      {std::string(65535, 'x'), "07 FE FF FF " + Repeat("78", 65535)},
      {std::string(65536, 'x'), "07 FF 00 00 01 00 " + Repeat("78", 65536)},
  };
  for (const StandardCodecSerializer* serializer : kBothWays) {
    for (const auto& [value, hex] : rows) {
      const Bytes bytes = Hex(hex);
      StderrCapture stderr_lines;
      EXPECT_EQ(Encode(value, {}, *serializer), bytes) << hex.substr(0, 20);
      EXPECT_EQ(Decode(bytes, *serializer), value) << hex.substr(0, 20);
      EXPECT_EQ(stderr_lines.Text(), "") << hex.substr(0, 20);
    }
  }
}

// Padding counts from the first byte of the message, so every value must
// survive any number of bytes before it. (The string is Persian in UTF-8;
// the list of 200 doubles is a block of its own when written.)
TEST(StandardCodecSerializerTest, RoundTripsEveryAlternativeAtEveryOffset) {
  const EncodableValue value = EncodableList{
      EncodableList{EncodableValue(), true, INT32_MIN, INT64_MAX, -0.25,
                    "\xD8\xA7\xD8\xAA\xD8\xB5\xD8\xA7\xD9\x84"},
      EncodableList{std::vector<uint8_t>{0, 255}, std::vector<int32_t>{-1, 7},
                    std::vector<int64_t>{INT64_MIN}, std::vector<float>{0.5f}},
      EncodableList{std::vector<double>{1e300, -0.0}, std::vector<double>{},
                    std::vector<double>(200, 1.5), std::string(2000, 'y')},
      EncodableMap{{1.5, std::vector<int64_t>{3}}, {"k", EncodableMap{}}}};
  for (size_t offset = 0; offset < 8; ++offset) {
    const Bytes bytes = Encode(value, Bytes(offset, 0xAA));
    EXPECT_EQ(Encode(value, Bytes(offset, 0xAA), kExtended), bytes);
    StderrCapture stderr_lines;
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    for (size_t i = 0; i < offset; ++i) reader.ReadByte();
    EXPECT_EQ(kStandard.ReadValue(&reader), value) << "offset " << offset;
    EXPECT_EQ(reader.RemainingBytes(), 0u);
    EXPECT_EQ(stderr_lines.Text(), "");
    // Both sides could agree on the wrong padding, so check it directly.
    const size_t padding = (8 - (offset + 1) % 8) % 8;
    EXPECT_EQ(Encode(1.5, Bytes(offset, 0xAA)),
              Hex(Repeat("AA", offset) + "06 " + Repeat("00", padding) +
                  "00 00 00 00 00 00 F8 3F"));
  }
}

// Unusual and malformed input: the value it reads as and the lines reported.
// A size the input cannot hold is refused with one report and no storage set
// aside; the whole value is null and the rest of the input given up.
TEST(StandardCodecSerializerTest, DecodesUnusualInput) {
  const EncodableValue null;
  struct Row {
    std::string hex;
    EncodableValue expected;
    Lines lines;
  } rows[] = {
      {"0F",
       null,
       {"Unknown type in StandardCodecSerializer::ReadValueOfType: 15"}},
      {"05 02 31 30", "10", {}},  // a large integer, as its text
      // Of two equal keys, the first stays.
      {"0D 02 07 01 61 03 01 00 00 00 07 01 61 03 02 00 00 00",
       EncodableMap{{"a", 1}},
       {}},
      {"", null, {kShortRead}},
      {"03 01 00", 0, {kShortRead}},
      {"0C 03 03 01 00 00 00",
       EncodableList{1, null, null},
       {kShortRead, kShortRead}},
      {"09 00", std::vector<int32_t>{}, {kShortRead}},  // padding past the end
      {"07 05 61 62", null, {TooLarge("5")}},
      {"0C FF FF FF FF FF 00", null, {TooLarge("4294967295")}},
      {"0B 02 00 00 00 00 00 00 01 02 03", null, {TooLarge("2")}},
      {"0D 03 00 00 00 00 00", null, {TooLarge("3")}},  // two bytes an entry
      {"0C 02 07 01 61", null, {TooLarge("1")}},  // the next element's byte
      {"0C 02 0C 02 00", null, {TooLarge("2")}},  // the outer list's need too
      {"0D 01 07 01 6B 0C 02 01 07 09 61", null, {TooLarge("9")}}};
  for (const StandardCodecSerializer* serializer : kBothWays) {
    for (const Row& row : rows) {
      const Bytes bytes = Hex(row.hex);
      StderrCapture stderr_lines;
      ByteBufferStreamReader reader(bytes.data(), bytes.size());
      EXPECT_EQ(serializer->ReadValue(&reader), row.expected) << row.hex;
      EXPECT_EQ(stderr_lines.Lines(), row.lines) << row.hex;
      if (row.expected.IsNull()) {
        EXPECT_EQ(reader.RemainingBytes(), 0u) << row.hex;
      }
    }
  }
}

// Lists and maps nest at most 128 deep (the outermost is level 1). The
// deepest input here would overflow the stack without the limit.
TEST(StandardCodecSerializerTest, NestingBeyondTheLimit) {
  const std::string nesting = "Invalid nesting in StandardCodecSerializer::";
  const std::string deeper = "lists and maps nested deeper than 128";
  for (const StandardCodecSerializer* serializer : kBothWays) {
    EXPECT_EQ(Decode(Hex(Repeat("0C 01", 128) + "00"), *serializer),
              Nested(128));
    for (const Bytes& bytes :
         {Hex(Repeat("0C 01", 129) + "00"), Hex(Repeat("0C 01", 200000) + "00"),
          Hex(Repeat("0D 01 00", 129) + "00 00")}) {
      StderrCapture stderr_lines;
      EXPECT_TRUE(Decode(bytes, *serializer).IsNull());
      EXPECT_EQ(stderr_lines.Lines(),
                Lines{nesting + "ReadValueOfType: " + deeper});
    }
    // Written as null: two too-deep branches, one report.
    StderrCapture stderr_lines;
    const std::string branch = Repeat("0C 01", 127) + "00 ";
    EXPECT_EQ(Encode(EncodableList{Nested(128), Nested(128)}, {}, *serializer),
              Hex("0C 02 " + branch + branch));
    EXPECT_EQ(stderr_lines.Lines(), Lines{nesting + "WriteValue: " + deeper +
                                          " are written as null"});
  }
}

// Nested values go through the serializer's virtual operations, so an
// extension applies to them too, in messages as well. A message an extension
// embeds is read with a reader of its own: the input left around it does not
// bound it, and a refusal inside it makes only the embedded value null.
TEST(StandardCodecSerializerTest, Extensions) {
  const EncodableValue value(
      EncodableMap{{1, EncodableList{CustomEncodableValue(0)}}});
  StderrCapture stderr_lines;
  EXPECT_EQ(Encode(value), Hex("0D 01 03 01 00 00 00 0C 01 00"));
  EXPECT_EQ(stderr_lines.Lines(),
            Lines{"Unhandled custom type in StandardCodecSerializer::"
                  "WriteValue. Custom types require codec extensions."});
  const std::string extended = "0D 01 03 01 00 00 00 0C 01 80";
  EXPECT_EQ(Encode(value, {}, kExtended), Hex(extended));
  EXPECT_EQ(Decode(Hex(extended), kExtended),
            EncodableValue(EncodableMap{{1, EncodableList{"custom"}}}));
  EXPECT_EQ(*StandardMethodCodec::GetInstance(&kExtended)
                 .EncodeSuccessEnvelope(&value),
            Hex("00 " + extended));

  const EncodableValue null;
  const std::pair<std::string, std::string> embeddings[] = {
      {"81", "through the extension"}, {"82", "through the standard one"}};
  for (const auto& [type, how] : embeddings) {
    StderrCapture embedded_lines;
    EXPECT_EQ(
        Decode(Hex("0C 03 " + type + " 05 07 03 61 62 63 00 00"), kExtended),
        EncodableValue(EncodableList{"abc", null, null}))
        << how;
    EXPECT_EQ(embedded_lines.Lines(), Lines{}) << how;
    EXPECT_EQ(
        Decode(Hex("0C 02 " + type + " 03 07 05 61 03 01 00 00 00"), kExtended),
        EncodableValue(EncodableList{null, 1}))
        << how;
    EXPECT_EQ(embedded_lines.Lines(), Lines{TooLarge("5")}) << how;
  }
}

// `inner` wrapped in `depth` one-element lists.
EncodableValue Nested(int depth, EncodableValue inner) {
  for (int i = 0; i < depth; ++i) inner = EncodableList{std::move(inner)};
  return inner;
}

// The ordering of map keys. Each pair: the first must order strictly before
// the second.
TEST(EncodableValueTest, OrdersByIndexThenContent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  using U8 = std::vector<uint8_t>;
  const std::pair<EncodableValue, EncodableValue> pairs[] = {
      {-5, 3},
      {5, int64_t{1}},  // index first: int32 5 before int64 1
      {nan, ""},
      {"ab", "abc"},
      {"A", "\xE2"},
      {U8{0x41}, U8{0xE2}},  // bytes compare as unsigned
      {EncodableList{1, "a"}, EncodableList{1, "b"}},
      {EncodableList{1}, EncodableList{1, 0}},
      {EncodableMap{{1, 9}}, EncodableMap{{2, 0}}},  // by key first,
      {EncodableMap{{1, 2}}, EncodableMap{{1, 3}}},  // then by value
      // Deep keys are compared in one walk: asked "less?" both ways at every
      // level, 64 levels would take 2^64 steps.
      {Nested(64, 1), Nested(64, 2)},
      {Nested(32, EncodableMap{{Nested(32, 1), 1}}),
       Nested(32, EncodableMap{{Nested(32, 1), 2}})}};
  for (const auto& [smaller, larger] : pairs) {
    EXPECT_TRUE(smaller < larger) << smaller.index() << " " << larger.index();
    EXPECT_FALSE(larger < smaller) << smaller.index() << " " << larger.index();
  }
  EXPECT_FALSE(Nested(64, "a") < Nested(64, "a"));
  // Custom values order by identity: two copies are never equal keys.
  const EncodableValue first(CustomEncodableValue(1)), second(first);
  EXPECT_NE(first < second, second < first);
}

const StandardMethodCodec& kCodec = StandardMethodCodec::GetInstance();

// Each row: message bytes, what the call decoded from them encodes to (empty:
// no call), and the lines reported.
TEST(StandardMethodCodecTest, DecodesMethodCalls) {
  const char kGetLogs[] = "07 07 67 65 74 4C 6F 67 73 00";
  const char kWithArguments[] = "07 01 6D 0D 01 07 01 6B 03 05 00 00 00";
  EXPECT_EQ(*kCodec.EncodeMethodCall(MethodCall<>("getLogs", nullptr)),
            Hex(kGetLogs));
  struct Row {
    std::string hex, encoded;
    Lines lines;
  } rows[] = {
      {"07 07 67 65 74 4C 6F 67 73", kGetLogs, {kShortRead}},
      {"07 07 67 65 74 4C 6F 67 73 00 FF FF", kGetLogs, {}},
      {kWithArguments, kWithArguments, {}},
      {"03 01 00 00 00", "", {kInvalidCall}},
      {"", "", {kShortRead, kInvalidCall}},
  };
  for (const Row& row : rows) {
    StderrCapture stderr_lines;
    std::unique_ptr<MethodCall<>> call = kCodec.DecodeMethodCall(Hex(row.hex));
    EXPECT_EQ(stderr_lines.Lines(), row.lines) << row.hex;
    EXPECT_EQ(call ? *kCodec.EncodeMethodCall(*call) : Bytes{},
              Hex(row.encoded))
        << row.hex;
  }
}

// Encodes the answer a reply envelope was decoded to.
class ReencodingResult : public MethodResult<EncodableValue> {
 public:
  std::vector<uint8_t> envelope;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    envelope = *kCodec.EncodeSuccessEnvelope(result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    envelope = *kCodec.EncodeErrorEnvelope(code, message, details);
  }
  void NotImplementedInternal() override { envelope = Hex("FF"); }
};

// Each accepted envelope must be exactly what encoding its answer gives (the
// encoder's bytes are checked on every channel reply); a code, or a message
// given, that is not a string is refused with bad_variant_access, unanswered.
TEST(StandardMethodCodecTest, EnvelopesBothWays) {
  const std::pair<std::string, bool> rows[] = {
      {"00 00", true},
      {"00 06 00 00 00 00 00 00  00 00 00 00 00 00 F8 3F", true},
      {"01 07 0C 73 74 61 72 74 5F 66 61 69 6C 65 64"
       "   07 0C 73 74 61 72 74 20 66 61 69 6C 65 64 00",
       true},
      {"01 07 00 00 07 03 77 68 79", true},  // an empty message goes as null
      {"02", false},
  };
  for (const auto& [hex, accepted] : rows) {
    const Bytes bytes = Hex(hex);
    ReencodingResult result;
    EXPECT_EQ(
        kCodec.DecodeResponseEnvelope(bytes.data(), bytes.size(), &result),
        accepted)
        << hex;
    EXPECT_EQ(result.envelope, accepted ? bytes : Bytes{}) << hex;
  }
  for (const char* hex : {"01 03 01 00 00 00 00 00", "01 07 01 63 01 00"}) {
    const Bytes bytes = Hex(hex);
    ReencodingResult result;
    try {
      kCodec.DecodeResponseEnvelope(bytes.data(), bytes.size(), &result);
      ADD_FAILURE() << hex;
    } catch (const std::bad_variant_access& error) {
      EXPECT_STREQ(error.what(), "bad variant access");
    }
    EXPECT_EQ(result.envelope, Bytes{}) << hex;
  }
}

}  // namespace
}  // namespace flutter
