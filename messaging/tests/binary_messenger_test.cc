#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "messaging/binary_messenger_impl.h"
#include "messaging/tests/test_support.h"

namespace flutter {
namespace {

using recording_embedder::DeliverMessage;
using recording_embedder::Embedder;
using Calls = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

constexpr char kChannel[] = "zorvane/xray";
constexpr char kDuplicateLine[] =
    "Error: Response can be set only once. Ignoring duplicate response.\n";
const Bytes kAnswer = {0x00, 0x01};

class BinaryMessengerTest : public EmbedderTest {
 protected:
  BinaryMessengerImpl messenger{recording_embedder::kMessenger};
};

TEST_F(BinaryMessengerTest, HandlerTableTellsTheEngineEveryChange) {
  std::string ran;
  messenger.SetMessageHandler("never/set", nullptr);
  messenger.SetMessageHandler(
      kChannel, [&](const uint8_t*, size_t, BinaryReply) { ran += "1"; });
  void* const firstAddress = Embedder().registrations.at(kChannel).userData;
  messenger.SetMessageHandler(
      kChannel, [&](const uint8_t*, size_t, BinaryReply) { ran += "2"; });
  EXPECT_EQ(Embedder().registrations.at(kChannel).userData, firstAddress);
  DeliverMessage(kChannel, {});
  messenger.SetMessageHandler(kChannel, nullptr);

  EXPECT_EQ(ran, "2");
  EXPECT_TRUE(Embedder().registrations.empty());
  EXPECT_EQ(Embedder().calls,
            (Calls{"MessengerSetCallback never/set",
                   "MessengerSetCallback zorvane/xray",
                   "MessengerSetCallback zorvane/xray", "MessengerAddRef",
                   "MessengerRelease", "MessengerSetCallback zorvane/xray"}));
}

TEST_F(BinaryMessengerTest, AnswerIsSentUnderTheLockWhileReferenced) {
  messenger.SetMessageHandler(kChannel,
                              [](const uint8_t*, size_t, BinaryReply reply) {
                                reply(kAnswer.data(), kAnswer.size());
                              });
  const uintptr_t handle = DeliverMessage(kChannel, {});

  EXPECT_EQ(
      Embedder().calls,
      (Calls{"MessengerSetCallback zorvane/xray", "MessengerAddRef",
             "MessengerLock", "MessengerIsAvailable", "MessengerSendResponse",
             "MessengerUnlock", "MessengerRelease"}));
  ASSERT_EQ(Embedder().responses.size(), 1u);
  EXPECT_EQ(Embedder().responses[0].responseHandle, handle);
  EXPECT_EQ(Embedder().responses[0].bytes, kAnswer);
}

struct ReplyCase {
  const char* name;
  bool engineAvailable;
  bool lockReturnsNothing;
  int answers;        // Times the handler's reply is called...
  int answersByCopy;  // ...and then a copy of it.
  size_t responsesSent;
  std::string errorText;
};

class ReplyTest : public BinaryMessengerTest,
                  public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, SendsAtMostOneResponse) {
  const ReplyCase& c = GetParam();
  Embedder().messengerAvailable = c.engineAvailable;
  Embedder().lockReturnsNothing = c.lockReturnsNothing;
  messenger.SetMessageHandler(kChannel,
                              [&](const uint8_t*, size_t, BinaryReply reply) {
                                const BinaryReply copy = reply;
                                for (int i = 0; i < c.answers; ++i)
                                  reply(kAnswer.data(), 2);
                                for (int i = 0; i < c.answersByCopy; ++i)
                                  copy(nullptr, 0);
                              });
  CerrCapture cerr;
  DeliverMessage(kChannel, {});
  EXPECT_EQ(Embedder().responses.size(), c.responsesSent);
  EXPECT_EQ(cerr.Text(), c.errorText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyTest,
    ::testing::Values(
        ReplyCase{"Twice", true, false, 2, 0, 1, kDuplicateLine},
        // Copies share the one response handle the engine gave out.
        ReplyCase{"OnceMoreByACopy", true, false, 1, 1, 1, kDuplicateLine},
        ReplyCase{"EngineGone", false, false, 2, 1, 0, ""},
        ReplyCase{"LockWithoutValue", true, true, 1, 0, 1, ""},
        ReplyCase{"Never", true, false, 0, 0, 0, ""}),
    CaseName());

TEST_F(BinaryMessengerTest, LateReplyAfterTheEngineIsGoneIsDroppedSilently) {
  BinaryReply kept;
  messenger.SetMessageHandler(
      kChannel,
      [&](const uint8_t*, size_t, BinaryReply reply) { kept = reply; });
  DeliverMessage(kChannel, {});
  EXPECT_EQ(Embedder().messengerReferences, 1);

  Embedder().messengerAvailable = false;
  CerrCapture cerr;
  kept(kAnswer.data(), kAnswer.size());
  kept = nullptr;
  EXPECT_TRUE(Embedder().responses.empty());
  EXPECT_EQ(cerr.Text(), "");
}

TEST_F(BinaryMessengerTest, ExceptionFromAHandlerStopsAtTheEngineBoundary) {
  messenger.SetMessageHandler(kChannel,
                              [](const uint8_t*, size_t, BinaryReply) {
                                throw std::runtime_error("boom");
                              });
  CerrCapture cerr;
  DeliverMessage(kChannel, {});
  EXPECT_EQ(cerr.Text(),
            "Error: Unhandled exception in the handler of an incoming "
            "message: boom\n");
}

struct SendCase {
  const char* name;
  bool withReply;
  bool engineAccepts;
  std::string call;
  size_t pendingRecords;
};

class SendTest : public BinaryMessengerTest,
                 public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendTest, PendingRecordOnlyWhileTheEngineHoldsIt) {
  const SendCase& c = GetParam();
  Embedder().sendWithReplyAccepted = c.engineAccepts;
  auto probe = std::make_shared<int>(0);
  std::vector<Bytes> answers;
  BinaryReply reply;
  if (c.withReply) {
    reply = [probe, &answers](const uint8_t* bytes, size_t size) {
      answers.emplace_back(bytes, bytes + size);
    };
  }
  messenger.Send("out", kAnswer.data(), kAnswer.size(), std::move(reply));

  EXPECT_EQ(Embedder().calls, Calls{c.call});
  EXPECT_EQ(Embedder().sentMessages, std::vector<Bytes>{kAnswer});
  ASSERT_EQ(Embedder().pendingReplies.size(), c.pendingRecords);
  if (c.pendingRecords == 1) recording_embedder::DeliverReply(0, {9});
  EXPECT_EQ(answers.size(), c.pendingRecords);
  EXPECT_EQ(probe.use_count(), 1) << "reply record outlived its use";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SendTest,
    ::testing::Values(
        SendCase{"WithoutReply", false, true, "MessengerSend out", 0},
        SendCase{"ReplyDelivered", true, true, "MessengerSendWithReply out", 1},
        SendCase{"ReplyRefused", true, false, "MessengerSendWithReply out", 0}),
    CaseName());

}  // namespace
}  // namespace flutter
