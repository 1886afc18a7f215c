// The messaging layer over a recording double of the embedder library.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/standard_method_codec.h"
#include "messaging/binary_messenger_impl.h"
#include "messaging/flutter_engine.h"
#include "messaging/flutter_view_controller.h"
#include "messaging/method_channel.h"
#include "messaging/tests/recording_embedder.h"
#include "testing/hex.h"
#include "testing/stderr_capture.h"

namespace flutter {
namespace {

using recording_embedder::Bytes;
using recording_embedder::DeliverMessage;
using recording_embedder::Embedder;
using recording_embedder::RunNextFrame;
using testing_support::Hex;
using testing_support::StderrCapture;
using Calls = std::vector<std::string>;
using Lines = std::vector<std::string>;
using Result = std::unique_ptr<MethodResult<EncodableValue>>;

constexpr char kChannel[] = "zorvane/xray";
const Bytes kAnswer = {0x00, 0x01};
const std::string kThrown = "Error: Unhandled exception in ";

// Adds its destruction to the recorded calls when the last holder lets go.
std::shared_ptr<void> DestructionProbe(const std::string& name) {
  return {nullptr, [name](void*) { Embedder().calls.push_back(name); }};
}

// Starts every test with a fresh embedder and ends it by checking that the
// messenger's references and lock are back where they were and that no
// handle was used that the embedder never gave out.
class MessagingTest : public ::testing::Test {
 protected:
  void SetUp() override { recording_embedder::ResetEmbedder(); }
  void TearDown() override {
    EXPECT_EQ(Embedder().messengerReferences, 0);
    EXPECT_EQ(Embedder().locksHeld, 0);
    EXPECT_EQ(Embedder().foreignHandleCalls, 0);
  }

  BinaryMessengerImpl messenger{recording_embedder::kMessenger};
};

// A replaced or removed handler is freed, but not while it runs, and keeps its
// state from one message to the next. The engine is told of every change, a
// replacement at the same address and the removal of a handler never set too.
TEST_F(MessagingTest, HandlerTable) {
  auto probe = std::make_shared<int>(0);  // Its use count: 1 + handlers.
  std::vector<long> seen;  // Per message: its count, the probe's use count.
  messenger.SetMessageHandler(
      kChannel,
      [probe](const uint8_t*, size_t, BinaryReply) { ADD_FAILURE(); });
  const void* const first_address =
      Embedder().registrations.at(kChannel).second;
  messenger.SetMessageHandler(
      kChannel,
      [&, probe, count = 0](const uint8_t*, size_t, BinaryReply) mutable {
        if (++count == 2) messenger.SetMessageHandler(kChannel, nullptr);
        seen.push_back(count);  // Still safe: the running call holds it.
        seen.push_back(probe.use_count());
      });
  EXPECT_EQ(Embedder().registrations.at(kChannel).second, first_address);
  DeliverMessage(kChannel, {});
  DeliverMessage(kChannel, {});
  messenger.SetMessageHandler("never set", nullptr);

  EXPECT_EQ(seen, (std::vector<long>{1, 2, 2, 2}));
  EXPECT_EQ(probe.use_count(), 1);
  EXPECT_TRUE(Embedder().registrations.empty());
  EXPECT_EQ(Embedder().calls,
            (Calls{"MessengerSetCallback zorvane/xray",
                   "MessengerSetCallback zorvane/xray", "MessengerAddRef",
                   "MessengerRelease", "MessengerAddRef",
                   "MessengerSetCallback zorvane/xray", "MessengerRelease",
                   "MessengerSetCallback never set"}));
}

// Copies of a reply share the message's one response handle, answered under
// the lock; once the engine is gone, replies are dropped silently.
TEST_F(MessagingTest, EachMessageAnsweredOnceWhileTheEngineLives) {
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
             "MessengerIsAvailable", "MessengerRelease", "MessengerRelease"}));
}

