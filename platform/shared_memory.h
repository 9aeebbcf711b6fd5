// A named shared memory block of the user session (CreateFileMapping on the paging file).
// Realised as the file RUN/shm/<name>, mode 0600, mapped with mmap(MAP_SHARED). The file
// is opened with O_NOFOLLOW; one owned by another user, open to group/other, or of a size
// other than the one asked for is refused.
#pragma once

#include <cstddef>
#include <string>

namespace rovik::platform {

class SharedMemory {
 public:
  enum class Result {
    Created,  // a new zero-filled block
    Opened,   // the block existed already (ERROR_ALREADY_EXISTS); it is mapped all the same
    Error,
  };

  SharedMemory() = default;
  ~SharedMemory();  // unmaps; the file stays, as other processes may still read it
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;

  // Creates the block `name` of exactly `size` bytes, or opens it when it exists with that
  // size, and maps it read-write.
  Result Create(const std::string& name, std::size_t size, std::string* error = nullptr);

  // Opens an existing block of exactly `size` bytes (OpenFileMapping + MapViewOfFile).
  bool Open(const std::string& name, std::size_t size, bool writable, std::string* error = nullptr);

  // Unmaps the view and closes the block.
  void Close();

  void* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool IsMapped() const { return data_ != nullptr; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace rovik::platform
