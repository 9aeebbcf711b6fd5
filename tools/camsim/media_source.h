// What the simulated camera streams: H.264 access units from a file, JPEG pictures, and a tone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MediaFrame {
  std::vector<uint8_t> bytes;
  uint8_t frameType = 0;  // 0 H.264 key, 1 H.264 non-key, 2 JPEG
};

// The frames of a clip, loaded once and played in a loop.
class VideoSource {
 public:
  // An H.264 elementary stream (Annex B), split into access units by libavformat.
  bool LoadH264(const std::string& path, std::string* error);
  // One JPEG file, or every *.jpg in a folder in name order.
  bool LoadJpeg(const std::string& path, std::string* error);

  bool empty() const { return frames_.empty(); }
  size_t size() const { return frames_.size(); }
  const MediaFrame& at(size_t i) const { return frames_[i % frames_.size()]; }

 private:
  std::vector<MediaFrame> frames_;
};

// A 440 Hz tone in 640-byte blocks of 8 kHz 16-bit mono PCM.
class ToneSource {
 public:
  void Next(uint8_t* out640);

 private:
  uint64_t sample_ = 0;
};
