// An in-memory Platform: records every call with its arguments and answers
// what the test set up, failures included.

#ifndef CORE_TESTS_FAKE_PLATFORM_H_
#define CORE_TESTS_FAKE_PLATFORM_H_

#include <algorithm>
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

 private:
  class Key : public RegistryKey {
   public:
    explicit Key(FakePlatform& platform) : platform_(platform) {}
    ~Key() override { platform_.calls.push_back(L"CloseKey"); }
    long SetDword(const std::wstring& name, uint32_t value) override {
      return Record(L"SetDword " + name + L" " + std::to_wstring(value), name);
    }
    long SetString(const std::wstring& name,
                   const std::wstring& text) override {
      return Record(L"SetString " + name + L" " + text, name);
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
