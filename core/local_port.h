// The local SOCKS port of the core as the channel and the core start use it.

#ifndef CORE_LOCAL_PORT_H_
#define CORE_LOCAL_PORT_H_

#include <cstdint>

namespace core {

inline constexpr int32_t kDefaultLocalPort = 10808;

// Ports below 1024 are privileged and anything above 65535 is no port, so
// both fall back to the default; never fails.
constexpr int32_t NormalizeLocalPort(int32_t port) {
  return port >= 1024 && port <= 65535 ? port : kDefaultLocalPort;
}

}  // namespace core

#endif  // CORE_LOCAL_PORT_H_
