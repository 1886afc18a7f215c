// The top-level window under Wine, with the stand-in embedder for the DPI.
#include "shell/win32_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <memory>
#include <stdexcept>

#include "messaging/flutter_windows.h"
#include "testing/stderr_capture.h"

namespace shell {
namespace {

constexpr wchar_t kClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
constexpr UINT kThrowMessage = WM_APP + 1;

class TestWindow : public Win32Window {
 public:
  int destroyHooks = 0;

 protected:
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                        LPARAM lparam) override {
    if (message == kThrowMessage) throw std::runtime_error("handler failed");
    return Win32Window::HandleMessage(window, message, wparam, lparam);
  }
  void OnDestroy() override { ++destroyHooks; }
};

HWND Find(const wchar_t* title) { return FindWindowW(kClassName, title); }

using Edges = std::array<LONG, 4>;

Edges EdgesOf(const RECT& rect) {
  return {rect.left, rect.top, rect.right, rect.bottom};
}

Edges WindowEdges(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return EdgesOf(rect);
}

bool ClassRegistered() {
  WNDCLASSEXW info = {};
  info.cbSize = sizeof(info);
  return GetClassInfoExW(GetModuleHandleW(nullptr), kClassName, &info) != 0;
}

bool QuitPosted(WPARAM* exitCode) {
  MSG message;
  if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    return false;
  }
  *exitCode = message.wParam;
  return true;
}

TEST(Win32WindowTest, CreatesHiddenScaledWindowsOfOneClass) {
  auto first = std::make_unique<TestWindow>();
  auto second = std::make_unique<TestWindow>();
  ASSERT_TRUE(first->Create(L"first", {10, 10}, {560, 720}));
  ASSERT_TRUE(second->Create(L"second", {10, 10}, {560, 720}));
  const HWND window = Find(L"first");
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window));

  // Origin and size of the host's window, scaled and truncated.
  struct {
    UINT dpi;
    Edges edges;
  } const kScaled[] = {{96, {10, 10, 570, 730}},
                       {120, {12, 12, 712, 912}},
                       {144, {15, 15, 855, 1095}}};
  const UINT dpi = FlutterDesktopGetDpiForMonitor(
      MonitorFromPoint({10, 10}, MONITOR_DEFAULTTONEAREST));
  bool checked = false;
  for (const auto& scaled : kScaled) {
    if (scaled.dpi != dpi) continue;
    EXPECT_EQ(WindowEdges(window), scaled.edges);
    checked = true;
  }
  EXPECT_TRUE(checked) << "no expectation for " << dpi << " DPI";

  first->Show();
  EXPECT_TRUE(IsWindowVisible(window));

  first.reset();
  EXPECT_EQ(Find(L"first"), nullptr);
  EXPECT_TRUE(ClassRegistered()) << "a window object is still alive";
  second.reset();
  EXPECT_FALSE(ClassRegistered()) << "the last window object is gone";
}

TEST(Win32WindowTest, ChildFillsClientAreaAndDpiChangeAppliesSuggestion) {
  TestWindow host;
  ASSERT_TRUE(host.Create(L"host", {10, 10}, {300, 200}));
  const HWND window = Find(L"host");
  EXPECT_EQ(SendMessageW(window, WM_SIZE, 0, 0), 0) << "no child yet";

  const HWND child = CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0,
                                   1, 1, window, nullptr, nullptr, nullptr);
  host.AttachChildWindow(child);
  RECT suggested = {40, 50, 440, 350};
  EXPECT_EQ(SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144),
                         reinterpret_cast<LPARAM>(&suggested)),
            0);
  EXPECT_EQ(WindowEdges(window), EdgesOf(suggested));

  RECT client = {};
  GetClientRect(window, &client);
  RECT childRect = {};
  GetWindowRect(child, &childRect);
  MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&childRect),
                  2);
  EXPECT_EQ(EdgesOf(childRect), EdgesOf(client));
}

TEST(Win32WindowTest, ClosingPostsQuitOnlyWhenAsked) {
  for (const bool quitWhenClosed : {false, true}) {
    SCOPED_TRACE(quitWhenClosed ? "quit when closed" : "stay");
    TestWindow host;
    ASSERT_TRUE(host.Create(L"closing", {10, 10}, {300, 200}));
    host.SetQuitWhenClosed(quitWhenClosed);
    const int hooksBefore = host.destroyHooks;
    SendMessageW(Find(L"closing"), WM_CLOSE, 0, 0);

    EXPECT_EQ(Find(L"closing"), nullptr);
    EXPECT_GT(host.destroyHooks, hooksBefore);
    WPARAM exitCode = 99;
    EXPECT_EQ(QuitPosted(&exitCode), quitWhenClosed);
    if (quitWhenClosed) {
      EXPECT_EQ(exitCode, 0u);
    }
  }
}

TEST(Win32WindowTest, ExceptionStopsAtTheWindowProcedure) {
  TestWindow host;
  ASSERT_TRUE(host.Create(L"throwing", {10, 10}, {300, 200}));
  testing_support::StderrCapture capture;
  // The default processing of an application message answers 0.
  EXPECT_EQ(SendMessageW(Find(L"throwing"), kThrowMessage, 0, 0), 0);
  EXPECT_NE(capture.Text().find("the window procedure: handler failed"),
            std::string::npos)
      << capture.Text();
}

}  // namespace
}  // namespace shell
