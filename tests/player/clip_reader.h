// Test clips made at build time (tests/player/clips.cmake): H.264 streams cut into access units
// with libavcodec's parser, and whole files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace player_test {

struct ClipFrame {
  std::vector<uint8_t> bytes;
  int32_t key = 0;
};

// <build>/clips/<name>.
std::string ClipPath(const std::string& name);
// The file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// The clip's access units with their key flags; empty when the clip is missing.
std::vector<ClipFrame> ReadH264Clip(const std::string& name);
// The same of an H.264 elementary stream at any path.
std::vector<ClipFrame> ReadH264File(const std::string& path);

}  // namespace player_test

// Skips the current test when a clip could not be made (no ffmpeg tool at build time).
#define SKIP_WITHOUT(frames, name)                                                      \
  if ((frames).empty()) {                                                               \
    GTEST_SKIP() << "test clip " << (name) << " missing: the ffmpeg tool was not found " \
                 << "when the suite was built";                                         \
  }
