#include "core/traffic_stats.h"

#include <vector>

namespace core {
namespace {

constexpr uint32_t kNoError = 0;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kOperational = 5;
constexpr uint32_t kSoftwareLoopback = 24;

// A total below the reference (a 32-bit counter wrapped, an interface went
// away) cannot be told apart from a reset, so that interval counts as idle.
uint64_t Growth(uint64_t now, uint64_t before) {
  return now >= before ? now - before : 0;
}

double Kbps(uint64_t octets, double seconds) {
  return static_cast<double>(octets) * 8.0 / seconds / 1000.0;
}

}  // namespace

bool CountsTowardsTraffic(const InterfaceRow& row) {
  return row.operStatus == kOperational && row.type != kSoftwareLoopback;
}

TrafficRates GetTrafficStats(Platform& platform, TrafficSample& sample) {
  uint32_t size = 0;
  if (platform.InterfaceTableSize(&size) != kInsufficientBuffer || size == 0) {
    return {};
  }
  std::vector<InterfaceRow> rows;
  if (platform.ReadInterfaceTable(size, &rows) != kNoError) return {};

  TrafficSample now;
  for (const InterfaceRow& row : rows) {
    if (!CountsTowardsTraffic(row)) continue;
    now.outOctets += row.outOctets;
    now.inOctets += row.inOctets;
  }
  now.tickMs = platform.TickCount();

  const TrafficSample before = sample;
  sample = now;
  if (before.tickMs == 0 || now.tickMs <= before.tickMs) return {};
  const double seconds =
      static_cast<double>(now.tickMs - before.tickMs) / 1000.0;
  return {Kbps(Growth(now.outOctets, before.outOctets), seconds),
          Kbps(Growth(now.inOctets, before.inOctets), seconds)};
}

}  // namespace core
