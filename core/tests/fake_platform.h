// An in-memory Platform: records every call with its arguments and answers
// what the test set up, failures included.

#ifndef CORE_TESTS_FAKE_PLATFORM_H_
#define CORE_TESTS_FAKE_PLATFORM_H_

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/platform.h"

namespace core {

class FakePlatform : public Platform {
 public:
  std::vector<std::wstring> calls;  // in order, e.g. L"SetDword ProxyEnable 1"

  std::wstring moduleFileName = L"C:\\Apps\\Client\\client.exe";  // "": fails
  std::wstring failing;  // opening the key or writing the value of this name
  uint32_t sizeResult = 122, tableSize = 1000, readResult = 0;
  std::vector<InterfaceRow> rows;
  uint64_t tick = 0;

  // Processes: whether they start, what runs when they do (e.g. an
  // extraction writing files), and the exit code they then report
  // (259: still running). Each started process is numbered from 1.
  bool startFails = false;
  std::function<void(const std::wstring& commandLine)> onStart;
  uint32_t exitCode = Process::kStillActive;
  bool exitCodeFails = false;
  int processesStarted = 0;
  int processHandlesOpen = 0;  // Process objects not yet destroyed.
  // Downloads: the HRESULT, and the bytes written to the file on success.
  long downloadResult = 0;
  std::string downloadContent = "PK";
  bool copyFails = false;

  // A name that does not fit fills the buffer, as on Windows.
  uint32_t ModuleFileName(wchar_t* buffer, uint32_t size) override {
    calls.push_back(L"ModuleFileName " + std::to_wstring(size));
    const size_t units = std::min<size_t>(moduleFileName.size(), size);
    std::copy_n(moduleFileName.begin(), units, buffer);
    return static_cast<uint32_t>(units);
  }
  std::unique_ptr<RegistryKey> OpenCurrentUserKey(
      const std::wstring& path) override {
    calls.push_back(L"OpenCurrentUserKey " + path);
    return path == failing ? nullptr : std::make_unique<Key>(*this);
  }
  void NotifyInternetOption(uint32_t option) override {
    calls.push_back(L"NotifyInternetOption " + std::to_wstring(option));
  }
  uint32_t InterfaceTableSize(uint32_t* size) override {
    calls.push_back(L"InterfaceTableSize");
    *size = tableSize;
    return sizeResult;
  }
  uint32_t ReadInterfaceTable(uint32_t size,
                              std::vector<InterfaceRow>* out) override {
    calls.push_back(L"ReadInterfaceTable " + std::to_wstring(size));
    if (readResult == 0) *out = rows;
    return readResult;
  }
  uint64_t TickCount() override {
    calls.push_back(L"TickCount");
    return tick;
  }
  std::unique_ptr<Process> StartHiddenProcess(
      const std::wstring& commandLine) override {
    calls.push_back(L"StartHiddenProcess " + commandLine);
    if (startFails) return nullptr;
    if (onStart) onStart(commandLine);
    return std::make_unique<FakeProcess>(*this, ++processesStarted);
  }
  void Sleep(uint32_t milliseconds) override {
    calls.push_back(L"Sleep " + std::to_wstring(milliseconds));
  }
  long DownloadToFile(const std::wstring& url,
                      const std::wstring& path) override {
    calls.push_back(L"DownloadToFile " + url);
    if (downloadResult >= 0) {
      std::ofstream(std::filesystem::path(path), std::ios::binary)
          << downloadContent;
    }
    return downloadResult;
  }
  // A real copy, so that the tests see the files the logic leaves.
  bool CopyOneFile(const std::wstring& from, const std::wstring& to,
                   bool overwrite) override {
    calls.push_back(L"CopyOneFile " +
                    std::filesystem::path(from).filename().wstring() +
                    (overwrite ? L" overwrite" : L""));
    if (copyFails || !std::filesystem::is_regular_file(from)) return false;
    if (!overwrite && std::filesystem::exists(to)) return false;
    // By hand: MinGW's copy_file refuses to overwrite under Wine.
    std::ifstream source(std::filesystem::path(from), std::ios::binary);
    std::ofstream target(std::filesystem::path(to),
                         std::ios::binary | std::ios::trunc);
    target << source.rdbuf();
    return static_cast<bool>(target);
  }

 private:
  class FakeProcess : public Process {
   public:
    FakeProcess(FakePlatform& platform, int number)
        : platform_(platform), name_(std::to_wstring(number)) {
      ++platform_.processHandlesOpen;
    }
    ~FakeProcess() override {
      --platform_.processHandlesOpen;
      Record(L"CloseProcess");
    }
    bool ExitCode(uint32_t* code) override {
      Record(L"ExitCode");
      if (platform_.exitCodeFails) return false;
      *code = platform_.exitCode;
      return true;
    }
    bool Wait(uint32_t milliseconds) override {
      Record(L"Wait " + std::to_wstring(milliseconds));
      return true;
    }
    bool Terminate(uint32_t exitCode) override {
      Record(L"Terminate " + std::to_wstring(exitCode));
      return true;
    }

   private:
    void Record(const std::wstring& call) {
      platform_.calls.push_back(call + L" #" + name_);
    }
    FakePlatform& platform_;
    std::wstring name_;
  };

  class Key : public RegistryKey {
   public:
    explicit Key(FakePlatform& platform) : platform_(platform) {}
    ~Key() override { platform_.calls.push_back(L"CloseKey"); }
    // Recorded as "SetDword NAME VALUE" and "SetString NAME TEXT"; data of
    // another size than its type needs is marked "(malformed)".
    long SetValue(const std::wstring& name, uint32_t type,
                  const std::vector<uint8_t>& data) override {
      if (type == kRegDword) {
        uint32_t value = 0;
        for (size_t i = 0; i < data.size() && i < 4; ++i) {
          value |= static_cast<uint32_t>(data[i]) << (8 * i);
        }
        return Record(L"SetDword " + name + L" " + std::to_wstring(value) +
                          (data.size() == 4 ? L"" : L" (malformed)"),
                      name);
      }
      // Our texts are ASCII: one unit per character, then the NUL unit.
      std::wstring text;
      for (size_t i = 0; i + 1 < data.size(); i += 2) {
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
      }
      const bool terminated = data.size() % 2 == 0 && !text.empty() &&
                              text.back() == L'\0' &&
                              text.find(L'\0') == text.size() - 1;
      if (terminated) text.pop_back();
      return Record(L"SetString " + name + L" " + text +
                        (terminated && type == kRegSz ? L"" : L" (malformed)"),
                    name);
    }

   private:
    long Record(std::wstring call, const std::wstring& name) {
      platform_.calls.push_back(std::move(call));
      return name == platform_.failing ? 5 : 0;  // 5: access denied
    }
    FakePlatform& platform_;
  };
};

}  // namespace core

#endif  // CORE_TESTS_FAKE_PLATFORM_H_