// A sent message's reply is held until the engine hands it back, or freed at
// once when the engine refuses the message. No exception out of a reply or a
// handler reaches the engine.
TEST_F(MessagingTest, SentMessagesAndExceptions) {
  messenger.Send("out", kAnswer.data(), kAnswer.size());
  messenger.Send(
      "out", kAnswer.data(), kAnswer.size(),
      [probe = DestructionProbe("answered reply freed")](
          const uint8_t*, size_t) { throw std::runtime_error("a"); });
  Embedder().sendWithReplyAccepted = false;
  messenger.Send("out", kAnswer.data(), kAnswer.size(),
                 [probe = DestructionProbe("refused reply freed")](
                     const uint8_t*, size_t) {});
  messenger.SetMessageHandler(kChannel,
                              [](const uint8_t*, size_t, BinaryReply) {
                                throw std::runtime_error("b");
                              });
  StderrCapture cerr;
  const auto pending = Embedder().pendingReplies.at(0);
  pending.first(kAnswer.data(), kAnswer.size(), pending.second);
  DeliverMessage(kChannel, {});

  EXPECT_EQ(cerr.Lines(),
            (Lines{kThrown + "the reply to a sent message: a",
                   kThrown + "the handler of an incoming message: b"}));
  EXPECT_EQ(Embedder().calls,
            (Calls{"MessengerSend out", "MessengerSendWithReply out",
                   "MessengerSendWithReply out", "refused reply freed",
                   "MessengerSetCallback zorvane/xray", "answered reply freed",
                   "MessengerAddRef", "MessengerRelease"}));
}

// Each row: a message, how the handler answers it, the replies sent (none:
// no bytes at all) and the lines reported. Plain answers are the end-to-end
// suite's.
TEST_F(MessagingTest, MethodChannelAnswersEachCallAtMostOnce) {
  const std::string kInHandler =
      kThrown + "the handler of an incoming message: ";
  const char kGetLogs[] = "07 07 67 65 74 4C 6F 67 73 00";
  struct Row {
    std::string hex;
    std::function<void(Result&)> answer;
    std::vector<std::optional<Bytes>> replies;
    Lines lines;
  } rows[] = {
      // A second answer is refused.
      {kGetLogs,
       [](Result& r) {
         const EncodableValue details(1);
         r->Error("e", "m", &details);
         r->Success();
       },
       {Hex("01 07 01 65 07 01 6D 03 01 00 00 00")},
       {"Error: Only one of Success, Error, or NotImplemented can be called, "
        "and it can be called exactly once. Ignoring duplicate result."}},
      // None at all leaves the call unanswered.
      {kGetLogs,
       [](Result&) {},
       {},
       {"Warning: Failed to respond to a message. This is a memory leak."}},
      // A handler that throws before answering has answered an error.
      {kGetLogs,
       [](Result&) { throw std::runtime_error("boom"); },
       {Hex("01 07 0E 69 6E 74 65 72 6E 61 6C 5F 65 72 72 6F 72"
            "   07 0E 69 6E 74 65 72 6E 61 6C 20 65 72 72 6F 72   00")},
       {kInHandler + "boom"}},
      // One that throws after answering, nothing more.
      {kGetLogs,
       [](Result& r) {
         r->Success(EncodableList{"a", "bc"});
         throw std::runtime_error("late");
       },
       {Hex("00 0C 02 07 01 61 07 02 62 63")},
       {kInHandler + "late"}},
      // A message that is no call: the empty reply; no handler runs.
      {"03 2A 00 00 00",
       nullptr,
       {std::nullopt},
       {"Invalid method call; method name is not a string.",
        "Unable to construct method call from message on channel "
        "zorvane/xray"}}};
  const auto* codec = &StandardMethodCodec::GetInstance();
  const Row* row = nullptr;
  // The channel object is gone at once; its handler must keep working.
  MethodChannel(&messenger, kChannel, codec)
      .SetMethodCallHandler([&](const MethodCall<>& call, Result result) {
        EXPECT_EQ(call.method_name(), "getLogs");
        row->answer(result);
      });
  for (const Row& each : rows) {
    row = &each;
    SCOPED_TRACE(&each - rows);
    Embedder().responses.clear();
    StderrCapture cerr;
    DeliverMessage(kChannel, Hex(each.hex));
    EXPECT_EQ(Embedder().responses, each.replies);
    EXPECT_EQ(cerr.Lines(), each.lines);
  }
  MethodChannel(&messenger, kChannel, codec).SetMethodCallHandler(nullptr);
  EXPECT_TRUE(Embedder().registrations.empty());
}

EngineProject ProjectWith(std::vector<std::string> arguments) {
  return {L"data\\flutter_assets", L"data\\icudtl.dat", L"data\\app.so", "",
          std::move(arguments)};
}
const std::string kFiles =
    "data\\flutter_assets data\\icudtl.dat data\\app.so entry '' options 0 0";

