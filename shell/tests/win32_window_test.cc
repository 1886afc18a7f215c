// The top-level window under Wine, where the end-to-end suite does not look:
// hidden until shown, the child and WM_DPICHANGED, closing, the class's life
// and exceptions, the title bar's theme; and the strict conversion of the
// command line's arguments. Its placement and the close that ends the host
// are the suite's to check.
#include "shell/win32_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/stderr_capture.h"
#include "win/text.h"

// Wine's DWM keeps no title bar attribute to read back: the theme test
// takes DwmSetWindowAttribute's place in this program's import table.
extern "C" HRESULT(WINAPI* __imp_DwmSetWindowAttribute)(HWND, DWORD, LPCVOID,
                                                        DWORD);

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

using Edges = std::array<LONG, 4>;  // left, top, right, bottom

// In the parent's client coordinates; on the screen for a top-level window.
Edges EdgesOf(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(window),
                  reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

using DwmCalls = std::vector<std::array<DWORD, 2>>;  // attribute, value
DwmCalls dwmCalls;

HRESULT WINAPI RecordDwmCall(HWND, DWORD attribute, LPCVOID value, DWORD) {
  dwmCalls.push_back({attribute, *static_cast<const DWORD*>(value)});
  return S_OK;
}

bool ClassRegistered() {
  WNDCLASSEXW info = {};
  info.cbSize = sizeof(info);
  return GetClassInfoExW(GetModuleHandleW(nullptr), kClassName, &info) != 0;
}

TEST(Win32WindowTest, TwoWindowsOfOneClassFromCreationToDestruction) {
  auto first = std::make_unique<TestWindow>();
  auto second = std::make_unique<TestWindow>();
  ASSERT_TRUE(first->Create(L"first", {10, 10}, {300, 200}));
  ASSERT_TRUE(second->Create(L"second", {10, 10}, {300, 200}));
  const HWND window = Find(L"first");
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window)) << "shown before Show";

  // The child fills the client area after the system's suggested placement,
  // and the move leaves another window active.
  const HWND child = CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0,
                                   1, 1, window, nullptr, nullptr, nullptr);
  first->AttachChildWindow(child);
  first->Show();
  second->Show();
  const HWND active = Find(L"second");
  SetForegroundWindow(active);
  ASSERT_EQ(GetActiveWindow(), active);
  RECT suggested = {40, 50, 440, 350};
  EXPECT_EQ(SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144),
                         reinterpret_cast<LPARAM>(&suggested)),
            0);
  EXPECT_EQ(EdgesOf(window), (Edges{40, 50, 440, 350}));
  EXPECT_EQ(GetActiveWindow(), active);
  EXPECT_EQ(GetForegroundWindow(), active);
  const RECT client = first->ClientArea();
  EXPECT_EQ(EdgesOf(child), (Edges{0, 0, client.right, client.bottom}));

  {  // An exception ends at the window procedure, which answers 0 as the
     // default processing of an application message does.
    testing_support::StderrCapture capture;
    EXPECT_EQ(SendMessageW(window, kThrowMessage, 0, 0), 0);
    EXPECT_NE(capture.Text().find("the window procedure: handler failed"),
              std::string::npos)
        << capture.Text();
  }

  // Closed without SetQuitWhenClosed: the hook runs once, no WM_QUIT.
  const int hooks = first->destroyHooks;
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(Find(L"first"), nullptr);
  EXPECT_EQ(first->destroyHooks, hooks + 1);
  MSG quit;
  EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));

  // The object's end destroys its window; the last one's, the class.
  second.reset();
  EXPECT_EQ(Find(L"second"), nullptr);
  EXPECT_TRUE(ClassRegistered()) << "a window object is still alive";
  first.reset();
  EXPECT_FALSE(ClassRegistered()) << "the last window object is gone";
}

TEST(Win32WindowTest, TitleBarFollowsTheUsersTheme) {
  DWORD protection = 0;
  VirtualProtect(&__imp_DwmSetWindowAttribute, sizeof(void*), PAGE_READWRITE,
                 &protection);
  __imp_DwmSetWindowAttribute = &RecordDwmCall;
  const wchar_t* const key =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
  const wchar_t* const name = L"AppsUseLightTheme";
  const DWORD dark = 0, light = 1, alsoLight = 2;
  RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_DWORD, &dark, 4);
  TestWindow window;
  ASSERT_TRUE(window.Create(L"theme", {10, 10}, {300, 200}));
  EXPECT_EQ(dwmCalls, (DwmCalls{{20, TRUE}})) << "at creation";  // dark mode

  const struct {
    const char* what;
    DWORD type;
    const void* data;  // none: no value
    DwmCalls calls;
  } kCases[] = {
      {"light", REG_DWORD, &light, {{20, FALSE}}},
      {"dark", REG_DWORD, &dark, {{20, TRUE}}},
      {"light, 2", REG_DWORD, &alsoLight, {{20, FALSE}}},
      {"a text", REG_SZ, L"0", {}},
      // Last, so that the prefix is left as Wine makes it.
      {"no value", REG_NONE, nullptr, {}},
  };
  for (const auto& c : kCases) {
    if (c.data != nullptr) {
      RegSetKeyValueW(HKEY_CURRENT_USER, key, name, c.type, c.data, 4);
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name);
    }
    dwmCalls.clear();
    SendMessageW(Find(L"theme"), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0);
    EXPECT_EQ(dwmCalls, c.calls) << c.what;
  }
}

TEST(CommandLineTest, AnArgumentThatIsNoValidUtf16BecomesEmpty) {
  const struct {
    const wchar_t* argument;
    std::string converted;
  } kCases[] = {
      {L"b c", "b c"},
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},  // a pair: U+1F600
      {L"x\xD83D", ""},                       // a high surrogate alone
      {L"\xDE00y", ""},                       // a low surrogate alone
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(win::WideToUtf8(c.argument), c.converted);
  }
}

}  // namespace
}  // namespace shell
