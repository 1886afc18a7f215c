// A fresh folder under the temporary directory, removed with its contents
// when the test ends, with a fake executable name inside it.

#ifndef CORE_TESTS_SCRATCH_FOLDER_H_
#define CORE_TESTS_SCRATCH_FOLDER_H_

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace core {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("zv-core-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::wstring ExecutableName() const {
    return (path_ / "client.exe").wstring();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace core

#endif  // CORE_TESTS_SCRATCH_FOLDER_H_
