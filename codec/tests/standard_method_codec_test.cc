#include "codec/standard_method_codec.h"

#include <gtest/gtest.h>

#include <memory>
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

// Remembers how a reply envelope was answered, and encodes that answer.
class RecordingResult : public MethodResult<EncodableValue> {
 public:
  std::string answer = "none";  // "success" or "error <code>/<message>"
  std::vector<uint8_t> envelope;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    answer = "success";
    envelope = *Codec().EncodeSuccessEnvelope(result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    answer = "error " + code + "/" + message;
    envelope = *Codec().EncodeErrorEnvelope(code, message, details);
  }
  void NotImplementedInternal() override { answer = "not implemented"; }
};

// Each accepted envelope must be exactly what encoding its answer gives.
TEST(StandardMethodCodecTest, EnvelopesBothWays) {
  const std::pair<std::string, std::string> rows[] = {
      {"00 00", "success"},
      {"00 01", "success"},
      {"00 06 00 00 00 00 00 00  00 00 00 00 00 00 F8 3F", "success"},
      {"01 07 0C 73 74 61 72 74 5F 66 61 69 6C 65 64"
       "   07 0C 73 74 61 72 74 20 66 61 69 6C 65 64 00",
       "error start_failed/start failed"},
      // An empty message goes out as null.
      {"01 07 00 00 07 03 77 68 79", "error /"},
      {"02", "none"},
      // A code, or a message given, that is not a string.
      {"01 03 01 00 00 00 00 00", "bad variant access"},
      {"01 07 01 63 01 00", "bad variant access"},
  };
  for (const auto& [hex, answer] : rows) {
    const std::vector<uint8_t> bytes = Hex(hex);
    RecordingResult result;
    bool accepted = false;
    try {
      accepted =
          Codec().DecodeResponseEnvelope(bytes.data(), bytes.size(), &result);
    } catch (const std::bad_variant_access& error) {
      EXPECT_EQ(result.answer, "none") << hex;
      result.answer = error.what();
    }
    EXPECT_EQ(result.answer, answer) << hex;
    EXPECT_EQ(result.envelope, accepted ? bytes : std::vector<uint8_t>{})
        << hex;
  }
}

}  // namespace
}  // namespace flutter
