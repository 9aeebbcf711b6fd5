#include "alarm/store/private_file/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/debug_log.h"

namespace rovik::alarm {

namespace {

constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

PrivateFileResult Fail(std::string_view library, const std::string& path, const std::string& what,
                       int error) {
  platform::DebugLog(library, path + ": " + what + ": " + std::strerror(error));
  return PrivateFileResult::Failed;
}

}  // namespace

PrivateFileResult MakeFilePrivate(const std::string& path, bool create, std::string_view library) {
  if (create) {
    // O_EXCL: a file that appears meanwhile is treated as an existing one below.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) {
      ::close(fd);
      return PrivateFileResult::Created;
    }
    if (errno != EEXIST) {
      return Fail(library, path, "cannot create", errno);
    }
  }
  // O_NONBLOCK: a FIFO put in the file's place must not stall the caller.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT && !create) {
      return PrivateFileResult::Missing;
    }
    return Fail(library, path, "cannot open", errno);
  }
  struct stat st {};
  PrivateFileResult result = PrivateFileResult::Private;
  if (::fstat(fd, &st) != 0) {
    result = Fail(library, path, "cannot inspect", errno);
  } else if (!S_ISREG(st.st_mode)) {
    platform::DebugLog(library, path + ": not a regular file; left as it is");
    result = PrivateFileResult::Failed;
  } else if ((st.st_mode & kOthersBits) != 0) {
    const mode_t tightened = st.st_mode & 07700 & ~static_cast<mode_t>(S_ISUID | S_ISGID);
    if (::fchmod(fd, tightened) != 0) {
      result =
          Fail(library, path,
               "open to others (mode " + Octal(st.st_mode) + ") and cannot be tightened", errno);
    } else {
      platform::DebugLog(library, path + ": was open to others (mode " + Octal(st.st_mode) +
                                      "); tightened to " + Octal(tightened));
      result = PrivateFileResult::Tightened;
    }
  }
  ::close(fd);
  return result;
}

}  // namespace rovik::alarm
