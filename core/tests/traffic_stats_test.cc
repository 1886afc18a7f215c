#include "core/traffic_stats.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/tests/fake_platform.h"

namespace core {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kEthernet = 6, kLoopback = 24, kUp = 5, kDown = 2;

class TrafficStatsTest : public ::testing::Test {
 protected:
  FakePlatform platform_;
  TrafficSample sample_;
};

TEST_F(TrafficStatsTest, RatesOverTheTimeSinceTheLastGoodSample) {
  const struct {
    uint64_t tick;
    uint32_t out, in;
    double up, down;
    uint32_t sizeResult = 122, tableSize = 1000, readResult = 0;
  } steps[] = {
      {5000, 1000, 2000, 0.0, 0.0},  // the first call only takes a sample
      {6000, 126000, 252000, 1000.0, 2000.0},
      {6500, 127000, 252000, 16.0, 0.0},
      {6500, 200000, 300000, 0.0, 0.0},  // no time passed: a new reference
      {7500, 200125, 300000, 1.0, 0.0},
      {8500, 100000, 425000, 0.0, 1000.0},  // sent total went down
      {9500, 225000, 425000, 1000.0, 0.0},  // ... and is the new reference
      // An unreadable table leaves the sample of 9500 in place.
      {10000, 0, 0, 0.0, 0.0, 0},               // no table at all
      {10000, 0, 0, 0.0, 0.0, 122, 0},          // a table of no size
      {10000, 0, 0, 0.0, 0.0, 122, 1000, 122},  // grew between the calls
      {11500, 475000, 425000, 1000.0, 0.0},
  };
  for (const auto& s : steps) {
    platform_.sizeResult = s.sizeResult;
    platform_.tableSize = s.tableSize;
    platform_.readResult = s.readResult;
    platform_.rows = {{kEthernet, kUp, s.in, s.out}};
    platform_.tick = s.tick;
    const TrafficRates rates = GetTrafficStats(platform_, sample_);
    EXPECT_EQ(rates.upKbps, s.up) << s.tick;
    EXPECT_EQ(rates.downKbps, s.down) << s.tick;
  }
}

TEST_F(TrafficStatsTest, OnlyOperationalNonLoopbackRowsCountIn64Bits) {
  platform_.rows = {{kEthernet, kUp, 0xFFFFFFFF, 0xFFFFFFFF},
                    {kEthernet, kUp, 0xFFFFFFFF, 1},
                    {kLoopback, kUp, 7000, 7000},
                    {kEthernet, kDown, 9000, 9000}};
  platform_.tick = 1;
  GetTrafficStats(platform_, sample_);
  EXPECT_EQ(sample_.inOctets, 0x1FFFFFFFEu);
  EXPECT_EQ(sample_.outOctets, 0x100000000u);
  EXPECT_THAT(platform_.calls,
              ElementsAre(L"InterfaceTableSize", L"ReadInterfaceTable 1000",
                          L"TickCount"));
}

}  // namespace
}  // namespace core
