#include "launcher/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace rovik::launcher {
namespace fs = std::filesystem;

namespace {

// Closes a descriptor at the end of a scope.
class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool CopyContent(int from, int to) {
  std::vector<char> block(1 << 16);
  for (;;) {
    const ssize_t got = ::read(from, block.data(), block.size());
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (got == 0) {
      return true;
    }
    if (!WriteAll(to, block.data(), static_cast<size_t>(got))) {
      return false;
    }
  }
}

}  // namespace

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool CopyFileReplacing(const fs::path& source, const fs::path& target) {
  if (target.filename().empty()) {
    return false;
  }
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) {
    return false;
  }
  FdCloser inCloser(in);
  struct stat from {};
  if (::fstat(in, &from) != 0 || !S_ISREG(from.st_mode)) {
    return false;
  }
  mode_t mode = from.st_mode & 0777;
  struct stat existing {};
  if (::lstat(target.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      return false;
    }
    if (S_ISREG(existing.st_mode)) {
      if ((existing.st_mode & S_IWUSR) == 0) {
        return false;  // a read-only file is not replaced
      }
      // A program keeps being runnable when the new copy comes without execute bits.
      mode |= existing.st_mode & 0111;
    }
  } else if (errno != ENOENT) {
    return false;
  }

  // The new content is written beside the target, under a hidden name.
  std::string temp = target.parent_path().string();
  if (!temp.empty()) {
    temp.push_back('/');
  }
  temp.push_back('.');
  temp.append(target.filename().string());
  temp.append(".XXXXXX");
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    return false;
  }
  FdCloser outCloser(out);
  const struct timespec times[2] = {from.st_atim, from.st_mtim};
  bool ok = CopyContent(in, out) && ::fchmod(out, mode) == 0 && ::futimens(out, times) == 0;
  ok = (::close(outCloser.Release()) == 0) && ok;
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) {
    return true;
  }
  ::unlink(temp.c_str());
  return false;
}

}  // namespace rovik::launcher
