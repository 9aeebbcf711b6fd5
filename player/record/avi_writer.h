// A one-stream AVI file of compressed video samples, 50 samples per second.
//
// The file carries the stream header "vids" with the handler "h264" or "mjpg", rate 50, scale 1,
// and a 40-byte BITMAPINFOHEADER of 24 bits with the handler as its compression. Every sample,
// empty ones included, is indexed as a key frame. The headers are brought up to date once per
// second of samples, so that a file whose writer never got to Close (the process was killed)
// still reads up to its last second.
//
// A full disk never damages the file: the file appears at its path only once its headers are
// written (an earlier file there stays whole until then), and when a write fails the file is cut
// back to its last whole sample with its sizes and counts rewritten; Close then writes the index
// if it fits, and otherwise clears the header's has-index flag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rovik::player {

class AviWriter {
 public:
  // Kinds of recording, numbered as the players number them.
  static constexpr int kJpeg = 0;  // "mjpg"
  static constexpr int kH264 = 1;  // "h264"

  // Samples between two in-place header updates (one second at 50 samples per second).
  static constexpr uint32_t kHeaderRefreshSamples = 50;
  // Largest sample accepted; a chunk size must fit the format's 32-bit fields comfortably.
  static constexpr uint32_t kMaxSampleBytes = 64u << 20;

  AviWriter(int kind, int width, int height);
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Creates the file beside its path, writes the headers, then renames it into place (replacing
  // what was there). False when the file cannot be made or the kind or size is not usable; an
  // earlier file at the path is then untouched.
  bool Open(const std::string& path);
  // Appends one sample flagged as a key frame; length 0 writes an empty sample. False when it
  // could not be written whole: the file is then cut back to the samples before it, and takes
  // no more.
  bool WriteSample(const uint8_t* data, uint32_t length);
  // Writes the index and the final sizes, and closes the file. False when any write of the file
  // failed (the file is still complete up to its last whole sample). Safe to call twice.
  bool Close();

  bool IsOpen() const { return fd_ >= 0; }
  uint32_t SampleCount() const { return static_cast<uint32_t>(index_.size()); }
  uint64_t FileBytes() const { return end_; }
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  struct IndexEntry {
    uint32_t offset;  // from the "movi" fourcc
    uint32_t size;
  };

  bool WriteAt(uint64_t offset, const void* data, size_t length);
  bool UpdateHeaders();
  // After a failed write: drops every byte past the last whole sample and rewrites the sizes.
  void CutBack();

  int kind_;
  int width_;
  int height_;
  int fd_ = -1;
  uint64_t end_ = 0;       // bytes in the file
  uint64_t movi_pos_ = 0;  // offset of the "movi" fourcc
  uint32_t max_sample_ = 0;
  bool failed_ = false;  // a write failed; the file ends at end_
  std::vector<IndexEntry> index_;
};

// The handler and compression code of a kind: "h264" or "mjpg" as a little-endian fourcc.
uint32_t RecordFourcc(int kind);

}  // namespace rovik::player
