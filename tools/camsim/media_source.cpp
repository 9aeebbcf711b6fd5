#include "tools/camsim/media_source.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

bool VideoSource::LoadH264(const std::string& path, std::string* error) {
  frames_.clear();
  AVFormatContext* ctx = nullptr;
  const AVInputFormat* raw = av_find_input_format("h264");
  if (avformat_open_input(&ctx, path.c_str(), raw, nullptr) != 0) {
    *error = "cannot open H.264 file " + path;
    return false;
  }
  AVPacket* packet = av_packet_alloc();
  while (packet != nullptr && av_read_frame(ctx, packet) == 0) {
    MediaFrame f;
    f.bytes.assign(packet->data, packet->data + packet->size);
    f.frameType = (packet->flags & AV_PKT_FLAG_KEY) ? 0 : 1;
    frames_.push_back(std::move(f));
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&ctx);
  if (frames_.empty()) {
    *error = "no H.264 access units in " + path;
    return false;
  }
  return true;
}

bool VideoSource::LoadJpeg(const std::string& path, std::string* error) {
  namespace fs = std::filesystem;
  frames_.clear();
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    for (const auto& e : fs::directory_iterator(path, ec)) {
      const auto ext = e.path().extension().string();
      if (ext == ".jpg" || ext == ".jpeg") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
  } else {
    files.emplace_back(path);
  }
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    MediaFrame f;
    f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    f.frameType = 2;
    if (!f.bytes.empty()) frames_.push_back(std::move(f));
  }
  if (frames_.empty()) {
    *error = "no JPEG pictures in " + path;
    return false;
  }
  return true;
}

void ToneSource::Next(uint8_t* out640) {
  for (int i = 0; i < 320; ++i, ++sample_) {
    const double t = static_cast<double>(sample_) / 8000.0;
    const auto v = static_cast<int16_t>(std::lround(8000.0 * std::sin(2.0 * M_PI * 440.0 * t)));
    out640[2 * i] = static_cast<uint8_t>(v & 0xff);
    out640[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xff);
  }
}
