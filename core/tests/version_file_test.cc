#include "core/version_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "core/tests/fake_platform.h"
#include "core/tests/scratch_folder.h"

namespace core {
namespace {

namespace fs = std::filesystem;

class VersionFileTest : public ::testing::Test {
 protected:
  VersionFileTest() { platform_.moduleFileName = scratch_.ExecutableName(); }

  fs::path VersionFile() const {
    return scratch_.path() / "xray" / "version.txt";
  }

  void Store(const std::string& bytes) {
    fs::create_directories(VersionFile().parent_path());
    std::ofstream(VersionFile(), std::ios::binary) << bytes;
  }

  std::string Stored() const {
    std::ifstream file(VersionFile(), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }

  ScratchFolder scratch_;
  FakePlatform platform_;
  CoreLayout layout_{platform_};
};

TEST_F(VersionFileTest, MissingFileReadsAsUnknown) {
  EXPECT_EQ(ReadXrayVersion(layout_), kUnknownVersion);
  EXPECT_TRUE(fs::is_directory(scratch_.path() / "xray"));
}

TEST_F(VersionFileTest, WritesExactlyTheMarker) {
  Store("a much longer earlier content\r\n");
  WriteXrayVersion(layout_, "bundled");
  EXPECT_EQ(Stored(), "bundled");
  WriteXrayVersion(layout_, "latest");
  EXPECT_EQ(Stored(), "latest");
  EXPECT_EQ(ReadXrayVersion(layout_), "latest");
}

TEST_F(VersionFileTest, ReadsTheFirstLineWithoutItsCarriageReturn) {
  const struct {
    std::string bytes, version;
  } cases[] = {
      {"1.8.4\r\nmore\r\nlines\n", "1.8.4"},
      {"  v1 \t\nx", "  v1 \t"},
      {"a\rb\n", "a\rb"},
      {"a\r\r\n", "a\r"},
      {"1.8.4\r", "1.8.4\r"},
      {"", kUnknownVersion},
      {"\nlatest", kUnknownVersion},
      {"\r\nlatest", kUnknownVersion},
  };
  for (const auto& c : cases) {
    Store(c.bytes);
    EXPECT_EQ(ReadXrayVersion(layout_), c.version) << c.bytes;
  }
}

TEST_F(VersionFileTest, UnusableFileIsQuiet) {
  fs::create_directories(VersionFile());  // A folder in the file's place.
  EXPECT_NO_THROW(WriteXrayVersion(layout_, "latest"));
  EXPECT_EQ(ReadXrayVersion(layout_), kUnknownVersion);
}

}  // namespace
}  // namespace core
