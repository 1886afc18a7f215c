#include "core/connection_wanted.h"

#include <vector>

namespace core {

std::wstring ConnectionWantedName(uint32_t processId) {
  return L"Local\\ZorvaneConnectionWanted-" + std::to_wstring(processId);
}

std::unique_ptr<NamedObject> HoldConnectionWanted(Platform& platform) {
  return platform.CreateNamedMutex(
      ConnectionWantedName(platform.CurrentProcessId()));
}

bool AnotherProcessWantsAConnection(Platform& platform) {
  std::vector<uint32_t> ids;
  if (!platform.ProcessIds(&ids)) return true;
  const uint32_t self = platform.CurrentProcessId();
  for (const uint32_t id : ids) {
    if (id != self && platform.NamedMutexExists(ConnectionWantedName(id))) {
      return true;
    }
  }
  return false;
}

}  // namespace core
