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

using recording_embedder::Embedder;
using recording_embedder::RunNextFrame;
using Calls = std::vector<std::string>;

EngineProject ProjectWith(std::vector<std::string> arguments) {
  EngineProject project;
  project.assetsPath = L"data\\flutter_assets";
  project.icuDataPath = L"data\\icudtl.dat";
  project.aotLibraryPath = L"data\\app.so";
  project.entrypointArguments = std::move(arguments);
  return project;
}

// Adds its destruction to the recorded calls, to show when the engine
// wrapper lets go of what it holds.
struct DestructionProbe {
  ~DestructionProbe() { Embedder().calls.push_back(name + " destroyed"); }
  std::string name;
};

using FlutterEngineTest = EmbedderTest;

struct PropertiesCase {
  const char* name;
  std::vector<std::string> arguments;
  bool argvNull;
};

class EnginePropertiesTest
    : public EmbedderTest,
      public ::testing::WithParamInterface<PropertiesCase> {};

TEST_P(EnginePropertiesTest, EngineIsCreatedFromTheProject) {
  FlutterEngine engine(ProjectWith(GetParam().arguments));
  const auto& seen = Embedder().properties;
  EXPECT_EQ(seen.assetsPath + seen.icuDataPath + seen.aotLibraryPath,
            L"data\\flutter_assetsdata\\icudtl.datdata\\app.so");
  EXPECT_FALSE(seen.entrypointWasNull);
  EXPECT_EQ(seen.entrypoint, "");
  EXPECT_EQ(seen.argc, static_cast<int32_t>(GetParam().arguments.size()));
  EXPECT_EQ(seen.argvWasNull, GetParam().argvNull);
  EXPECT_EQ(seen.arguments, GetParam().arguments);
  EXPECT_EQ(seen.engineOption1, 0);
  EXPECT_EQ(seen.engineOption2, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnginePropertiesTest,
    ::testing::Values(PropertiesCase{"NoArguments", {}, true},
                      PropertiesCase{
                          "ArgumentsInOrder", {"--a=1", "b", ""}, false}),
    CaseName());

TEST_F(FlutterEngineTest, ViewControllerEndsTheEmbedderBeforeItsWrappers) {
  {
    FlutterViewController controller(560, 720, ProjectWith({}));
    ASSERT_NE(controller.View(), nullptr);
    EXPECT_EQ(controller.View()->NativeWindow(),
              recording_embedder::kViewWindow);
    auto frameProbe = std::make_shared<DestructionProbe>();
    frameProbe->name = "next-frame callback";
    controller.Engine()->SetNextFrameCallback([frameProbe] {});
    auto handlerProbe = std::make_shared<DestructionProbe>();
    handlerProbe->name = "handler";
    controller.Engine()->Messenger()->SetMessageHandler(
        "c", [handlerProbe](const uint8_t*, size_t, BinaryReply) {});
  }
  EXPECT_EQ(Embedder().calls,
            (Calls{"EngineCreate", "EngineGetMessenger",
                   "ViewControllerCreate 560x720", "ViewControllerGetView",
                   "ViewGetHWND", "EngineSetNextFrameCallback",
                   "MessengerSetCallback c", "ViewControllerDestroy",
                   "next-frame callback destroyed", "handler destroyed"}));
}

struct FailedControllerCase {
  const char* name;
  bool engineFails;
};

class FailedControllerTest
    : public EmbedderTest,
      public ::testing::WithParamInterface<FailedControllerCase> {};

TEST_P(FailedControllerTest, ReportsOnceAndKeepsTheEngineWithoutAView) {
  Embedder().engineCreationFails = GetParam().engineFails;
  Embedder().viewControllerCreationFails = true;
  CerrCapture cerr;
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

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedControllerTest,
    ::testing::Values(FailedControllerCase{"NoView", false},
                      FailedControllerCase{"NoEngine", true}),
    CaseName());

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

TEST_F(FlutterEngineTest, ExceptionFromTheNextFrameCallbackStopsAtTheBoundary) {
  FlutterViewController controller(1, 1, ProjectWith({}));
  controller.Engine()->SetNextFrameCallback(
      [] { throw std::runtime_error("no window"); });
  CerrCapture cerr;
  RunNextFrame();
  EXPECT_EQ(cerr.Text(),
            "Error: Unhandled exception in the next-frame callback: no "
            "window\n");
}

TEST_F(FlutterEngineTest, TopLevelMessageResultOnlyWhenTheEmbedderHandledIt) {
  FlutterViewController controller(1, 1, ProjectWith({}));
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 0x001D, 0, 0),
            std::nullopt);
  Embedder().topLevelResult = 42;
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 0x001D, 0, 0),
            std::optional<LRESULT>(42));
}

}  // namespace
}  // namespace flutter
