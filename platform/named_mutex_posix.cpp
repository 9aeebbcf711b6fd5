#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "platform/run_dir.h"

namespace rovik::platform {

NamedMutex::~NamedMutex() { Release(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

NamedMutex::Result NamedMutex::Create(const std::string& name, std::string* error) {
  Release();
  if (!IsValidObjectName(name)) {
    if (error) *error = "bad mutex name";
    return Result::Error;
  }
  auto dir = RunSubdir("mutex", error);
  if (!dir) return Result::Error;
  std::string path = *dir + "/" + name;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return Result::Error;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    if (error) *error = path + ": not a lock file of this user";
    return Result::Error;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return Result::AlreadyExists;
    if (error) *error = path + ": " + std::strerror(err);
    return Result::Error;
  }
  fd_ = fd;
  return Result::Acquired;
}

void NamedMutex::Release() {
  if (fd_ >= 0) {
    // The file stays: removing it would let a later locker and a process still holding the
    // old, unlinked file both believe they own the name.
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace rovik::platform
