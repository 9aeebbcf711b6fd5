#include "launcher/upgrade/file_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// Reads until count bytes or the end of the file; false on an error.
bool ReadFull(int fd, char* data, size_t count, size_t& got) {
  got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd, data + got, count - got);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (n == 0) {
      break;
    }
    got += static_cast<size_t>(n);
  }
  return true;
}

// Makes a finished rename in folder survive a power loss.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

constexpr const char* kLeftoverSuffix = ".XXXXXX";
constexpr size_t kLeftoverUnique = 6;

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

bool SameContent(const fs::path& a, const fs::path& b) {
  const int first = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
  if (first < 0) {
    return false;
  }
  FdCloser firstCloser(first);
  const int second = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
  if (second < 0) {
    return false;
  }
  FdCloser secondCloser(second);
  struct stat one {};
  struct stat two {};
  if (::fstat(first, &one) != 0 || ::fstat(second, &two) != 0 || !S_ISREG(one.st_mode) ||
      !S_ISREG(two.st_mode) || one.st_size != two.st_size) {
    return false;
  }
  std::vector<char> left(1 << 16);
  std::vector<char> right(1 << 16);
  for (;;) {
    size_t gotLeft = 0;
    size_t gotRight = 0;
    if (!ReadFull(first, left.data(), left.size(), gotLeft) ||
        !ReadFull(second, right.data(), right.size(), gotRight) || gotLeft != gotRight ||
        std::memcmp(left.data(), right.data(), gotLeft) != 0) {
      return false;
    }
    if (gotLeft < left.size()) {
      return true;
    }
  }
}

bool IsCopyLeftover(const fs::path& target, const std::string& fileName) {
  const std::string name = target.filename().string();
  const size_t length = 1 + name.size() + 1 + kLeftoverUnique;
  if (name.empty() || fileName.size() != length || fileName[0] != '.' ||
      fileName.compare(1, name.size(), name) != 0 || fileName[1 + name.size()] != '.') {
    return false;
  }
  for (size_t i = length - kLeftoverUnique; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(fileName[i]);
    if (!std::isalnum(c)) {
      return false;
    }
  }
  return true;
}

int RemoveCopyLeftovers(const fs::path& target) {
  const std::string folder = target.parent_path().string();
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) {
    return 0;
  }
  int removed = 0;
  while (const dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (!IsCopyLeftover(target, name)) {
      continue;
    }
    struct stat info {};
    if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && ::unlinkat(::dirfd(dir), name.c_str(), 0) == 0) {
      ++removed;
    }
  }
  ::closedir(dir);
  return removed;
}

bool CopyFileReplacing(const fs::path& source, const fs::path& target,
                       std::optional<mode_t> newFileMode) {
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
  mode_t mode = newFileMode ? (*newFileMode & 0777) : (from.st_mode & 0777);
  struct stat existing {};
  if (::lstat(target.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      return false;
    }
    if (S_ISREG(existing.st_mode)) {
      if ((existing.st_mode & S_IWUSR) == 0) {
        return false;  // a read-only file is not replaced
      }
      if (newFileMode) {
        mode = existing.st_mode & 0777;
      }
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
  temp.append(kLeftoverSuffix);
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    return false;
  }
  FdCloser outCloser(out);
  const struct timespec times[2] = {from.st_atim, from.st_mtim};
  bool ok = CopyContent(in, out) && ::fchmod(out, mode) == 0 && ::futimens(out, times) == 0 &&
            ::fsync(out) == 0;
  ok = (::close(outCloser.Release()) == 0) && ok;
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) {
    SyncFolder(target.parent_path().string());
    return true;
  }
  ::unlink(temp.c_str());
  return false;
}

}  // namespace rovik::launcher
