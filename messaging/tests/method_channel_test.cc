#include "messaging/method_channel.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/standard_method_codec.h"
#include "messaging/binary_messenger_impl.h"
#include "messaging/tests/test_support.h"
#include "testing/hex.h"

namespace flutter {
namespace {

using testing_support::Hex;
using Result = std::unique_ptr<MethodResult<EncodableValue>>;

const std::string kThrown =
    "Error: Unhandled exception in the handler of an incoming message: ";

// Each row: a message, how the handler answers it, the replies sent (none:
// no bytes at all) and the lines reported. Plain answers are the end-to-end
// suite's.
TEST_F(EmbedderTest, MethodChannelAnswersEachCallExactlyOnce) {
  const char kGetLogs[] = "07 07 67 65 74 4C 6F 67 73 00";
  const std::optional<Bytes> none;
  struct Row {
    std::string hex;
    std::function<void(Result&)> answer;
    std::vector<std::optional<Bytes>> replies;
    Lines lines;
  } rows[] = {
      {kGetLogs,
       [](Result& r) {
         r->Success(EncodableList{"a", "bc"});
         r->Error("start_failed", "start failed");
       },
       {Hex("00 0C 02 07 01 61 07 02 62 63")},
       {"Error: Only one of Success, Error, or NotImplemented can be called, "
        "and it can be called exactly once. Ignoring duplicate result."}},
      {kGetLogs,
       [](Result&) {},
       {},
       {"Warning: Failed to respond to a message. This is a memory leak."}},
      {kGetLogs,
       [](Result&) { throw std::runtime_error("boom"); },
       {Hex("01 07 0E 69 6E 74 65 72 6E 61 6C 5F 65 72 72 6F 72"
            "   07 0E 69 6E 74 65 72 6E 61 6C 20 65 72 72 6F 72   00")},
       {kThrown + "boom"}},
      {kGetLogs,
       [](Result& r) {
         r->NotImplemented();
         throw std::runtime_error("late");
       },
       {none},
       {kThrown + "late"}},
      {"03 2A 00 00 00",
       nullptr,
       {none},
       {"Invalid method call; method name is not a string.",
        "Unable to construct method call from message on channel "
        "zorvane/xray"}}};
  BinaryMessengerImpl messenger(recording_embedder::kMessenger);
  const auto* codec = &StandardMethodCodec::GetInstance();
  const Row* row = nullptr;
  // The channel object is gone at once; its handler must keep working.
  MethodChannel(&messenger, "zorvane/xray", codec)
      .SetMethodCallHandler([&](const MethodCall<>& call, Result result) {
        EXPECT_EQ(call.method_name(), "getLogs");
        row->answer(result);
      });
  for (const Row& each : rows) {
    row = &each;
    SCOPED_TRACE(&each - rows);
    Embedder().responses.clear();
    StderrCapture cerr;
    DeliverMessage("zorvane/xray", Hex(each.hex));
    EXPECT_EQ(Embedder().responses, each.replies);
    EXPECT_EQ(cerr.Lines(), each.lines);
  }
  MethodChannel(&messenger, "zorvane/xray", codec)
      .SetMethodCallHandler(nullptr);
  EXPECT_TRUE(Embedder().registrations.empty());
}

}  // namespace
}  // namespace flutter
