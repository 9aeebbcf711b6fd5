#include "platform/process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace rovik::platform {
namespace {

// Reports from the two forked processes through one close-on-exec pipe. Each record is
// written in one call of fewer than PIPE_BUF bytes, so records never interleave.
struct Report {
  char kind;  // 'p' = pid of the program, 'e' = exec failed with `value` as errno
  int value;
};

[[noreturn]] void failChild(int reportFd) {
  Report r{'e', errno};
  (void)!::write(reportFd, &r, sizeof r);
  ::_exit(127);
}

// Only async-signal-safe calls between fork and exec: the caller may have other threads.
[[noreturn]] void runChild(const char* path, int reportFd) {
  pid_t pid = ::fork();
  if (pid < 0) failChild(reportFd);
  if (pid > 0) {
    // The middle process ends at once; the program becomes a child of init (or of the
    // nearest subreaper), which reaps it.
    Report r{'p', static_cast<int>(pid)};
    (void)!::write(reportFd, &r, sizeof r);
    ::_exit(0);
  }
  ::setsid();
  // Keep the report pipe (close-on-exec) and close everything else, then give the program
  // /dev/null as its standard input, output and error.
  if (reportFd < 3) ::_exit(127);
  ::syscall(SYS_close_range, 0u, static_cast<unsigned>(reportFd - 1), 0u);
  ::syscall(SYS_close_range, static_cast<unsigned>(reportFd + 1), ~0u, 0u);
  const int null = ::open("/dev/null", O_RDWR);  // the lowest free descriptor: 0
  if (null != 0 || ::dup2(null, 1) != 1 || ::dup2(null, 2) != 2) failChild(reportFd);
  // An ignored SIGPIPE and a blocked mask would carry over into the program.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  ::sigemptyset(&standard.sa_mask);
  ::sigaction(SIGPIPE, &standard, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  char* const argv[] = {const_cast<char*>(path), nullptr};
  ::execve(path, argv, environ);
  failChild(reportFd);
}

}  // namespace

bool StartProgram(const std::string& path, std::string* error, pid_t* pid) {
  auto fail = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  if (path.empty() || path.find('\0') != std::string::npos) return fail("bad path");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return fail(std::strerror(errno));
  // The child keeps the write end above the standard descriptors.
  if (fds[1] < 3) {
    int moved = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 3);
    ::close(fds[1]);
    if (moved < 0) {
      ::close(fds[0]);
      return fail(std::strerror(errno));
    }
    fds[1] = moved;
  }
  std::string file = path;  // no allocation after fork
  pid_t middle = ::fork();
  if (middle < 0) {
    int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    return fail(std::strerror(err));
  }
  if (middle == 0) {
    ::close(fds[0]);
    runChild(file.c_str(), fds[1]);
  }
  ::close(fds[1]);
  while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }

  // Read until both writers are gone: the pipe closes when the program has executed.
  pid_t program = -1;
  int execError = 0;
  Report r{};
  for (;;) {
    ssize_t n = ::read(fds[0], &r, sizeof r);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof r)) break;
    if (r.kind == 'p') program = r.value;
    if (r.kind == 'e') execError = r.value;
  }
  ::close(fds[0]);
  if (execError != 0) return fail(std::strerror(execError));
  if (program <= 0) return fail("could not start");
  if (pid) *pid = program;
  return true;
}

void IgnoreBrokenPipe() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace rovik::platform
