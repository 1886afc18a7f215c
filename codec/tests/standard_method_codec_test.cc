#include "codec/standard_method_codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testing/hex.h"
#include "testing/stderr_capture.h"

namespace flutter {
namespace {

using testing_support::Hex;
using testing_support::StderrCapture;
using Lines = std::vector<std::string>;

const char kShortRead[] = "Invalid read in StandardCodecByteStreamReader";
const char kInvalidCall[] = "Invalid method call; method name is not a string.";

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::GetInstance();
}

// Remembers how a reply envelope was answered, and encodes that answer.
class RecordingResult : public MethodResult<EncodableValue> {
 public:
  std::string answer = "none";          // "success" or "error <code>/<message>"
  std::optional<EncodableValue> value;  // the result or the error details
  std::vector<uint8_t> envelope;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    Record("success", result);
    envelope = *Codec().EncodeSuccessEnvelope(result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    Record("error " + code + "/" + message, details);
    envelope = *Codec().EncodeErrorEnvelope(code, message, details);
  }
  void NotImplementedInternal() override { answer = "not implemented"; }

 private:
  void Record(const std::string& how, const EncodableValue* given) {
    answer = how;
    if (given) value = *given;
  }
};

// Each row: message bytes, what the call decoded from them encodes to (empty:
// no call), and the lines reported.
TEST(StandardMethodCodecTest, DecodesMethodCalls) {
  const char kGetLogs[] = "07 07 67 65 74 4C 6F 67 73 00";
  const char kWithArguments[] = "07 01 6D 0D 01 07 01 6B 03 05 00 00 00";
  EXPECT_EQ(*Codec().EncodeMethodCall(MethodCall<>("getLogs", nullptr)),
            Hex(kGetLogs));
  struct Row {
    std::string hex, encoded;
    Lines lines;
  } rows[] = {
      {kGetLogs, kGetLogs, {}},
      {"07 07 67 65 74 4C 6F 67 73", kGetLogs, {kShortRead}},
      {"07 07 67 65 74 4C 6F 67 73 00 FF FF", kGetLogs, {}},
      {kWithArguments, kWithArguments, {}},
      {"03 01 00 00 00", "", {kInvalidCall}},
      {"", "", {kShortRead, kInvalidCall}},
  };
  for (const Row& row : rows) {
    StderrCapture stderr_lines;
    std::unique_ptr<MethodCall<>> call = Codec().DecodeMethodCall(Hex(row.hex));
    EXPECT_EQ(stderr_lines.Lines(), row.lines) << row.hex;
    if (row.encoded.empty()) {
      EXPECT_EQ(call, nullptr) << row.hex;
    } else {
      ASSERT_NE(call, nullptr) << row.hex;
      EXPECT_EQ(*Codec().EncodeMethodCall(*call), Hex(row.encoded)) << row.hex;
    }
  }
}

// Each accepted envelope must also be exactly what encoding its answer gives.
TEST(StandardMethodCodecTest, EnvelopesBothWays) {
  const std::optional<EncodableValue> none;
  struct Row {
    std::string hex;
    bool accepted;
    std::string answer;
    std::optional<EncodableValue> value;
  } rows[] = {
      {"00 00", true, "success", none},
      {"00 01", true, "success", true},
      {"00 06 00 00 00 00 00 00  00 00 00 00 00 00 F8 3F", true, "success",
       1.5},
      {"01 07 0C 73 74 61 72 74 5F 66 61 69 6C 65 64"
       "   07 0C 73 74 61 72 74 20 66 61 69 6C 65 64 00",
       true, "error start_failed/start failed", none},
      // An empty message goes out as null.
      {"01 07 00 00 07 03 77 68 79", true, "error /", "why"},
      {"02", false, "none", none},
      // A code, or a message given, that is not a string.
      {"01 03 01 00 00 00 00 00", false, "bad variant access", none},
      {"01 07 01 63 01 00", false, "bad variant access", none},
  };
  for (const Row& row : rows) {
    const std::vector<uint8_t> bytes = Hex(row.hex);
    RecordingResult result;
    bool accepted = false;
    try {
      accepted =
          Codec().DecodeResponseEnvelope(bytes.data(), bytes.size(), &result);
    } catch (const std::bad_variant_access& error) {
      EXPECT_EQ(result.answer, "none") << row.hex;
      result.answer = error.what();
    }
    EXPECT_EQ(accepted, row.accepted) << row.hex;
    EXPECT_EQ(result.answer, row.answer) << row.hex;
    EXPECT_EQ(result.value, row.value) << row.hex;
    if (accepted) {
      EXPECT_EQ(result.envelope, bytes) << row.hex;
    }
  }
}

TEST(StandardMethodCodecTest, OneSharedCodecPerSerializer) {
  const StandardMethodCodec* shared = &StandardMethodCodec::GetInstance();
  EXPECT_EQ(&StandardMethodCodec::GetInstance(), shared);
  EXPECT_EQ(&StandardMethodCodec::GetInstance(
                &StandardCodecSerializer::GetInstance()),
            shared);
  static const StandardCodecSerializer other;
  const StandardMethodCodec* for_other =
      &StandardMethodCodec::GetInstance(&other);
  EXPECT_NE(for_other, shared);
  EXPECT_EQ(&StandardMethodCodec::GetInstance(&other), for_other);
}

}  // namespace
}  // namespace flutter
