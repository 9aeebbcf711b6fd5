// A second process for the platform tests:
//   platform_helper mutex NAME         hold the named mutex ("acquired") or report "exists"
//   platform_helper silent-window T    a window whose handler never answers
// Holders print their state line and then wait to be killed.
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/named_mutex.h"
#include "platform/window_link.h"

using namespace rovik::platform;

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  std::string mode = argv[1];
  if (mode == "mutex") {
    NamedMutex mutex;
    auto r = mutex.Create(argv[2]);
    if (r == NamedMutex::Result::AlreadyExists) {
      std::puts("exists");
      return 0;
    }
    if (r != NamedMutex::Result::Acquired) {
      std::puts("error");
      return 1;
    }
    std::puts("acquired");
    std::fflush(stdout);
    for (;;) pause();
  }
  if (mode == "silent-window") {
    WindowLink link;
    if (!link.Listen(argv[2], [](const CopyDataMessage&) -> int64_t {
          for (;;) pause();
        })) {
      return 1;
    }
    std::puts("listening");
    std::fflush(stdout);
    for (;;) pause();
  }
  return 1;
}
