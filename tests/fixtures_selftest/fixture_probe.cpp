// Helper child for the fixture self-test:
//   fixture_probe env NAME...    prints NAME=value (or NAME unset) per line
//   fixture_probe exit N         writes to stdout and stderr, exits with N
//   fixture_probe sleep MS       sleeps, then exits 0
//   fixture_probe cwd            prints the working folder
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  if (std::strcmp(argv[1], "env") == 0) {
    for (int i = 2; i < argc; ++i) {
      const char* v = std::getenv(argv[i]);
      if (v) {
        std::printf("%s=%s\n", argv[i], v);
      } else {
        std::printf("%s unset\n", argv[i]);
      }
    }
    return 0;
  }
  if (std::strcmp(argv[1], "exit") == 0 && argc > 2) {
    std::printf("out line\n");
    std::fprintf(stderr, "err line\n");
    return std::atoi(argv[2]);
  }
  if (std::strcmp(argv[1], "sleep") == 0 && argc > 2) {
    std::printf("sleeping\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
  }
  if (std::strcmp(argv[1], "cwd") == 0) {
    char buf[4096];
    if (!getcwd(buf, sizeof(buf))) return 1;
    std::printf("%s\n", buf);
    return 0;
  }
  return 64;
}
