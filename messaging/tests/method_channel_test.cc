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

constexpr char kChannel[] = "zorvane/xray";

// The call "getLogs" with null arguments.
const Bytes kGetLogs = Hex("07 07 67 65 74 4C 6F 67 73 00");

// Error envelope 01 with the code "start_failed", the message "start failed"
// and no details.
const Bytes kStartFailed =
    Hex("01 07 0C 73 74 61 72 74 5F 66 61 69 6C 65 64"
        "   07 0C 73 74 61 72 74 20 66 61 69 6C 65 64 00");

struct ChannelCase {
  const char* name;
  Bytes message;
  std::function<void(Result&)> answer;
  std::vector<std::optional<Bytes>> replies;  // None: no bytes at all.
  std::string errorText;
};

class MethodChannelTest : public EmbedderTest,
                          public ::testing::WithParamInterface<ChannelCase> {
 protected:
  BinaryMessengerImpl messenger{recording_embedder::kMessenger};
};

TEST_P(MethodChannelTest, AnswersEachMessageAtMostOnce) {
  const ChannelCase& c = GetParam();
  const auto* codec = &StandardMethodCodec::GetInstance();
  std::string seen;
  // The channel object is gone at once; its handler must keep working.
  MethodChannel(&messenger, kChannel, codec)
      .SetMethodCallHandler(
          [&](const MethodCall<EncodableValue>& call, Result result) {
            seen = call.method_name();
            if (call.arguments() && call.arguments()->IsNull())
              seen += "(null)";
            c.answer(result);
          });
  StderrCapture cerr;
  DeliverMessage(kChannel, c.message);

  EXPECT_EQ(seen, c.message == kGetLogs ? "getLogs(null)" : "");
  EXPECT_EQ(cerr.Text(), c.errorText);
  std::vector<std::optional<Bytes>> replies;
  for (const Response& response : Embedder().responses) {
    replies.push_back(response.second);
  }
  EXPECT_EQ(replies, c.replies);

  MethodChannel(&messenger, kChannel, codec).SetMethodCallHandler(nullptr);
  EXPECT_EQ(Embedder().registrations.count(kChannel), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MethodChannelTest,
    ::testing::Values(
        ChannelCase{"TwoLogLines",
                    kGetLogs,
                    [](Result& r) {
                      r->Success(EncodableValue(
                          EncodableList{EncodableValue(std::string("a")),
                                        EncodableValue(std::string("bc"))}));
                    },
                    {Hex("00 0C 02 07 01 61 07 02 62 63")},
                    ""},
        ChannelCase{"Error",
                    kGetLogs,
                    [](Result& r) { r->Error("start_failed", "start failed"); },
                    {kStartFailed},
                    ""},
        ChannelCase{"NotImplemented",
                    kGetLogs,
                    [](Result& r) { r->NotImplemented(); },
                    {std::nullopt},
                    ""},
        ChannelCase{"SecondAnswerRefused",
                    kGetLogs,
                    [](Result& r) {
                      r->Success();
                      r->Error("start_failed", "start failed");
                    },
                    {Hex("00 00")},
                    "Error: Only one of Success, Error, or NotImplemented can "
                    "be called, and it can be called exactly once. Ignoring "
                    "duplicate result.\n"},
        ChannelCase{"Unanswered",
                    kGetLogs,
                    [](Result&) {},
                    {},
                    "Warning: Failed to respond to a message. This is a "
                    "memory leak.\n"},
        ChannelCase{"ThrowsBeforeAnswering",
                    kGetLogs,
                    [](Result&) { throw std::runtime_error("boom"); },
                    {Hex("01 07 0E 69 6E 74 65 72 6E 61 6C 5F 65 72 72 6F 72"
                         "   07 0E 69 6E 74 65 72 6E 61 6C 20 65 72 72 6F 72"
                         "   00")},
                    "Error: Unhandled exception in the handler of an incoming "
                    "message: boom\n"},
        ChannelCase{"ThrowsAfterAnswering",
                    kGetLogs,
                    [](Result& r) {
                      r->NotImplemented();
                      throw std::runtime_error("late");
                    },
                    {std::nullopt},
                    "Error: Unhandled exception in the handler of an incoming "
                    "message: late\n"},
        ChannelCase{"NotACall",
                    Hex("03 2A 00 00 00"),
                    nullptr,
                    {std::nullopt},
                    "Invalid method call; method name is not a string.\n"
                    "Unable to construct method call from message on channel "
                    "zorvane/xray\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace flutter
