#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "platform/run_dir.h"

namespace rovik::platform {
namespace {

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// The block's file must be a regular file of this user, closed to others, of exactly `size`.
bool checkFile(int fd, const std::string& path, std::size_t size, std::string* error) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(error, path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail(error, path + ": not a regular file");
  if (st.st_uid != ::geteuid()) return fail(error, path + ": owned by another user");
  if ((st.st_mode & 077) != 0) return fail(error, path + ": open to group or other");
  if (static_cast<std::size_t>(st.st_size) != size) {
    return fail(error, path + ": size " + std::to_string(st.st_size) + ", expected " +
                           std::to_string(size));
  }
  return true;
}

std::optional<std::string> blockPath(const std::string& name, std::string* error) {
  if (!IsValidObjectName(name)) {
    fail(error, "bad shared memory name");
    return std::nullopt;
  }
  auto dir = RunSubdir("shm", error);
  if (!dir) return std::nullopt;
  return *dir + "/" + name;
}

}  // namespace

SharedMemory::~SharedMemory() { Close(); }

SharedMemory::SharedMemory(SharedMemory&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

SharedMemory::Result SharedMemory::Create(const std::string& name, std::size_t size,
                                          std::string* error) {
  Close();
  if (size == 0) {
    fail(error, "zero-sized block");
    return Result::Error;
  }
  auto path = blockPath(name, error);
  if (!path) return Result::Error;

  bool created = true;
  int fd = ::open(path->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      fail(error, *path + ": " + std::strerror(errno));
      ::close(fd);
      ::unlink(path->c_str());
      return Result::Error;
    }
  } else if (errno == EEXIST) {
    created = false;
    fd = ::open(path->c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
      fail(error, *path + ": " + std::strerror(errno));
      return Result::Error;
    }
  } else {
    fail(error, *path + ": " + std::strerror(errno));
    return Result::Error;
  }
  if (!checkFile(fd, *path, size, error)) {
    ::close(fd);
    return Result::Error;
  }
  void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (view == MAP_FAILED) {
    fail(error, *path + ": " + std::strerror(errno));
    return Result::Error;
  }
  data_ = view;
  size_ = size;
  return created ? Result::Created : Result::Opened;
}

bool SharedMemory::Open(const std::string& name, std::size_t size, bool writable,
                        std::string* error) {
  Close();
  if (size == 0) return fail(error, "zero-sized block");
  auto path = blockPath(name, error);
  if (!path) return false;
  int fd = ::open(path->c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return fail(error, *path + ": " + std::strerror(errno));
  if (!checkFile(fd, *path, size, error)) {
    ::close(fd);
    return false;
  }
  void* view =
      ::mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (view == MAP_FAILED) return fail(error, *path + ": " + std::strerror(errno));
  data_ = view;
  size_ = size;
  return true;
}

void SharedMemory::Close() {
  if (data_ != nullptr) {
    ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }
}

}  // namespace rovik::platform
