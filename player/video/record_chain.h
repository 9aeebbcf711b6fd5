// One recording as its caller asked for it, from StartRecord to StopRecord. It outlives the
// players and recorders that write it: when the video is restarted (a new player), the next
// recorder goes on in the next numbered file beside the first instead of replacing it, and a file
// that could not be written whole (a full disk) is remembered for StopRecord to report.
#pragma once

#include <atomic>
#include <string>

namespace rovik::player {

// Paths a caller may name for a snapshot or a recording are shorter than this.
inline constexpr size_t kMaxPathBytes = 260;

struct RecordChain {
  explicit RecordChain(std::string asked) : path(std::move(asked)) {}

  const std::string path;           // the first file; the others are its continuation names
  std::atomic<int> nextFile{0};     // 0: the path itself; n: ContinuationPath(path, n)
  std::atomic<bool> failed{false};  // a file of the recording could not be written whole
};

}  // namespace rovik::player
