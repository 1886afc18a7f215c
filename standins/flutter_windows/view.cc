#include "standins/flutter_windows/view.h"

#include <algorithm>
#include <string>
#include <vector>

#include "win/text.h"

using standin::LineKind;

namespace {

constexpr UINT kDrawFrame = WM_APP + 2;
constexpr int kLineHeight = 18;
constexpr int kHeaderHeight = 28;
constexpr int kMargin = 8;

COLORREF LineColor(LineKind kind) {
  switch (kind) {
    case LineKind::kCall:
      return RGB(20, 70, 170);
    case LineKind::kReply:
      return RGB(10, 120, 40);
    case LineKind::kProblem:
      return RGB(180, 40, 30);
    case LineKind::kEvent:
      break;
  }
  return RGB(80, 80, 80);
}

win::UniqueGdiObject TranscriptFont() {
  return win::UniqueGdiObject(
      CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                  FIXED_PITCH | FF_MODERN, L"Courier New"));
}

void DrawLine(HDC dc, const std::wstring& text, RECT area, COLORREF color) {
  SetTextColor(dc, color);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
            DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS | DT_VCENTER);
}

}  // namespace

std::unique_ptr<FlutterDesktopView> FlutterDesktopView::Create(
    HWND parent, int width, int height, FlutterDesktopEngine* engine) {
  std::unique_ptr<FlutterDesktopView> view(new FlutterDesktopView(engine));
  HWND created = standin::CreateClassWindow(
      view.get(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, parent,
      std::max(width, 0), std::max(height, 0));
  return created != nullptr ? std::move(view) : nullptr;
}

FlutterDesktopView::FlutterDesktopView(FlutterDesktopEngine* engine)
    : engine(engine) {}

FlutterDesktopView::~FlutterDesktopView() {
  if (HWND alive = window.exchange(nullptr)) DestroyWindow(alive);
}

void FlutterDesktopView::ScheduleFrame() {
  HWND target = window;
  if (target != nullptr && !framePending.exchange(true)) {
    PostMessageW(target, kDrawFrame, 0, 0);
  }
}

LRESULT FlutterDesktopView::HandleWindowMessage(HWND hwnd, UINT message,
                                                WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE:
      window = hwnd;  // messages sent during creation already use it
      break;
    case kDrawFrame:
      DrawFrame();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // every paint covers the whole window
    case WM_SIZE:
      ScheduleFrame();
      return 0;
    case WM_NCDESTROY:
      window = nullptr;
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void FlutterDesktopView::DrawFrame() {
  framePending = false;
  RECT client = {};
  GetClientRect(window, &client);
  frameSize = {std::max<LONG>(client.right, 1),
               std::max<LONG>(client.bottom, 1)};
  frame = RenderBitmap(frameSize.cx, frameSize.cy);
  InvalidateRect(window, nullptr, FALSE);
  engine->OnFrameDrawn();
}

void FlutterDesktopView::Paint() {
  PAINTSTRUCT paint;
  HDC target = BeginPaint(window, &paint);
  RECT client = {};
  GetClientRect(window, &client);
  // A resize can get here before its frame: show the transcript as it is.
  if (!frame.Valid() || frameSize.cx != client.right ||
      frameSize.cy != client.bottom) {
    frameSize = {std::max<LONG>(client.right, 1),
                 std::max<LONG>(client.bottom, 1)};
    frame = RenderBitmap(frameSize.cx, frameSize.cy);
  }
  win::UniqueMemoryDc source(CreateCompatibleDC(target));
  if (source.Valid() && frame.Valid()) {
    win::SelectedObject selected(source.Get(), frame.Get());
    BitBlt(target, 0, 0, frameSize.cx, frameSize.cy, source.Get(), 0, 0,
           SRCCOPY);
  }
  EndPaint(window, &paint);
}

win::UniqueGdiObject FlutterDesktopView::RenderBitmap(int width,
                                                      int height) const {
  win::WindowDc screen(window);
  win::UniqueGdiObject bitmap(
      CreateCompatibleBitmap(screen.Get(), width, height));
  win::UniqueMemoryDc dc(CreateCompatibleDC(screen.Get()));
  if (!bitmap.Valid() || !dc.Valid()) return {};
  win::SelectedObject selected(dc.Get(), bitmap.Get());
  Render(dc.Get(), width, height);
  return bitmap;
}

void FlutterDesktopView::Render(HDC dc, int width, int height) const {
  win::UniqueGdiObject background(CreateSolidBrush(RGB(250, 250, 247)));
  win::UniqueGdiObject band(CreateSolidBrush(RGB(30, 45, 75)));
  const RECT all = {0, 0, width, height};
  const RECT header = {0, 0, width, kHeaderHeight};
  FillRect(dc, &all, static_cast<HBRUSH>(background.Get()));
  FillRect(dc, &header, static_cast<HBRUSH>(band.Get()));

  win::UniqueGdiObject font = TranscriptFont();
  win::SelectedObject selected(dc, font.Get());
  SetBkMode(dc, TRANSPARENT);

  const uint16_t port = engine->DriverPort();
  const std::string title =
      "Stand-in Flutter engine - " +
      (port != 0 ? "driver on 127.0.0.1:" + std::to_string(port)
                 : std::string("no driver"));
  DrawLine(dc, win::Utf8ToWide(title),
           {kMargin, 0, width - kMargin, kHeaderHeight}, RGB(255, 255, 255));

  // The newest lines that fit, oldest first.
  const std::vector<standin::TranscriptLine> lines = engine->Log().Lines();
  const int room =
      std::max(0, (height - kHeaderHeight - kMargin) / kLineHeight);
  const size_t first =
      lines.size() > static_cast<size_t>(room) ? lines.size() - room : 0;
  int top = kHeaderHeight + kMargin / 2;
  for (size_t i = first; i < lines.size(); ++i, top += kLineHeight) {
    DrawLine(dc, win::Utf8ToWide(lines[i].text),
             {kMargin, top, width - kMargin, top + kLineHeight},
             LineColor(lines[i].kind));
  }
}
