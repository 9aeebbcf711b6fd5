// Replays seed inputs through a fuzz target when the program is built without libFuzzer:
// every file named on the command line, or every file inside a named folder, is fed once.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int replayFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

int main(int argc, char** argv) {
  int failures = 0;
  int inputs = 0;
  // The empty input always runs: it is the first case every parser must survive.
  LLVMFuzzerTestOneInput(nullptr, 0);
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, ec)) {
        if (entry.is_regular_file()) {
          failures += replayFile(entry.path());
          ++inputs;
        }
      }
    } else if (std::filesystem::exists(arg, ec)) {
      failures += replayFile(arg);
      ++inputs;
    }
  }
  std::printf("replayed %d inputs\n", inputs + 1);
  return failures == 0 ? 0 : 1;
}
