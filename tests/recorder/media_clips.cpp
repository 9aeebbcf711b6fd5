#include "tests/recorder/media_clips.h"

#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace rovik_test {

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "rovik-rec-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

bool HaveTool(const char* tool) {
  int status = 0;
  RunCommand(std::string("command -v ") + tool + " >/dev/null 2>&1", &status);
  return status == 0;
}

std::vector<uint8_t> ReadFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& file) { return std::filesystem::exists(file); }

std::vector<Frame> MakeH264Clip(int width, int height, int fps, double seconds, int gop,
                                const std::string& colour) {
  std::vector<Frame> frames;
  if (!HaveTool("ffmpeg")) return frames;
  ScratchDir dir;
  const std::string out = dir / "clip.h264";
  std::ostringstream cmd;
  const std::string source = colour.empty() ? "testsrc=size=" : "color=c=" + colour + ":size=";
  cmd << "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " << source << width
      << "x" << height << ":rate=" << fps << " -t " << seconds
      << " -c:v libx264 -preset ultrafast -tune zerolatency -x264-params keyint=" << gop
      << ":min-keyint=" << gop << ":scenecut=0:bframes=0:sliced-threads=0 -pix_fmt yuv420p"
      << " -f h264 " << out << " 2>&1";
  int status = 0;
  RunCommand(cmd.str(), &status);
  if (status != 0) return frames;
  const std::vector<uint8_t> data = ReadFile(out);

  // Cut at start codes; an access unit ends with its (single) slice.
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 < data.size(); ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      starts.push_back(i > 0 && data[i - 1] == 0 ? i - 1 : i);
      i += 2;
    }
  }
  Frame current;
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t begin = starts[k];
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : data.size();
    size_t header = begin;
    while (data[header] == 0) ++header;
    const int type = data[header + 1] & 0x1F;
    current.bytes.insert(current.bytes.end(), data.begin() + static_cast<long>(begin),
                         data.begin() + static_cast<long>(end));
    if (type == 5) current.key = 1;
    if (type == 1 || type == 5) {
      frames.push_back(std::move(current));
      current = Frame();
    }
  }
  return frames;
}

std::vector<uint8_t> MakeJpeg(int width, int height, int seed) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(x + seed * 7);
      p[1] = static_cast<uint8_t>(y + seed * 13);
      p[2] = static_cast<uint8_t>(seed * 31);
    }
  }
  tjhandle h = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 85, 0);
  std::vector<uint8_t> out(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(h);
  return out;
}

std::map<std::string, std::string> ProbeVideo(const std::string& file) {
  std::map<std::string, std::string> result;
  if (!HaveTool("ffprobe")) return result;
  int status = 0;
  const std::string streams = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_streams -of default=noprint_wrappers=1 '" +
          file + "' 2>/dev/null",
      &status);
  if (status != 0) return result;
  std::istringstream in(streams);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) result[line.substr(0, eq)] = line.substr(eq + 1);
  }
  const std::string packets = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries packet=size,flags -of csv=p=0 '" + file +
          "' 2>/dev/null",
      &status);
  if (status != 0) return {};
  std::istringstream pin(packets);
  int count = 0;
  int zero = 0;
  while (std::getline(pin, line)) {
    if (line.empty()) continue;
    const size_t comma = line.find(',');
    const std::string size = line.substr(0, comma);
    const std::string flags = comma == std::string::npos ? "" : line.substr(comma + 1);
    if (count == 0) result["first_flags"] = flags;
    if (size == "0") ++zero;
    ++count;
  }
  result["packets"] = std::to_string(count);
  result["zero_size"] = std::to_string(zero);
  return result;
}

uint32_t ReadLe32(const std::vector<uint8_t>& data, size_t offset) {
  return static_cast<uint32_t>(data[offset]) | static_cast<uint32_t>(data[offset + 1]) << 8 |
         static_cast<uint32_t>(data[offset + 2]) << 16 |
         static_cast<uint32_t>(data[offset + 3]) << 24;
}

uint16_t ReadLe16(const std::vector<uint8_t>& data, size_t offset) {
  return static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
}

size_t FindChunk(const std::vector<uint8_t>& data, const char* fourcc) {
  for (size_t i = 0; i + 4 <= data.size(); ++i) {
    if (std::memcmp(&data[i], fourcc, 4) == 0) return i;
  }
  return SIZE_MAX;
}

}  // namespace rovik_test
