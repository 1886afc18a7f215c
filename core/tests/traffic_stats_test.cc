#include "core/traffic_stats.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/tests/fake_platform.h"

namespace core {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kEthernet = 6;
constexpr uint32_t kLoopback = 24;
constexpr uint32_t kUp = 5;
constexpr uint32_t kDown = 2;

class TrafficStatsTest : public ::testing::Test {
 protected:
  // One counted interface with these totals, read at `tick`.
  TrafficRates Measure(uint64_t tick, uint32_t out, uint32_t in) {
    platform_.rows = {{kEthernet, kUp, in, out}};
    platform_.tick = tick;
    return GetTrafficStats(platform_, sample_);
  }

  FakePlatform platform_;
  TrafficSample sample_;
};

TEST_F(TrafficStatsTest, RatesAreKilobitsPerSecondSinceTheLastCall) {
  const TrafficRates first = Measure(5000, 1000, 2000);
  EXPECT_EQ(first.upKbps, 0.0);
  EXPECT_EQ(first.downKbps, 0.0);
  EXPECT_EQ(sample_.tickMs, 5000u);
  EXPECT_THAT(platform_.calls,
              ElementsAre(L"InterfaceTableSize", L"ReadInterfaceTable 1000",
                          L"TickCount"));

  const TrafficRates second = Measure(6000, 126000, 252000);
  EXPECT_EQ(second.upKbps, 1000.0);
  EXPECT_EQ(second.downKbps, 2000.0);

  EXPECT_EQ(Measure(6500, 127000, 252000).upKbps, 16.0);
}

TEST_F(TrafficStatsTest, ClockThatDidNotMoveGivesZerosAndANewReference) {
  Measure(5000, 1000, 1000);
  const TrafficRates same = Measure(5000, 9000, 9000);
  EXPECT_EQ(same.upKbps, 0.0);
  EXPECT_EQ(same.downKbps, 0.0);
  EXPECT_EQ(sample_.outOctets, 9000u);
  EXPECT_EQ(Measure(6000, 9125, 9000).upKbps, 1.0);
}

TEST_F(TrafficStatsTest, OnlyOperationalNonLoopbackRowsCount) {
  platform_.rows = {{kEthernet, kUp, 0xFFFFFFFF, 0xFFFFFFFF},
                    {kEthernet, kUp, 0xFFFFFFFF, 1},
                    {kLoopback, kUp, 7000, 7000},
                    {kEthernet, kDown, 9000, 9000}};
  platform_.tick = 1;
  GetTrafficStats(platform_, sample_);
  EXPECT_EQ(sample_.inOctets, 0x1FFFFFFFEu);
  EXPECT_EQ(sample_.outOctets, 0x100000000u);
}

TEST_F(TrafficStatsTest, TotalThatWentDownCountsAsIdleForThatRateOnly) {
  Measure(1000, 50000, 1000);
  const TrafficRates rates = Measure(2000, 40000, 126000);
  EXPECT_EQ(rates.upKbps, 0.0);
  EXPECT_EQ(rates.downKbps, 1000.0);
  EXPECT_EQ(Measure(3000, 165000, 126000).upKbps, 1000.0);
}

TEST_F(TrafficStatsTest, UnreadableTableKeepsTheOlderSample) {
  Measure(1000, 0, 0);
  const TrafficSample kept = sample_;
  const struct {
    uint32_t sizeResult, tableSize, readResult;
  } failures[] = {
      {0, 1000, 0},      // no table at all
      {122, 0, 0},       // an empty size
      {50, 1000, 0},     // some other error
      {122, 1000, 122},  // the table grew between the two calls
  };
  for (const auto& f : failures) {
    platform_.sizeResult = f.sizeResult;
    platform_.tableSize = f.tableSize;
    platform_.readResult = f.readResult;
    const TrafficRates rates = Measure(1500, 99999, 99999);
    EXPECT_EQ(rates.upKbps, 0.0);
    EXPECT_EQ(rates.downKbps, 0.0);
    EXPECT_EQ(sample_.tickMs, kept.tickMs);
    EXPECT_EQ(sample_.outOctets, kept.outOctets);
  }
  platform_.sizeResult = 122;
  platform_.tableSize = 1000;
  platform_.readResult = 0;
  EXPECT_EQ(Measure(3000, 250000, 0).upKbps, 1000.0);  // over 2000 ms
}

}  // namespace
}  // namespace core
