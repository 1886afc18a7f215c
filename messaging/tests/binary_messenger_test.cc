#include <memory>
#include <string>
#include <vector>

#include "messaging/binary_messenger_impl.h"
#include "messaging/tests/test_support.h"

namespace flutter {
namespace {

constexpr char kChannel[] = "zorvane/xray";
const Bytes kAnswer = {0x00, 0x01};

class BinaryMessengerTest : public EmbedderTest {
 protected:
  BinaryMessengerImpl messenger{recording_embedder::kMessenger};
};

TEST_F(BinaryMessengerTest, HandlerTableTellsTheEngineEveryChange) {
  // Its use count shows how many handlers the table still holds.
  auto ran = std::make_shared<std::string>();
  messenger.SetMessageHandler("never/set", nullptr);
  messenger.SetMessageHandler(
      kChannel, [ran](const uint8_t*, size_t, BinaryReply) { *ran += "1"; });
  void* const firstAddress = Embedder().registrations.at(kChannel).second;
  messenger.SetMessageHandler(
      kChannel, [ran](const uint8_t*, size_t, BinaryReply) { *ran += "2"; });
  EXPECT_EQ(Embedder().registrations.at(kChannel).second, firstAddress);
  EXPECT_EQ(ran.use_count(), 2) << "the replaced handler must be gone";
  DeliverMessage(kChannel, {});
  messenger.SetMessageHandler(kChannel, nullptr);

  EXPECT_EQ(*ran, "2");
  EXPECT_EQ(ran.use_count(), 1) << "the removed handler must be gone";
  EXPECT_TRUE(Embedder().registrations.empty());
  EXPECT_EQ(Embedder().calls,
            (Calls{"MessengerSetCallback never/set",
                   "MessengerSetCallback zorvane/xray",
                   "MessengerSetCallback zorvane/xray", "MessengerAddRef",
                   "MessengerRelease", "MessengerSetCallback zorvane/xray"}));
}

TEST_F(BinaryMessengerTest, HandlerMayRemoveItselfWhileItRuns) {
  auto alive = std::make_shared<int>(0);
  messenger.SetMessageHandler(
      kChannel, [this, alive](const uint8_t*, size_t, BinaryReply reply) {
        messenger.SetMessageHandler(kChannel, nullptr);
        ++*alive;  // Still safe: the table's copy is gone, this one is not.
        reply(nullptr, 0);
      });
  DeliverMessage(kChannel, {});
  EXPECT_EQ(*alive, 1);
  EXPECT_EQ(alive.use_count(), 1);
  EXPECT_TRUE(Embedder().registrations.empty());
}

TEST_F(BinaryMessengerTest, HandlerKeepsItsStateFromOneMessageToTheNext) {
  std::vector<int> counts;
  messenger.SetMessageHandler(
      kChannel,
      [&counts, count = 0](const uint8_t*, size_t, BinaryReply reply) mutable {
        counts.push_back(++count);
        reply(nullptr, 0);
      });
  DeliverMessage(kChannel, {});
  DeliverMessage(kChannel, {});
  EXPECT_EQ(counts, (std::vector<int>{1, 2}));
}

TEST_F(BinaryMessengerTest, CopiesOfAReplyAnswerOnceUnderTheLock) {
  messenger.SetMessageHandler(kChannel,
                              [](const uint8_t*, size_t, BinaryReply reply) {
                                const BinaryReply copy = reply;
                                reply(kAnswer.data(), kAnswer.size());
                                copy(nullptr, 0);  // Shares the one handle.
                              });
  StderrCapture cerr;
  const uintptr_t handle = DeliverMessage(kChannel, {});

  EXPECT_EQ(
      Embedder().calls,
      (Calls{"MessengerSetCallback zorvane/xray", "MessengerAddRef",
             "MessengerLock", "MessengerIsAvailable", "MessengerSendResponse",
             "MessengerUnlock", "MessengerLock", "MessengerIsAvailable",
             "MessengerUnlock", "MessengerRelease"}));
  EXPECT_EQ(Embedder().responses, (std::vector<Response>{{handle, kAnswer}}));
  EXPECT_EQ(cerr.Text(),
            "Error: Response can be set only once. Ignoring duplicate "
            "response.\n");
}

TEST_F(BinaryMessengerTest, LateReplyAfterTheEngineIsGoneIsDroppedSilently) {
  BinaryReply kept;
  messenger.SetMessageHandler(
      kChannel,
      [&](const uint8_t*, size_t, BinaryReply reply) { kept = reply; });
  DeliverMessage(kChannel, {});
  EXPECT_EQ(Embedder().messengerReferences, 1);

  Embedder().messengerAvailable = false;
  Embedder().lockReturnsNothing = true;  // So nothing may be unlocked.
  StderrCapture cerr;
  kept(kAnswer.data(), kAnswer.size());
  kept(kAnswer.data(), kAnswer.size());
  kept = nullptr;
  EXPECT_TRUE(Embedder().responses.empty());
  EXPECT_EQ(cerr.Text(), "");
}

TEST_F(BinaryMessengerTest, PendingReplyLivesOnlyWhileTheEngineHoldsIt) {
  // Its value counts the answers, its use count the holders of the reply.
  auto probe = std::make_shared<int>(0);
  const BinaryReply reply = [probe](const uint8_t*, size_t) { ++*probe; };
  messenger.Send("out", kAnswer.data(), kAnswer.size());
  messenger.Send("out", kAnswer.data(), kAnswer.size(), reply);
  Embedder().sendWithReplyAccepted = false;
  messenger.Send("out", kAnswer.data(), kAnswer.size(), reply);
  EXPECT_EQ(probe.use_count(), 3) << "the refused record must be gone";

  const auto pending = Embedder().pendingReplies.at(0);
  pending.first(kAnswer.data(), kAnswer.size(), pending.second);
  EXPECT_EQ(*probe, 1);
  EXPECT_EQ(probe.use_count(), 2) << "the delivered record must be gone";
  EXPECT_EQ(Embedder().calls,
            (Calls{"MessengerSend out", "MessengerSendWithReply out",
                   "MessengerSendWithReply out"}));
}

}  // namespace
}  // namespace flutter
