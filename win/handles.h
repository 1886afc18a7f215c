// One owner per Windows handle: a move-only wrapper per handle kind that
// closes its handle when the owner goes. Shared by the product's Windows
// code and by the stand-ins.
#ifndef WIN_HANDLES_H_
#define WIN_HANDLES_H_

// winsock2.h must come before windows.h, which would pull in the old winsock.
#include <windows.h>
#include <winsock2.h>

namespace win {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle(handle) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : handle(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle Get() const { return handle; }
  bool Valid() const { return handle != Traits::Invalid(); }
  explicit operator bool() const { return Valid(); }

  // For the out parameters of the Windows calls; closes what was held.
  Handle* Put() {
    Reset();
    return &handle;
  }

  Handle Release() {
    Handle released = handle;
    handle = Traits::Invalid();
    return released;
  }

  void Reset(Handle replacement = Traits::Invalid()) {
    if (Valid()) Traits::Close(handle);
    handle = replacement;
  }

 private:
  Handle handle = Traits::Invalid();
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle key) { RegCloseKey(key); }
};

// Processes, threads, events: the kernel objects whose "none" is null.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { CloseHandle(handle); }
};

// CreateFileW and the find functions say "none" with INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { CloseHandle(handle); }
};

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() { return INVALID_SOCKET; }
  static void Close(Handle socket) { closesocket(socket); }
};

// For windows nobody else destroys: message windows and windows of our own.
struct WindowTraits {
  using Handle = HWND;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle window) { DestroyWindow(window); }
};

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle object) { DeleteObject(object); }
};

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle dc) { DeleteDC(dc); }
};

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle module) { FreeLibrary(module); }
};

using UniqueHkey = UniqueHandle<RegistryKeyTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;

// The two handles CreateProcessW hands back, each with its own owner.
struct UniqueProcessInformation {
  UniqueProcessInformation() = default;
  explicit UniqueProcessInformation(const PROCESS_INFORMATION& information)
      : process(information.hProcess),
        thread(information.hThread),
        processId(information.dwProcessId) {}

  UniqueKernelHandle process;
  UniqueKernelHandle thread;
  DWORD processId = 0;
};

// Keeps Winsock initialised while held.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool Started() const { return started; }

 private:
  bool started = false;
};

// A window's device context for drawing outside WM_PAINT.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window(window), dc(GetDC(window)) {}
  ~WindowDc() {
    if (dc != nullptr) ReleaseDC(window, dc);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC Get() const { return dc; }

 private:
  HWND window;
  HDC dc;
};

// Puts an object into a device context and takes it out again.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object)
      : dc(dc), previous(SelectObject(dc, object)) {}
  ~SelectedObject() { SelectObject(dc, previous); }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc;
  HGDIOBJ previous;
};

}  // namespace win

#endif  // WIN_HANDLES_H_
