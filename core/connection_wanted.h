// The mark a host holds while its user wants a connection, and the test
// whether another process holds one. While one does, no other process may
// switch the proxy off or end cores: a core that died under a connected host
// leaves a dead proxy that its host still shows as connected, and switching
// it off would send the user's traffic around the tunnel.

#ifndef CORE_CONNECTION_WANTED_H_
#define CORE_CONNECTION_WANTED_H_

#include <cstdint>
#include <memory>
#include <string>

#include "core/platform.h"

namespace core {

// Local\ZorvaneConnectionWanted-<process id in decimal>
std::wstring ConnectionWantedName(uint32_t processId);

// The mark of this process, held until the result is destroyed (or the
// process ends, however it ends); null when it cannot be made.
std::unique_ptr<NamedObject> HoldConnectionWanted(Platform& platform);

// True when a process other than this one holds its mark, and also when the
// process list cannot be read: what cannot be known to be unwanted is left
// alone.
bool AnotherProcessWantsAConnection(Platform& platform);

}  // namespace core

#endif  // CORE_CONNECTION_WANTED_H_
