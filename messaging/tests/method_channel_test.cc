#include "messaging/method_channel.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/standard_method_codec.h"
#include "messaging/binary_messenger_impl.h"
#include "messaging/tests/test_support.h"

namespace flutter {
namespace {

using recording_embedder::DeliverMessage;
using recording_embedder::Embedder;
using Bytes = std::vector<uint8_t>;
using Call = MethodCall<EncodableValue>;
using Result = std::unique_ptr<MethodResult<EncodableValue>>;

constexpr char kChannel[] = "zorvane/xray";
// The call "getLogs" with null arguments.
const Bytes kGetLogs = {0x07, 0x07, 'g', 'e', 't', 'L', 'o', 'g', 's', 0x00};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes StringValue(const std::string& text) {
  Bytes bytes = {0x07, static_cast<uint8_t>(text.size())};
  return Concat({bytes, Bytes(text.begin(), text.end())});
}

class MethodChannelTest : public EmbedderTest {
 protected:
  // The channel object is gone at once; its handler must keep working.
  void Serve(MethodCallHandler handler) {
    MethodChannel(&messenger, kChannel, &StandardMethodCodec::GetInstance())
        .SetMethodCallHandler(std::move(handler));
  }

  // Delivers "getLogs" and returns what was written to standard error.
  std::string DeliverGetLogs() {
    CerrCapture cerr;
    DeliverMessage(kChannel, kGetLogs);
    return cerr.Text();
  }

  BinaryMessengerImpl messenger{recording_embedder::kMessenger};
};

struct AnswerCase {
  const char* name;
  std::function<void(MethodResult<EncodableValue>&)> answer;
  Bytes reply;
  bool replyBytesNull;
};

class AnswerTest : public MethodChannelTest,
                   public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, RepliesWithTheEncodedAnswer) {
  std::string seen;
  Serve([&](const Call& call, Result result) {
    seen = call.method_name();
    if (call.arguments() && call.arguments()->IsNull()) seen += "(null)";
    GetParam().answer(*result);
  });
  EXPECT_EQ(DeliverGetLogs(), "");
  EXPECT_EQ(seen, "getLogs(null)");
  ASSERT_EQ(Embedder().responses.size(), 1u);
  EXPECT_EQ(Embedder().responses[0].bytes, GetParam().reply);
  EXPECT_EQ(Embedder().responses[0].dataWasNull, GetParam().replyBytesNull);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnswerTest,
    ::testing::Values(
        AnswerCase{
            "TwoLogLines",
            [](MethodResult<EncodableValue>& r) {
              r.Success(EncodableValue(
                  EncodableList{EncodableValue(std::string("a")),
                                EncodableValue(std::string("bc"))}));
            },
            Concat({{0x00, 0x0C, 0x02}, StringValue("a"), StringValue("bc")}),
            false},
        AnswerCase{"Error",
                   [](MethodResult<EncodableValue>& r) {
                     r.Error("start_failed", "start failed");
                   },
                   Concat({{0x01},
                           StringValue("start_failed"),
                           StringValue("start failed"),
                           {0x00}}),
                   false},
        AnswerCase{"NotImplemented",
                   [](MethodResult<EncodableValue>& r) { r.NotImplemented(); },
                   {},
                   true}),
    CaseName());

TEST_F(MethodChannelTest, MessageThatIsNoCallGetsTheEmptyReply) {
  bool handlerRan = false;
  Serve([&](const Call&, Result) { handlerRan = true; });
  CerrCapture cerr;
  DeliverMessage(kChannel, {0x03, 0x2A, 0x00, 0x00, 0x00});

  EXPECT_FALSE(handlerRan);
  ASSERT_EQ(Embedder().responses.size(), 1u);
  EXPECT_TRUE(Embedder().responses[0].dataWasNull);
  EXPECT_EQ(cerr.Text(),
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel "
            "zorvane/xray\n");
}

TEST_F(MethodChannelTest, SecondAnswerIsRefusedAndTheFirstStands) {
  Serve([](const Call&, Result result) {
    result->Success();
    result->Error("start_failed", "start failed");
  });
  EXPECT_EQ(DeliverGetLogs(),
            "Error: Only one of Success, Error, or NotImplemented can be "
            "called, and it can be called exactly once. Ignoring duplicate "
            "result.\n");
  ASSERT_EQ(Embedder().responses.size(), 1u);
  EXPECT_EQ(Embedder().responses[0].bytes, (Bytes{0x00, 0x00}));
}

TEST_F(MethodChannelTest, DroppedResultWarnsAndSendsNothing) {
  Serve([](const Call&, Result) {});
  EXPECT_EQ(DeliverGetLogs(),
            "Warning: Failed to respond to a message. This is a memory "
            "leak.\n");
  EXPECT_TRUE(Embedder().responses.empty());
}

TEST_F(MethodChannelTest, ResultKeptPastTheHandlerAnswersLater) {
  Result kept;
  Serve([&](const Call&, Result result) { kept = std::move(result); });
  DeliverGetLogs();
  EXPECT_TRUE(Embedder().responses.empty());
  kept->Success(EncodableValue(true));
  kept.reset();
  ASSERT_EQ(Embedder().responses.size(), 1u);
  EXPECT_EQ(Embedder().responses[0].bytes, (Bytes{0x00, 0x01}));
}

TEST_F(MethodChannelTest, EmptyHandlerUnregistersTheChannel) {
  MethodChannel channel(&messenger, kChannel,
                        &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([](const Call&, Result) {});
  channel.SetMethodCallHandler(nullptr);
  EXPECT_EQ(Embedder().registrations.count(kChannel), 0u);
}

}  // namespace
}  // namespace flutter
