// The core folder and the version file in it, on the real file system.

#include "core/core_layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/tests/fake_platform.h"
#include "core/tests/scratch_host.h"
#include "core/version_file.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

class ScratchExecutableTest : public ScratchHostTest {
 protected:
  const CoreLayout layout_{platform_};
};

// The file-system error named `operation` for `path`.
auto FileSystemError(const char* operation, const fs::path& path) {
  return ThrowsMessage<fs::filesystem_error>(
      AllOf(HasSubstr(operation), HasSubstr(path.string())));
}

TEST(CoreLayoutTest, ParentPathKeepsTheRoot) {
  const struct {
    std::wstring path, parent;
  } cases[] = {
      {L"C:\\Apps\\Client\\client.exe", L"C:\\Apps\\Client"},
      {L"C:\\client.exe", L"C:\\"},
      {L"C:/Apps\\\\client.exe", L"C:/Apps"},
      {L"\\\\server\\share\\client.exe", L"\\\\server\\share"},
      {L"client.exe", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ParentPath(c.path), c.parent);
}

TEST(CoreLayoutTest, ModuleNameBufferDoublesWhileTheNameFillsIt) {
  const struct {
    size_t length;
    std::vector<uint32_t> buffers;
  } cases[] = {{259, {260}}, {260, {260, 520}}, {1000, {260, 520, 1040}}};
  for (const auto& c : cases) {
    FakePlatform platform;
    const std::wstring folder = L"C:\\" + std::wstring(c.length - 14, L'd');
    platform.moduleFileName = folder + L"\\client.exe";
    EXPECT_EQ(CoreLayout(platform).ExecutableDirectory(), folder);
    EXPECT_THAT(platform.nameBufferSizes, ElementsAreArray(c.buffers));
  }
}

TEST_F(ScratchExecutableTest, CoreFilesAreInACoreFolderMadeOnDemand) {
  EXPECT_EQ(layout_.ShippedXrayPath(), shipped_);
  EXPECT_FALSE(fs::exists(core_));  // Only the core folder is ever made.
  EXPECT_EQ(layout_.XrayExePath(), core_ / "xray.exe");
  EXPECT_TRUE(fs::is_empty(core_));
  fs::remove(core_);  // The other files' names are the manager tests'.
  EXPECT_EQ(layout_.ConfigFilePath(), core_ / "config.json");
  EXPECT_TRUE(PathExists(core_));  // A folder counts.
  EXPECT_FALSE(PathExists(folder_ / "missing" / "xray.exe"));

  fs::remove(core_);  // A file in the folder's place cannot be replaced.
  std::ofstream(core_) << "not a folder";
  EXPECT_THAT([&] { layout_.CoreDirectory(); },
              FileSystemError("create_directories", core_));
  platform_.moduleFileName = L"";  // No name: paths become relative.
  EXPECT_EQ(layout_.ShippedXrayPath(),
            fs::path("data/flutter_assets/assets/xray/windows/xray.exe"));
#ifndef _WIN32  // The Windows runtime reports overlong names as absent.
  const fs::path unprobeable = folder_ / std::string(300, 'n');
  EXPECT_THAT([&] { PathExists(unprobeable); },
              FileSystemError("exists", unprobeable));
#endif
}

TEST_F(ScratchExecutableTest, VersionIsTheFirstLineWithoutTheCrOfCrLf) {
  // "نامشخص" byte for byte, whatever an editor may have done to the source.
  const std::string unknown =
      "\xd9\x86\xd8\xa7\xd9\x85\xd8\xb4\xd8\xae\xd8\xb5";
  EXPECT_EQ(ReadXrayVersion(layout_), unknown);  // None yet.
  const struct {
    std::string bytes, version;
  } cases[] = {
      {"1.8.4\r\nmore\r\n", "1.8.4"},
      {"  v1 \t\nx", "  v1 \t"},
      {"1.8.4\r", "1.8.4\r"},  // Text mode keeps a CR that ends the file.
      {"", unknown},
      {"\nlatest", unknown},
      {"\r\nlatest", unknown},
  };
  for (const auto& c : cases) {
    std::ofstream(core_ / "version.txt", std::ios::binary) << c.bytes;
    EXPECT_EQ(ReadXrayVersion(layout_), c.version) << c.bytes;
  }
  std::ofstream(core_ / "version.txt") << "a much longer earlier content";
  WriteXrayVersion(layout_, "latest");
  EXPECT_EQ(FileText(core_ / "version.txt"), "latest");
  fs::remove(core_ / "version.txt");  // A folder in the file's place.
  fs::create_directories(core_ / "version.txt");
  EXPECT_NO_THROW(WriteXrayVersion(layout_, "latest"));
  EXPECT_EQ(ReadXrayVersion(layout_), unknown);
}

}  // namespace
}  // namespace core
