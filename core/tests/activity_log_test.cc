#include "core/activity_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "core/log_lines.h"
#include "core/version_file.h"

namespace core {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ActivityLogTest, KeepsLinesInOrderAndSnapshotsLeaveThemAlone) {
  ActivityLog log;
  EXPECT_THAT(log.LogSnapshot(), IsEmpty());
  log.AppendLog(kLogProxyEnabled);
  log.AppendLog(kLogStarted);
  log.AppendLog(kLogStopped);
  log.AppendLog(kLogStopped);
  const auto first = log.LogSnapshot();
  EXPECT_THAT(first, ElementsAre(kLogProxyEnabled, kLogStarted, kLogStopped,
                                 kLogStopped));
  EXPECT_EQ(log.LogSnapshot(), first);
}

TEST(ActivityLogTest, LinesAreTheExactUtf8Texts) {
  // "Xray متوقف شد" and "نامشخص" byte by byte, whatever the editor did.
  EXPECT_EQ(std::string(kLogStopped),
            "Xray \xd9\x85\xd8\xaa\xd9\x88\xd9\x82\xd9\x81 \xd8\xb4\xd8\xaf");
  EXPECT_EQ(std::string(kUnknownVersion),
            "\xd9\x86\xd8\xa7\xd9\x85\xd8\xb4\xd8\xae\xd8\xb5");
}

}  // namespace
}  // namespace core
