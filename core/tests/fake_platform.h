// An in-memory Platform: records every call with its arguments and answers
// what the test set up, failures included.

#ifndef CORE_TESTS_FAKE_PLATFORM_H_
#define CORE_TESTS_FAKE_PLATFORM_H_

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/platform.h"

namespace core {

// ASCII text as a REG_SZ stores it: UTF-16LE and a NUL.
inline std::vector<uint8_t> Sz(const std::string& text) {
  std::vector<uint8_t> data;
  for (const char c : text + '\0') data.insert(data.end(), {uint8_t(c), 0});
  return data;
}

class FakePlatform : public Platform {
 public:
  std::vector<std::wstring> calls;  // in order, e.g. L"SetDword ProxyEnable 1"
  std::vector<uint32_t> nameBufferSizes;  // of each ModuleFileName call

  std::wstring moduleFileName = L"C:\\Apps\\Client\\client.exe";  // "": fails
  std::wstring shortName;  // ShortPathName's answer; "": none
  std::wstring systemDirectory = L"C:\\Windows\\system32";  // "": fails
  std::wstring failing;  // opening the key or writing the value of this name
  // The user's registry: what was written reads back, by key and value. It
  // starts with the Internet Settings key, empty, as a fresh Wine prefix.
  struct Value {
    uint32_t type;
    std::vector<uint8_t> data;
  };
  std::map<std::wstring, std::map<std::wstring, Value>> registry = {
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", {}}};
  bool readFails = false;  // every read answers 5, access denied
  std::vector<TcpListener> listeners;
  bool tableFails = false;
  uint32_t sizeResult = 122, tableSize = 1000, readResult = 0;
  std::vector<InterfaceRow> rows;
  uint64_t tick = 0;
  // Processes, numbered from 1: whether they start, what runs when they do
  // (e.g. an extraction writing files), and the exit code they then report.
  bool startFails = false;
  std::function<void(const std::wstring& commandLine)> onStart;
  uint32_t exitCode = Process::kStillActive;
  bool exitCodeFails = false;
  int processesStarted = 0;
  // Cores left running by an earlier host: how many the process list finds,
  // whether the list cannot be read, and whether ending any process fails
  // (its Terminate fails and its Wait times out).
  int leftoverCores = 0;
  bool listFails = false;
  bool endFails = false;
  // Named mutexes, by name, with their open handles; this process's id and
  // the snapshot's (none: it cannot be taken).
  std::map<std::wstring, int> mutexes;
  uint32_t processId = 100;
  std::vector<uint32_t> processIds = {4, 100};
  bool snapshotFails = false;
  long downloadResult = 0;  // The HRESULT; on success the file holds "PK".
  bool copyFails = false;

  // The system proxy as a program sets it: "ProxyEnable" and "ProxyServer".
  void SetProxy(uint8_t enable, const std::string& server) {
    auto& settings = registry.begin()->second;
    settings[L"ProxyEnable"] = {4, {enable, 0, 0, 0}};
    settings[L"ProxyServer"] = {1, Sz(server)};
  }
  // "ProxyEnable"'s first byte; -1 when it is absent.
  int ProxyEnabled() const {
    const auto& settings = registry.begin()->second;
    const auto value = settings.find(L"ProxyEnable");
    return value == settings.end() ? -1 : value->second.data.at(0);
  }

  // A name that does not fit fills the buffer, as on Windows.
  uint32_t ModuleFileName(wchar_t* buffer, uint32_t size) override {
    nameBufferSizes.push_back(size);
    return static_cast<uint32_t>(moduleFileName.copy(buffer, size));
  }
  std::unique_ptr<RegistryKey> OpenCurrentUserKey(
      const std::wstring& path) override {
    calls.push_back(L"OpenCurrentUserKey " + path);
    if (path == failing || !registry.count(path)) return nullptr;
    return std::make_unique<Key>(*this, path);
  }
  std::unique_ptr<RegistryKey> CreateCurrentUserKey(
      const std::wstring& path) override {
    calls.push_back(L"CreateCurrentUserKey " + path);
    if (path == failing) return nullptr;
    registry[path];
    return std::make_unique<Key>(*this, path);
  }
  // "ReadValue NAME"; 2 when the key or the value is absent.
  long ReadCurrentUserValue(const std::wstring& path, const std::wstring& name,
                            uint32_t* type,
                            std::vector<uint8_t>* data) override {
    calls.push_back(L"ReadValue " + name);
    if (readFails) return 5;
    const auto key = registry.find(path);
    if (key == registry.end() || !key->second.count(name)) return 2;
    *type = key->second.at(name).type;
    *data = key->second.at(name).data;
    return 0;
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
  bool ListeningTcpSockets(std::vector<TcpListener>* out) override {
    calls.push_back(L"ListeningTcpSockets");
    if (tableFails) return false;
    *out = listeners;
    return true;
  }
  uint64_t TickCount() override {
    calls.push_back(L"TickCount");
    return tick;
  }
  // "StartHiddenProcess [PROGRAM] COMMAND", the program only when given.
  std::unique_ptr<Process> StartHiddenProcess(
      const std::wstring& program, const std::wstring& commandLine) override {
    calls.push_back(L"StartHiddenProcess " +
                    (program.empty() ? L"" : L"[" + program + L"] ") +
                    commandLine);
    if (startFails) return nullptr;
    if (onStart) onStart(commandLine);
    return std::make_unique<FakeProcess>(
        *this, L" #" + std::to_wstring(++processesStarted));
  }
  std::wstring SystemDirectory() override { return systemDirectory; }
  bool ProcessesWithImage(
      const std::wstring& imagePath,
      std::vector<std::unique_ptr<Process>>* found) override {
    calls.push_back(L"ProcessesWithImage " + imagePath);
    if (listFails) return false;
    for (int i = 1; i <= leftoverCores; ++i) {
      found->push_back(std::make_unique<FakeProcess>(
          *this, L" leftover" + std::to_wstring(i)));
    }
    return true;
  }
  uint32_t CurrentProcessId() override { return processId; }
  bool ProcessIds(std::vector<uint32_t>* ids) override {
    if (snapshotFails) return false;
    *ids = processIds;
    return true;
  }
  // "CreateNamedMutex NAME"; the mutex goes with its last handle.
  std::unique_ptr<NamedObject> CreateNamedMutex(
      const std::wstring& name) override {
    calls.push_back(L"CreateNamedMutex " + name);
    return std::make_unique<Mutex>(*this, name);
  }
  bool NamedMutexExists(const std::wstring& name) override {
    return mutexes.count(name) != 0;
  }
  void Sleep(uint32_t milliseconds) override {
    calls.push_back(L"Sleep " + std::to_wstring(milliseconds));
  }
  long DownloadToFile(const std::wstring& url,
                      const std::wstring& path) override {
    calls.push_back(L"DownloadToFile " + url);
    if (downloadResult >= 0) std::ofstream(std::filesystem::path(path)) << "PK";
    return downloadResult;
  }
  std::wstring ShortPathName(const std::wstring&) override {
    calls.push_back(L"ShortPathName");
    return shortName;
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
  // Records its calls as "CALL #NUMBER" (started here) or "CALL leftoverN".
  class FakeProcess : public Process {
   public:
    FakeProcess(FakePlatform& platform, std::wstring name)
        : platform_(platform), name_(std::move(name)) {}
    ~FakeProcess() override { Record(L"CloseProcess"); }
    bool ExitCode(uint32_t* code) override {
      *code = platform_.exitCode;
      return Record(L"ExitCode") && !platform_.exitCodeFails;
    }
    bool Wait(uint32_t ms) override {
      return Record(L"Wait " + std::to_wstring(ms)) && !platform_.endFails;
    }
    bool Terminate(uint32_t code) override {
      return Record(L"Terminate " + std::to_wstring(code)) &&
             !platform_.endFails;
    }

   private:
    bool Record(const std::wstring& call) {
      platform_.calls.push_back(call + name_);
      return true;
    }
    FakePlatform& platform_;
    std::wstring name_;
  };

  class Mutex : public NamedObject {
   public:
    Mutex(FakePlatform& platform, std::wstring name)
        : platform_(platform), name_(std::move(name)) {
      ++platform_.mutexes[name_];
    }
    ~Mutex() override {
      if (--platform_.mutexes[name_] == 0) platform_.mutexes.erase(name_);
    }

   private:
    FakePlatform& platform_;
    const std::wstring name_;
  };

  class Key : public RegistryKey {
   public:
    Key(FakePlatform& platform, std::wstring path)
        : platform_(platform), path_(std::move(path)) {}
    ~Key() override { platform_.calls.push_back(L"CloseKey"); }
    // "SetDword NAME VALUE" (its low byte: 0 or 1) or "SetString NAME TEXT"
    // (ASCII: the low byte of each unit up to the NUL); the exact bytes are
    // the Windows tests' to check.
    long SetValue(const std::wstring& name, uint32_t type,
                  const std::vector<uint8_t>& data) override {
      std::wstring text;
      for (size_t i = 0; i < data.size() && data[i]; i += 2) text += data[i];
      platform_.calls.push_back(type == kRegSz
                                    ? L"SetString " + name + L" " + text
                                    : L"SetDword " + name + L" " +
                                          std::to_wstring(data.at(0)));
      if (name == platform_.failing) return 5;  // access denied
      platform_.registry[path_][name] = {type, data};
      return 0;
    }
    long DeleteValue(const std::wstring& name) override {
      platform_.calls.push_back(L"DeleteValue " + name);
      return platform_.registry[path_].erase(name) ? 0 : 2;
    }

   private:
    FakePlatform& platform_;
    const std::wstring path_;
  };
};

}  // namespace core

#endif  // CORE_TESTS_FAKE_PLATFORM_H_
