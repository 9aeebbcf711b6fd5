// Test media for the recorder and player API suites: H.264 clips made with the ffmpeg tool and
// cut into access units, JPEG pictures, AVI files read back, ffprobe's view of a file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rovik_test {

struct Frame {
  std::vector<uint8_t> bytes;
  int key = 0;
};

// A temporary folder removed with everything in it at destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool HaveTool(const char* tool);

// Encodes `seconds` of ffmpeg's test picture at `fps` into H.264 (a key frame every `gop`
// frames, no B frames) and cuts it into access units. Empty when the ffmpeg tool is missing.
std::vector<Frame> MakeH264Clip(int width, int height, int fps, double seconds, int gop,
                                const std::string& colour = "");

// A JPEG of a solid colour, or of a simple pattern varying with `seed`.
std::vector<uint8_t> MakeJpeg(int width, int height, int seed);

// Runs a command and returns its standard output; *status gets the exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);

// ffprobe's stream entries of the first video stream as key=value pairs, plus "packets" (packet
// count), "first_flags" and "zero_size" (empty packets). Empty on failure.
std::map<std::string, std::string> ProbeVideo(const std::string& file);

std::vector<uint8_t> ReadFile(const std::string& file);
bool FileExists(const std::string& file);

uint32_t ReadLe32(const std::vector<uint8_t>& data, size_t offset);
uint16_t ReadLe16(const std::vector<uint8_t>& data, size_t offset);
// Offset of the first chunk with this fourcc (its fourcc position), or SIZE_MAX.
size_t FindChunk(const std::vector<uint8_t>& data, const char* fourcc);

}  // namespace rovik_test
