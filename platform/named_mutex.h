// A named mutex of the user session (single-instance guard).
// Realised as the file RUN/mutex/<name> held with flock(LOCK_EX|LOCK_NB): the name is
// "already taken" while another process holds the lock, and the kernel frees it when the
// holder dies, however it dies.
#pragma once

#include <string>

namespace rovik::platform {

class NamedMutex {
 public:
  enum class Result {
    Acquired,       // this object now owns the mutex
    AlreadyExists,  // another holder owns it (ERROR_ALREADY_EXISTS)
    Error,          // RUN unusable, bad name, I/O error
  };

  NamedMutex() = default;
  ~NamedMutex();  // releases
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  NamedMutex(NamedMutex&& other) noexcept;
  NamedMutex& operator=(NamedMutex&& other) noexcept;

  // Creates the mutex `name`, initially owned. Releases whatever this object held before.
  Result Create(const std::string& name, std::string* error = nullptr);

  // Releases and closes the mutex (ReleaseMutex + CloseHandle); harmless when not held.
  void Release();

  bool IsHeld() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace rovik::platform
