#include "messaging/flutter_engine.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "messaging/flutter_view_controller.h"
#include "messaging/tests/test_support.h"

namespace flutter {
namespace {

using recording_embedder::RunNextFrame;

EngineProject ProjectWith(std::vector<std::string> arguments) {
  return {L"data\\flutter_assets", L"data\\icudtl.dat", L"data\\app.so", "",
          std::move(arguments)};
}
const std::string kFiles =
    "data\\flutter_assets data\\icudtl.dat data\\app.so entry '' options 0 0";

// Adds its destruction to the recorded calls when the last holder lets go.
std::shared_ptr<void> DestructionProbe(const std::string& name) {
  return {nullptr, [name](void*) { Embedder().calls.push_back(name); }};
}

using FlutterEngineTest = EmbedderTest;

// Alone, the wrapper owns the engine. The entry point is empty text rather
// than null; no arguments, a null array.
TEST_F(FlutterEngineTest, EngineIsCreatedFromTheProjectAndEndedByItsOwner) {
  { FlutterEngine engine(ProjectWith({})); }
  EXPECT_EQ(Embedder().engineProperties, kFiles + " argc 0 argv null");
  EXPECT_EQ(Embedder().calls,
            (Calls{"EngineCreate", "EngineGetMessenger", "EngineDestroy"}));
}

// One controller's life: its view, the top-level window's messages, the
// next-frame callback (run once, only the latest, which may set the next),
// exceptions stopped at the engine's boundary, and the embedder ended before
// the wrappers.
TEST_F(FlutterEngineTest, ViewControllerLife) {
  const std::string kIn = "Error: Unhandled exception in ";
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
    RunNextFrame();
    RunNextFrame();
    RunNextFrame();  // Nothing is pending any more.
    engine->SetNextFrameCallback(
        [probe = DestructionProbe("next-frame callback destroyed")] {});
    BinaryMessenger& messenger = *engine->Messenger();
    messenger.SetMessageHandler("c",
                                [probe = DestructionProbe("handler destroyed")](
                                    const uint8_t*, size_t, BinaryReply) {
                                  throw std::runtime_error("in handler");
                                });
    messenger.Send("c", nullptr, 0, [](const uint8_t*, size_t) {
      throw std::runtime_error("in reply");
    });
    DeliverMessage("c", {});
    const auto pending = Embedder().pendingReplies.at(0);
    pending.first(nullptr, 0, pending.second);
  }
  EXPECT_EQ(Embedder().engineProperties,
            kFiles + " argc 3 argv '--a=1' 'b' ''");
  EXPECT_EQ(ran, "first second");
  EXPECT_EQ(cerr.Lines(),
            (Lines{kIn + "the next-frame callback: in callback",
                   kIn + "the handler of an incoming message: in handler",
                   kIn + "the reply to a sent message: in reply"}));
  EXPECT_EQ(
      Embedder().calls,
      (Calls{"EngineCreate", "EngineGetMessenger",
             "ViewControllerCreate 560x720", "ViewControllerGetView",
             "ViewGetHWND", "ViewControllerHandleTopLevelWindowProc",
             "ViewControllerHandleTopLevelWindowProc",
             "EngineSetNextFrameCallback", "EngineSetNextFrameCallback",
             "EngineSetNextFrameCallback", "EngineSetNextFrameCallback",
             "MessengerSetCallback c", "MessengerSendWithReply c",
             "MessengerAddRef", "MessengerRelease", "ViewControllerDestroy",
             "next-frame callback destroyed", "handler destroyed"}));
}

TEST_F(FlutterEngineTest, FailedViewControllerReportsOnceAndKeepsTheEngine) {
  Embedder().viewControllerCreationFails = true;
  StderrCapture cerr;
  {
    FlutterViewController controller(10, 20, ProjectWith({}));
    EXPECT_EQ(controller.View(), nullptr);
    ASSERT_NE(controller.Engine(), nullptr);
    EXPECT_NE(controller.Engine()->Messenger(), nullptr);
    controller.ForceRedraw();
    EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 0, 0, 0),
              std::nullopt);
  }
  EXPECT_EQ(cerr.Text(), "Failed to create view controller.\n");
  // The embedder took the engine over: the wrapper never destroys it.
  EXPECT_EQ(Embedder().calls, (Calls{"EngineCreate", "EngineGetMessenger",
                                     "ViewControllerCreate 10x20"}));
}

}  // namespace
}  // namespace flutter
