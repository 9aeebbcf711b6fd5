#include "launcher/app/display_probe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cerrno>
#include <thread>

namespace rovik::launcher {

bool GuiPlatformAvailable(std::chrono::milliseconds bound) {
  const pid_t child = ::fork();
  if (child < 0) {
    return false;
  }
  if (child == 0) {
    // Qt's complaints and its abort belong to the probe only: no output, no core file.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
    }
    const struct rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    static char name[] = "Rovik";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    QGuiApplication probe(argc, argv);
    ::_exit(0);
  }
  const auto end = std::chrono::steady_clock::now() + bound;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) {
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (done < 0 && errno != EINTR) {
      return false;
    }
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(child, SIGKILL);
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace rovik::launcher
