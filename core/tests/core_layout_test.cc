#include "core/core_layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "core/tests/fake_platform.h"
#include "core/tests/scratch_folder.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// Windows-style text with this platform's separator where paths are joined.
std::wstring Joined(std::wstring path) {
  std::replace(path.begin(), path.end(), L'|', kPathSeparator);
  return path;
}

TEST(CoreLayoutTest, ParentPathKeepsTheRoot) {
  const struct {
    std::wstring path, parent;
  } cases[] = {
      {L"C:\\Apps\\Client\\client.exe", L"C:\\Apps\\Client"},
      {L"C:\\client.exe", L"C:\\"},
      {L"C:/Apps/client.exe", L"C:/Apps"},
      {L"C:\\Apps\\\\client.exe", L"C:\\Apps"},
      {L"\\\\server\\share\\client.exe", L"\\\\server\\share"},
      {L"\\\\server\\client.exe", L"\\\\server\\"},
      {L"/opt/app/client", L"/opt/app"},
      {L"client.exe", L""},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ParentPath(c.path), c.parent);
}

TEST(CoreLayoutTest, JoinAddsOneSeparatorOnlyWhereNeeded) {
  EXPECT_EQ(JoinPath(L"", L"xray"), L"xray");
  EXPECT_EQ(JoinPath(L"C:\\", L"xray"), L"C:\\xray");
  EXPECT_EQ(JoinPath(L"C:/", L"xray"), L"C:/xray");
  EXPECT_EQ(JoinPath(L"C:\\Apps", L"xray"), Joined(L"C:\\Apps|xray"));
}

TEST(CoreLayoutTest, ModuleNameBufferDoublesUntilTheNameFits) {
  const struct {
    size_t length;
    std::vector<std::wstring> calls;
  } cases[] = {
      {259, {L"ModuleFileName 260"}},
      {260, {L"ModuleFileName 260", L"ModuleFileName 520"}},
      {1000,
       {L"ModuleFileName 260", L"ModuleFileName 520", L"ModuleFileName 1040"}},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    const std::wstring folder = L"C:\\" + std::wstring(c.length - 14, L'd');
    platform.moduleFileName = folder + L"\\client.exe";
    ASSERT_EQ(platform.moduleFileName.size(), c.length);
    EXPECT_EQ(CoreLayout(platform).ExecutableDirectory(), folder);
    EXPECT_THAT(platform.calls, ElementsAreArray(c.calls));
  }
}

TEST(CoreLayoutTest, ShippedCoreSitsInTheAssetsAndCreatesNothing) {
  FakePlatform platform;
  EXPECT_EQ(CoreLayout(platform).ShippedXrayPath(),
            Joined(L"C:\\Apps\\Client|data|flutter_assets|assets|xray|windows|"
                   L"xray.exe"));

  platform.moduleFileNameFails = true;  // Paths become relative.
  EXPECT_EQ(CoreLayout(platform).ShippedXrayPath(),
            Joined(L"data|flutter_assets|assets|xray|windows|xray.exe"));

  ScratchFolder scratch;
  platform.moduleFileNameFails = false;
  platform.moduleFileName = scratch.ExecutableName();
  CoreLayout(platform).ShippedXrayPath();
  EXPECT_TRUE(fs::is_empty(scratch.path()));
}

TEST(CoreLayoutTest, CoreFilesLiveInACoreFolderThatIsAlwaysThere) {
  ScratchFolder scratch;
  FakePlatform platform;
  platform.moduleFileName = scratch.ExecutableName();
  const CoreLayout layout(platform);
  const fs::path core = scratch.path() / "xray";

  EXPECT_EQ(layout.XrayExePath(), core / "xray.exe");
  EXPECT_TRUE(fs::is_directory(core));
  EXPECT_TRUE(fs::is_empty(core));
  fs::remove(core);
  EXPECT_EQ(layout.CoreDirectory(), core);
  EXPECT_TRUE(fs::is_directory(core));
  EXPECT_EQ(layout.ConfigFilePath(), core / "config.json");
  EXPECT_EQ(layout.VersionFilePath(), core / "version.txt");
  EXPECT_EQ(layout.ArchivePath(), core / "xray.zip");
  EXPECT_EQ(layout.ExtractionDirectory(), core / "downloaded");
}

TEST(CoreLayoutTest, CoreFolderThatCannotBeCreatedIsANamedError) {
  ScratchFolder scratch;
  std::ofstream(scratch.path() / "xray") << "a file in the folder's place";
  FakePlatform platform;
  platform.moduleFileName = scratch.ExecutableName();
  try {
    CoreLayout(platform).XrayExePath();
    FAIL() << "no error raised";
  } catch (const fs::filesystem_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("create_directories"));
    EXPECT_EQ(error.path1(), scratch.path() / "xray");
  }
}

TEST(CoreLayoutTest, ExistenceTest) {
  ScratchFolder scratch;
  fs::create_directories(scratch.path() / "xray" / "xray.exe");
  EXPECT_TRUE(PathExists(scratch.path() / "xray" / "xray.exe"));
  EXPECT_FALSE(PathExists(scratch.path() / "missing"));
  EXPECT_FALSE(PathExists(scratch.path() / "missing" / "xray.exe"));
#ifndef _WIN32
  // A name longer than the file system allows cannot be probed at all. (The
  // Windows runtime reports such names as absent.)
  const fs::path unprobeable = scratch.path() / std::string(300, 'n');
  try {
    PathExists(unprobeable);
    FAIL() << "no error raised";
  } catch (const fs::filesystem_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("exists"));
    EXPECT_EQ(error.path1(), unprobeable);
  }
#endif
}

}  // namespace
}  // namespace core
