#include "standins/flutter_windows/view.h"

#include <algorithm>
#include <string>
#include <vector>

#include "standins/flutter_windows/records.h"
#include "win/text.h"

using standin::LineKind;

namespace {

constexpr UINT kDrawFrame = WM_APP + 2;
constexpr UINT kCheckFocus = WM_APP + 3;
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

std::string Dimensions(LONG width, LONG height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

std::unique_ptr<FlutterDesktopView> FlutterDesktopView::Create(
    HWND parent, int width, int height, standin::ViewContent* content) {
  const SIZE size = {std::max(width, 0), std::max(height, 0)};
  std::unique_ptr<FlutterDesktopView> view(
      new FlutterDesktopView(parent, size, content));
  HWND created = standin::CreateClassWindow(
      view.get(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, parent, size.cx,
      size.cy);
  if (created == nullptr) return nullptr;
  standin::ObjectBorn(standin::ObjectKind::kView, view.get());
  return view;
}

FlutterDesktopView::FlutterDesktopView(HWND waitingRoom, SIZE created,
                                       standin::ViewContent* content)
    : content(content), waitingRoom(waitingRoom), created(created) {}

FlutterDesktopView::~FlutterDesktopView() {
  standin::ObjectEnding(standin::ObjectKind::kView, this);
  if (HWND alive = window.exchange(nullptr)) DestroyWindow(alive);
  standin::ObjectEnded(this);
}

void FlutterDesktopView::ScheduleFrame() {
  HWND target = window;
  if (target != nullptr && redrawAsked && !framePending.exchange(true)) {
    PostMessageW(target, kDrawFrame, 0, 0);
  }
}

void FlutterDesktopView::ForceRedraw() {
  redrawAsked = true;
  ScheduleFrame();
}

void FlutterDesktopView::CheckFocusAfterActivation() {
  // Posted: the host's own handling of the activation comes first.
  if (HWND target = window) PostMessageW(target, kCheckFocus, 0, 0);
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
    case kCheckFocus:
      CheckFocus();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // every paint covers the whole window
    case WM_SIZE:
      CheckSize(SIZE{LOWORD(lparam), HIWORD(lparam)});
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
  CheckSize(std::nullopt);
  RECT client = {};
  GetClientRect(window, &client);
  frameSize = {std::max<LONG>(client.right, 1),
               std::max<LONG>(client.bottom, 1)};
  frame = RenderBitmap(frameSize.cx, frameSize.cy);
  InvalidateRect(window, nullptr, FALSE);
  RecordVisibility();
  content->OnFrameDrawn();
}

void FlutterDesktopView::RecordVisibility() {
  const HWND root = GetAncestor(window, GA_ROOT);
  const bool visible = root != nullptr && IsWindowVisible(root) != FALSE;
  if (lastFrameVisible == visible) return;
  standin::Record(std::string(lastFrameVisible ? "a later" : "the first") +
                  " frame drawn with the top-level window " +
                  (visible ? "visible" : "hidden"));
  lastFrameVisible = visible;
}

void FlutterDesktopView::CheckSize(std::optional<SIZE> resized) {
  const HWND parent = GetParent(window);
  if (parent == nullptr || parent == waitingRoom) return;
  RECT area = {};
  GetClientRect(parent, &area);
  const auto fits = [&area](SIZE size) {
    return size.cx == area.right && size.cy == area.bottom;
  };
  const auto describe = [&area](const std::string& what, SIZE size) {
    return what + " " + Dimensions(size.cx, size.cy) + " in a client area of " +
           Dimensions(area.right, area.bottom);
  };
  if (!adopted) {
    adopted = true;
    const std::string line = describe("view created at", created);
    if (fits(created)) {
      standin::Record(line);
    } else {
      standin::RecordFault(line);
    }
  }
  // Only a misfit: a user dragging the frame would flood the records.
  if (resized && !fits(*resized)) {
    standin::RecordFault(describe("view resized to", *resized));
  }
}

void FlutterDesktopView::CheckFocus() {
  if (GetFocus() == window) {
    standin::Record("activation gave the view the focus");
  } else {
    standin::RecordFault("activation left the focus off the view");
  }
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

  DrawLine(dc, win::Utf8ToWide(content->Title()),
           {kMargin, 0, width - kMargin, kHeaderHeight}, RGB(255, 255, 255));

  // The newest lines that fit, oldest first.
  const std::vector<standin::TranscriptLine> lines = content->Lines();
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
