#include "tools/rovikclient/client_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace rovikclient {
namespace {

// Opened on first use; -1 when the variable is unset or the file cannot be opened.
int LogFile() {
  static const int fd = [] {
    const char* path = std::getenv("ROVIK_CLIENT_LOG");
    if (path == nullptr || *path == '\0') return -1;
    const int opened = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (opened < 0) std::fprintf(stderr, "RovikClient: cannot open the log %s\n", path);
    return opened;
  }();
  return fd;
}

}  // namespace

void ClientLog(const QString& line) {
  const std::string text = line.toStdString() + '\n';
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  if (const int fd = LogFile(); fd >= 0) {
    // One write per line: O_APPEND keeps lines whole for a reader following the file.
    (void)!::write(fd, text.data(), text.size());
  }
}

}  // namespace rovikclient
