// Runs a fuzz target's entry point once over each input named on the command
// line, files or folders of files, as libFuzzer does with a corpus it is only
// asked to run. Built with compilers that have no libFuzzer (MinGW), so that
// the seeds also run on the product's compiler and runtime.
//
//   replay INPUT...
//
// A failing check aborts the program. Otherwise the exit code is 0 when every
// input ran and 1 when none was found or one could not be read.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
#ifdef ZV_FUZZER_HAS_INITIALIZE
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
#endif

namespace {

namespace fs = std::filesystem;

// In name order, so that a failure is found again at the same place.
std::vector<fs::path> InputFiles(const std::vector<fs::path>& arguments) {
  std::vector<fs::path> files;
  for (const fs::path& argument : arguments) {
    if (!fs::is_directory(argument)) {
      files.push_back(argument);
      continue;
    }
    std::vector<fs::path> inFolder;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument)) {
      if (entry.is_regular_file()) inFolder.push_back(entry.path());
    }
    std::sort(inFolder.begin(), inFolder.end());
    files.insert(files.end(), inFolder.begin(), inFolder.end());
  }
  return files;
}

bool ReadFile(const fs::path& file, std::vector<uint8_t>* bytes) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) return false;
  bytes->assign(std::istreambuf_iterator<char>(stream),
                std::istreambuf_iterator<char>());
  return !stream.bad();
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<fs::path> arguments(argv + 1, argv + argc);
#ifdef ZV_FUZZER_HAS_INITIALIZE
  LLVMFuzzerInitialize(&argc, &argv);
#endif
  const std::vector<fs::path> files = InputFiles(arguments);
  if (files.empty()) {
    std::fprintf(stderr, "replay: no inputs found\n");
    return 1;
  }
  for (const fs::path& file : files) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(file, &bytes)) {
      std::fprintf(stderr, "replay: cannot read %s\n", file.string().c_str());
      return 1;
    }
    // Named before it runs: an aborting check ends the program.
    std::printf("replay: %s, %zu bytes\n", file.string().c_str(), bytes.size());
    std::fflush(stdout);
    // Like libFuzzer, an empty input still comes with a valid pointer.
    static const uint8_t kNoBytes = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNoBytes : bytes.data(),
                           bytes.size());
  }
  std::printf("replay: %zu inputs ran\n", files.size());
  return 0;
}
