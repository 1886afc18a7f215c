#include "standins/powershell/zip_entry_name.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace powershell {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

TEST(ZipEntryNameTest, SplitsSafeNamesIntoComponents) {
  const struct {
    std::string name;
    std::vector<std::string> components;
    bool is_folder;
  } cases[] = {
      {"bin/xray.exe", {"bin", "xray.exe"}, false},
      {"a\\b/", {"a", "b"}, true},
      {"./a//b", {"a", "b"}, false},
      {"..a/b..c/nul-not/.x", {"..a", "b..c", "nul-not", ".x"}, false},
      {"\xD9\x81/\xE2\x80\x99.txt", {"\xD9\x81", "\xE2\x80\x99.txt"}, false},
  };
  for (const auto& c : cases) {
    const EntryPath path = ParseEntryName(c.name, true);
    EXPECT_EQ(path.error, "") << c.name;
    EXPECT_THAT(path.components, ElementsAreArray(c.components)) << c.name;
    EXPECT_EQ(path.is_folder, c.is_folder) << c.name;
  }
}

TEST(ZipEntryNameTest, RefusesNamesThatLeaveTheFolderOrAreNotPlainNames) {
  const struct {
    std::string name, why;
  } cases[] = {
      {"a/../../evil", "climbs out"}, {"a\\..\\..\\evil", "climbs out"},
      {"/etc/passwd", "absolute"},    {"\\\\server\\share\\x", "absolute"},
      {"C:evil", "forbids"},          {"x.exe:stream", "forbids"},
      {".. /evil", "dot or a blank"}, {"a/file.", "dot or a blank"},
      {"a/com1.txt", "device"},       {"NUL", "device"},
      {"caf\x82.txt", "UTF-8 flag"},  {".", "names no file"},
  };
  for (const auto& c : cases) {
    const EntryPath path = ParseEntryName(c.name, false);
    EXPECT_THAT(path.error, HasSubstr(c.why)) << c.name;
    EXPECT_TRUE(path.components.empty()) << c.name;
  }
  // The reason stays on one line whatever the name holds.
  EXPECT_EQ(ParseEntryName("../a\nb", false).error,
            "entry \"../a?b\" refused: it climbs out of the destination");
}

}  // namespace
}  // namespace powershell