// One controller's life: its view, the top-level window's messages, the
// next-frame callback (run once, only the latest, which may set the next; an
// exception out of it stops there), and the embedder ended before the
// wrappers.
TEST_F(MessagingTest, ViewControllerLife) {
  std::string ran;
  StderrCapture cerr;
  {
    FlutterViewController controller(560, 720, ProjectWith({"--a=1", "b", ""}));
    EXPECT_EQ(controller.View()->NativeWindow(),
              recording_embedder::kViewWindow);
    // The embedder answers only the messages it handled.
    EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 1, 0, 0),
              std::nullopt);
    Embedder().topLevelResult = 42;
    EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 1, 0, 0), 42);
    FlutterEngine* engine = controller.Engine();
    engine->SetNextFrameCallback([&] { ran += "dropped "; });
    engine->SetNextFrameCallback([&, first = std::string("first ")] {
      engine->SetNextFrameCallback([&] {
        ran += "second";
        throw std::runtime_error("in callback");
      });
      ran += first;  // Still there: taken out before it ran.
    });
    // Three frames: the third finds nothing pending.
    for (int frame = 0; frame < 3; ++frame) RunNextFrame();
    engine->SetNextFrameCallback(
        [probe = DestructionProbe("next-frame callback destroyed")] {});
    engine->Messenger()->SetMessageHandler(
        "c", [probe = DestructionProbe("handler destroyed")](
                 const uint8_t*, size_t, BinaryReply) {});
  }
  EXPECT_EQ(Embedder().engineProperties,
            kFiles + " argc 3 argv '--a=1' 'b' ''");
  EXPECT_EQ(ran, "first second");
  EXPECT_EQ(cerr.Lines(),
            Lines{kThrown + "the next-frame callback: in callback"});
  EXPECT_EQ(Embedder().calls,
            (Calls{"EngineCreate", "EngineGetMessenger",
                   "ViewControllerCreate 560x720", "ViewControllerGetView",
                   "ViewGetHWND", "ViewControllerHandleTopLevelWindowProc",
                   "ViewControllerHandleTopLevelWindowProc",
                   "EngineSetNextFrameCallback", "EngineSetNextFrameCallback",
                   "EngineSetNextFrameCallback", "EngineSetNextFrameCallback",
                   "MessengerSetCallback c", "ViewControllerDestroy",
                   "next-frame callback destroyed", "handler destroyed"}));
}

// Alone, the wrapper owns the engine; given to a view controller, the
// embedder does, even when the controller cannot be made. The entry point is
// empty text rather than null; no arguments, a null array. With no engine
// the embedder is asked for neither its messenger nor a controller, and the
// messenger passes nothing on.
TEST_F(MessagingTest, EngineIsEndedByItsOneOwner) {
  { FlutterEngine engine(ProjectWith({})); }
  EXPECT_EQ(Embedder().engineProperties, kFiles + " argc 0 argv null");
  EXPECT_EQ(Embedder().calls,
            (Calls{"EngineCreate", "EngineGetMessenger", "EngineDestroy"}));
  const struct {
    bool engineCreationFails;
    Calls calls;
  } rows[] = {
      {false,
       {"EngineCreate", "EngineGetMessenger", "ViewControllerCreate 10x20",
        "MessengerSend c", "MessengerSetCallback c"}},
      {true, {"EngineCreate"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.engineCreationFails);
    recording_embedder::ResetEmbedder();
    Embedder().engineCreationFails = row.engineCreationFails;
    Embedder().viewControllerCreationFails = true;
    StderrCapture cerr;
    {
      FlutterViewController controller(10, 20, ProjectWith({}));
      EXPECT_EQ(controller.View(), nullptr);
      ASSERT_NE(controller.Engine(), nullptr);
      controller.ForceRedraw();
      EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 0, 0, 0),
                std::nullopt);
      BinaryMessenger* messenger = controller.Engine()->Messenger();
      messenger->Send("c", kAnswer.data(), kAnswer.size());
      messenger->SetMessageHandler("c",
                                   [](const uint8_t*, size_t, BinaryReply) {});
    }
    EXPECT_EQ(cerr.Text(), "Failed to create view controller.\n");
    EXPECT_EQ(Embedder().calls, row.calls);
  }
}

}  // namespace
}  // namespace flutter
