// The machine's upload and download rates, averaged over the time between
// two requests of the user interface.

#ifndef CORE_TRAFFIC_STATS_H_
#define CORE_TRAFFIC_STATS_H_

#include <cstdint>

#include "core/platform.h"

namespace core {

// Kilobits per second, a kilobit being 1000 bits.
struct TrafficRates {
  double upKbps = 0.0;
  double downKbps = 0.0;
};

// The counters of the previous call; tickMs 0 means there was none.
struct TrafficSample {
  uint64_t outOctets = 0;
  uint64_t inOctets = 0;
  uint64_t tickMs = 0;
};

// Operational interfaces other than the loopback carry the machine's traffic.
bool CountsTowardsTraffic(const InterfaceRow& row);

// The rates since `sample`, which is then replaced; the first call and a
// clock that did not move give zero rates. Never fails: an unreadable
// interface table gives zero rates and leaves `sample` alone.
TrafficRates GetTrafficStats(Platform& platform, TrafficSample& sample);

}  // namespace core

#endif  // CORE_TRAFFIC_STATS_H_
