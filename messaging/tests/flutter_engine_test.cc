#include "messaging/flutter_engine.h"

#include <gmock/gmock.h>

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
using ::testing::ElementsAre;
using ::testing::HasSubstr;

EngineProject ProjectWith(std::vector<std::string> arguments) {
  EngineProject project;
  project.assetsPath = L"data\\flutter_assets";
  project.icuDataPath = L"data\\icudtl.dat";
  project.aotLibraryPath = L"data\\app.so";
  project.entrypointArguments = std::move(arguments);
  return project;
}

// Adds its destruction to the recorded calls when the last holder lets go.
std::shared_ptr<void> DestructionProbe(const std::string& name) {
  return {nullptr, [name](void*) { Embedder().calls.push_back(name); }};
}

using FlutterEngineTest = EmbedderTest;

TEST_F(FlutterEngineTest, EngineIsCreatedFromTheProject) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"--a=1", "b", ""}}) {
    SCOPED_TRACE(arguments.size());
    recording_embedder::ResetEmbedder();
    FlutterEngine engine(ProjectWith(arguments));
    const recording_embedder::State& seen = Embedder();
    EXPECT_EQ(seen.paths,
              L"data\\flutter_assets|data\\icudtl.dat|data\\app.so");
    EXPECT_EQ(seen.entrypoint, std::string());  // Empty text, not null.
    EXPECT_EQ(seen.argc, static_cast<int32_t>(arguments.size()));
    // No arguments: a null array rather than an empty one.
    EXPECT_EQ(seen.arguments,
              arguments.empty() ? std::nullopt : std::optional(arguments));
    EXPECT_EQ(seen.engineOptions, std::make_pair(0, 0));
  }
}

TEST_F(FlutterEngineTest, ViewControllerEndsTheEmbedderBeforeItsWrappers) {
  {
    FlutterViewController controller(560, 720, ProjectWith({}));
    ASSERT_NE(controller.View(), nullptr);
    EXPECT_EQ(controller.View()->NativeWindow(),
              recording_embedder::kViewWindow);
    // The embedder answers only the messages it handled.
    EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 1, 0, 0),
              std::nullopt);
    Embedder().topLevelResult = 42;
    EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 1, 0, 0), 42);
    controller.Engine()->SetNextFrameCallback(
        [probe = DestructionProbe("next-frame callback destroyed")] {});
    controller.Engine()->Messenger()->SetMessageHandler(
        "c", [probe = DestructionProbe("handler destroyed")](
                 const uint8_t*, size_t, BinaryReply) {});
  }
  EXPECT_EQ(Embedder().calls,
            (Calls{"EngineCreate", "EngineGetMessenger",
                   "ViewControllerCreate 560x720", "ViewControllerGetView",
                   "ViewGetHWND", "ViewControllerHandleTopLevelWindowProc",
                   "ViewControllerHandleTopLevelWindowProc",
                   "EngineSetNextFrameCallback", "MessengerSetCallback c",
                   "ViewControllerDestroy", "next-frame callback destroyed",
                   "handler destroyed"}));
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

TEST_F(FlutterEngineTest, NextFrameCallbackRunsOnceAndOnlyTheLatest) {
  FlutterViewController controller(1, 1, ProjectWith({}));
  FlutterEngine* engine = controller.Engine();
  std::string ran;
  engine->SetNextFrameCallback([&] { ran += "dropped "; });
  engine->SetNextFrameCallback([&] {
    ran += "first ";
    engine->SetNextFrameCallback([&] { ran += "second"; });
  });
  RunNextFrame();
  RunNextFrame();
  RunNextFrame();  // Nothing is pending any more.
  EXPECT_EQ(ran, "first second");
}

TEST_F(FlutterEngineTest, ExceptionsStopAtTheEngineBoundary) {
  FlutterViewController controller(1, 1, ProjectWith({}));
  BinaryMessenger& messenger = *controller.Engine()->Messenger();
  messenger.SetMessageHandler("c", [](const uint8_t*, size_t, BinaryReply) {
    throw std::runtime_error("in handler");
  });
  messenger.Send("c", nullptr, 0, [](const uint8_t*, size_t) {
    throw std::runtime_error("in reply");
  });
  controller.Engine()->SetNextFrameCallback(
      [] { throw std::runtime_error("in callback"); });
  StderrCapture cerr;
  DeliverMessage("c", {});
  const auto pending = Embedder().pendingReplies.at(0);
  pending.first(nullptr, 0, pending.second);
  RunNextFrame();
  // Each reported on its own line, none escaping into the embedder.
  EXPECT_THAT(cerr.Lines(),
              ElementsAre(HasSubstr("in handler"), HasSubstr("in reply"),
                          HasSubstr("in callback")));
}

}  // namespace
}  // namespace flutter
