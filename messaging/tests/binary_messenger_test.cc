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

// The engine hears of every change; a replaced or removed handler is freed,
// but not while it runs, and keeps its state from one message to the next.
TEST_F(BinaryMessengerTest, HandlerTable) {
  auto probe = std::make_shared<int>(0);  // Its use count: 1 + handlers.
  std::vector<long> seen;  // Per message: its count, the probe's use count.
  messenger.SetMessageHandler("never/set", nullptr);
  messenger.SetMessageHandler(
      kChannel,
      [probe](const uint8_t*, size_t, BinaryReply) { ADD_FAILURE(); });
  messenger.SetMessageHandler(
      kChannel,
      [&, probe, count = 0](const uint8_t*, size_t, BinaryReply) mutable {
        if (++count == 2) messenger.SetMessageHandler(kChannel, nullptr);
        seen.push_back(count);  // Still safe: the running call holds it.
        seen.push_back(probe.use_count());
      });
  DeliverMessage(kChannel, {});
  DeliverMessage(kChannel, {});

  EXPECT_EQ(seen, (std::vector<long>{1, 2, 2, 2}));
  EXPECT_EQ(probe.use_count(), 1);
  EXPECT_TRUE(Embedder().registrations.empty());
  EXPECT_EQ(Embedder().calls,
            (Calls{"MessengerSetCallback never/set",
                   "MessengerSetCallback zorvane/xray",
                   "MessengerSetCallback zorvane/xray", "MessengerAddRef",
                   "MessengerRelease", "MessengerAddRef",
                   "MessengerSetCallback zorvane/xray", "MessengerRelease"}));
}

// Copies of a reply share the message's one response handle, answered under
// the lock; once the engine is gone, replies are dropped silently.
TEST_F(BinaryMessengerTest, EachMessageAnsweredOnceWhileTheEngineLives) {
  std::vector<BinaryReply> kept;
  messenger.SetMessageHandler(kChannel,
                              [&](const uint8_t*, size_t, BinaryReply reply) {
                                kept.push_back(reply);
                                kept.push_back(reply);
                              });
  DeliverMessage(kChannel, {});
  DeliverMessage(kChannel, {});
  StderrCapture cerr;
  kept[0](kAnswer.data(), kAnswer.size());
  kept[1](nullptr, 0);
  Embedder().messengerAvailable = false;
  kept[2](kAnswer.data(), kAnswer.size());
  kept[3](kAnswer.data(), kAnswer.size());
  kept.clear();

  EXPECT_EQ(Embedder().responses, (std::vector<std::optional<Bytes>>{kAnswer}));
  EXPECT_EQ(cerr.Lines(), Lines{"Error: Response can be set only once. "
                                "Ignoring duplicate response."});
  EXPECT_EQ(
      Embedder().calls,
      (Calls{"MessengerSetCallback zorvane/xray", "MessengerAddRef",
             "MessengerAddRef", "MessengerLock", "MessengerIsAvailable",
             "MessengerSendResponse 1", "MessengerUnlock", "MessengerLock",
             "MessengerIsAvailable", "MessengerUnlock", "MessengerLock",
             "MessengerIsAvailable", "MessengerLock", "MessengerIsAvailable",
             "MessengerRelease", "MessengerRelease"}));
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
