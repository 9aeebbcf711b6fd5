#include "tests/player/clip_reader.h"

#include <fstream>
#include <iterator>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace player_test {

std::string ClipPath(const std::string& name) { return std::string(ROVIK_CLIP_DIR) + "/" + name; }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return {};
  }
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<ClipFrame> ReadH264Clip(const std::string& name) {
  return ReadH264File(ClipPath(name));
}

std::vector<ClipFrame> ReadH264File(const std::string& path) {
  std::vector<ClipFrame> frames;
  std::vector<uint8_t> data = ReadFileBytes(path);
  if (data.empty()) {
    return frames;
  }
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  const size_t size = data.size();
  data.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  const uint8_t* p = data.data();
  size_t left = size;
  // One pass over the data, then one with no data to flush the last unit.
  for (bool flushing = false;;) {
    uint8_t* out = nullptr;
    int outSize = 0;
    const int used = av_parser_parse2(parser, context, &out, &outSize, flushing ? nullptr : p,
                                      flushing ? 0 : static_cast<int>(left), AV_NOPTS_VALUE,
                                      AV_NOPTS_VALUE, 0);
    if (outSize > 0) {
      frames.push_back({std::vector<uint8_t>(out, out + outSize), parser->key_frame == 1 ? 1 : 0});
    }
    if (flushing) {
      if (outSize == 0) {
        break;
      }
      continue;
    }
    p += used;
    left -= used;
    if (left == 0) {
      flushing = true;
    }
  }
  av_parser_close(parser);
  avcodec_free_context(&context);
  return frames;
}

}  // namespace player_test
