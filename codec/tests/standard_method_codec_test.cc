#include "codec/standard_method_codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/tests/test_support.h"

namespace flutter {
namespace {

using codec_test::Hex;
using codec_test::kShortRead;
using codec_test::StderrCapture;
using Lines = std::vector<std::string>;

const char kInvalidCall[] = "Invalid method call; method name is not a string.";

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::GetInstance();
}

// Remembers how a reply envelope was answered.
class RecordingResult : public MethodResult<EncodableValue> {
 public:
  std::string answer = "none";
  EncodableValue value;
  bool has_value = false;
  std::string code, message;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    answer = "success";
    Keep(result);
  }
  void ErrorInternal(const std::string& error_code,
                     const std::string& error_message,
                     const EncodableValue* details) override {
    answer = "error";
    code = error_code;
    message = error_message;
    Keep(details);
  }
  void NotImplementedInternal() override { answer = "not implemented"; }

 private:
  void Keep(const EncodableValue* kept) {
    has_value = kept != nullptr;
    if (kept) value = *kept;
  }
};

TEST(StandardMethodCodecTest, MethodCallRoundTrip) {
  const std::vector<uint8_t> get_logs = Hex("07 07 67 65 74 4C 6F 67 73 00");
  MethodCall<> call("getLogs", nullptr);
  EXPECT_EQ(*Codec().EncodeMethodCall(call), get_logs);

  EncodableMap arguments{{"config", "{}"}, {"localPort", 10808}};
  MethodCall<> start("startXray", std::make_unique<EncodableValue>(arguments));
  std::unique_ptr<MethodCall<>> decoded =
      Codec().DecodeMethodCall(*Codec().EncodeMethodCall(start));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "startXray");
  EXPECT_EQ(*decoded->arguments(), EncodableValue(arguments));
}

// Each row: message bytes, decoded method name (empty: no call), and lines.
TEST(StandardMethodCodecTest, DecodesMethodCalls) {
  struct Row {
    std::string hex, method;
    Lines lines;
  } rows[] = {
      {"07 07 67 65 74 4C 6F 67 73 00", "getLogs", {}},
      {"07 07 67 65 74 4C 6F 67 73", "getLogs", {kShortRead}},
      {"07 07 67 65 74 4C 6F 67 73 00 FF FF", "getLogs", {}},
      {"03 01 00 00 00", "", {kInvalidCall}},
      {"", "", {kShortRead, kInvalidCall}},
  };
  for (const Row& row : rows) {
    StderrCapture stderr_lines;
    std::unique_ptr<MethodCall<>> call = Codec().DecodeMethodCall(Hex(row.hex));
    if (row.method.empty()) {
      EXPECT_EQ(call, nullptr) << row.hex;
    } else {
      ASSERT_NE(call, nullptr) << row.hex;
      EXPECT_EQ(call->method_name(), row.method);
      ASSERT_NE(call->arguments(), nullptr);
      EXPECT_TRUE(call->arguments()->IsNull());
    }
    EXPECT_EQ(stderr_lines.Lines(), row.lines) << row.hex;
  }
}

TEST(StandardMethodCodecTest, EncodesEnvelopes) {
  const EncodableValue yes(true), one_and_a_half(1.5);
  const EncodableValue details("why");
  struct Row {
    std::unique_ptr<std::vector<uint8_t>> bytes;
    std::string hex;
  } rows[] = {
      {Codec().EncodeSuccessEnvelope(&yes), "00 01"},
      {Codec().EncodeSuccessEnvelope(), "00 00"},
      {Codec().EncodeSuccessEnvelope(&one_and_a_half),
       "00 06 00 00 00 00 00 00  00 00 00 00 00 00 F8 3F"},
      {Codec().EncodeErrorEnvelope("start_failed", "start failed"),
       "01 07 0C 73 74 61 72 74 5F 66 61 69 6C 65 64"
       "   07 0C 73 74 61 72 74 20 66 61 69 6C 65 64 00"},
      {Codec().EncodeErrorEnvelope("", "", &details),
       "01 07 00 00 07 03 77 68 79"},
  };
  for (const Row& row : rows) EXPECT_EQ(*row.bytes, Hex(row.hex)) << row.hex;
}

TEST(StandardMethodCodecTest, DecodesResponseEnvelopes) {
  struct Row {
    std::string hex;
    bool accepted;
    std::string answer, code, message;
    bool has_value;
    EncodableValue value;
  } rows[] = {
      {"00 00", true, "success", "", "", false, EncodableValue()},
      {"00 01", true, "success", "", "", true, true},
      {"01 07 01 63 00 00", true, "error", "c", "", false, EncodableValue()},
      {"01 07 01 63 07 01 6D 03 05 00 00 00", true, "error", "c", "m", true, 5},
      {"02", false, "none", "", "", false, EncodableValue()},
  };
  for (const Row& row : rows) {
    RecordingResult result;
    EXPECT_EQ(Codec().DecodeResponseEnvelope(Hex(row.hex).data(),
                                             Hex(row.hex).size(), &result),
              row.accepted)
        << row.hex;
    EXPECT_EQ(result.answer, row.answer) << row.hex;
    EXPECT_EQ(result.code, row.code) << row.hex;
    EXPECT_EQ(result.message, row.message) << row.hex;
    EXPECT_EQ(result.has_value, row.has_value) << row.hex;
    EXPECT_EQ(result.value, row.value) << row.hex;
  }
}

TEST(StandardMethodCodecTest, ErrorEnvelopeWithoutStringCodeThrows) {
  for (const char* hex : {"01 03 01 00 00 00 00 00", "01 07 01 63 01 00"}) {
    RecordingResult result;
    std::vector<uint8_t> bytes = Hex(hex);
    try {
      Codec().DecodeResponseEnvelope(bytes.data(), bytes.size(), &result);
      ADD_FAILURE() << "no exception for " << hex;
    } catch (const std::bad_variant_access& error) {
      EXPECT_STREQ(error.what(), "bad variant access");
    }
    EXPECT_EQ(result.answer, "none");
  }
}

TEST(StandardMethodCodecTest, OneSharedCodecPerSerializer) {
  EXPECT_EQ(&StandardMethodCodec::GetInstance(),
            &StandardMethodCodec::GetInstance());
  EXPECT_EQ(&StandardMethodCodec::GetInstance(),
            &StandardMethodCodec::GetInstance(
                &StandardCodecSerializer::GetInstance()));
  static const StandardCodecSerializer other;
  EXPECT_NE(&StandardMethodCodec::GetInstance(&other),
            &StandardMethodCodec::GetInstance());
  EXPECT_EQ(&StandardMethodCodec::GetInstance(&other),
            &StandardMethodCodec::GetInstance(&other));
}

}  // namespace
}  // namespace flutter
