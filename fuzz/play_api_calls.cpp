// The exports driven by arbitrary bytes: each step picks an export and takes its arguments
// (indexes, kinds, key flags, lengths, texts and paths) from the input. Whatever the order or
// the values, every call must return one of its codes without a crash, a leak or a hang.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "player/api/qx_play_api.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int32_t Int() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return static_cast<int32_t>(v);
  }
  // Mostly small indexes, sometimes anything.
  int Index() {
    const uint8_t b = Byte();
    return b < 200 ? b % 6 : Int();
  }
  std::vector<uint8_t> Bytes(size_t most) {
    const size_t n = std::min<size_t>(Byte() % (most + 1), size_ - std::min(pos_, size_));
    std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

void Receiver(const unsigned char*, uint32_t, uintptr_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool once = [] {
    setenv("ROVIK_AUDIO", "null", 1);  // no sound device is needed
    return true;
  }();
  (void)once;
  Input in(data, size);
  // Files go to a folder of this process only, whatever the paths say.
  const std::string root = "/tmp/rovik-fuzz-play-" + std::to_string(getpid()) + "/";
  int players = 0;
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    const int index = in.Index();
    switch (in.Byte() % 21) {
      case 0:
        QX_PLAY_API_Initial();
        break;
      case 1:
        QX_PLAY_API_DeInitial();
        break;
      case 2:
        QX_PLAY_API_GetAPIVersion();
        break;
      case 3: {
        int out = -1;
        QX_PLAY_API_CreateInstance(in.Byte() & 1 ? &out : nullptr);
        break;
      }
      case 4:
        QX_PLAY_API_DestroyInstance(index);
        break;
      case 5:
        QX_PLAY_API_DestroyAllInstance();
        break;
      case 6:
        // Players own threads and decoders: a few per input keep the runs quick.
        if (players++ < 4) QX_PLAY_API_StartPlay(index, in.Byte() % 4 - 1, 0);
        break;
      case 7:
        QX_PLAY_API_StopPlay(index);
        break;
      case 8:
        QX_PLAY_API_StopAll();
        break;
      case 9:
        QX_PLAY_API_PlayAudio(index);
        break;
      case 10:
        QX_PLAY_API_StopAudio(index);
        break;
      case 11:
        QX_PLAY_API_StartCapture();
        break;
      case 12:
        QX_PLAY_API_StopCapture();
        break;
      case 13:
        QX_PLAY_API_Refresh(index);
        break;
      case 14: {
        std::vector<uint8_t> text = in.Bytes(200);
        text.push_back(0);
        QX_PLAY_API_SetOSD(index,
                           in.Byte() & 1 ? reinterpret_cast<const char*>(text.data()) : nullptr);
        break;
      }
      case 15:
      case 16: {
        std::vector<uint8_t> name = in.Bytes(300);
        std::string path = root;
        for (uint8_t c : name) path.push_back(c == 0 || c == '.' ? '_' : static_cast<char>(c));
        if (in.Byte() & 1) {
          QX_PLAY_API_SnapShot(index, path.c_str());
        } else {
          QX_PLAY_API_StartRecord(index, path.c_str());
        }
        break;
      }
      case 17:
        QX_PLAY_API_StopRecord(index);
        break;
      case 18: {
        const int key = in.Byte() % 4 - 1;
        const std::vector<uint8_t> frame = in.Bytes(255);
        const uint8_t mode = in.Byte() % 4;
        // Mode 0 tries a length of any value; one the library would accept is kept true to the
        // buffer, since a caller that lies about a valid length cannot be caught.
        int length = mode == 0 ? in.Int() : static_cast<int>(frame.size());
        if (length >= 0 && length <= QX_PLAY_MAX_FRAME_BYTES)
          length = static_cast<int>(frame.size());
        QX_PLAY_API_InputVideoFrame(index, key, mode == 1 ? nullptr : frame.data(),
                                    frame.empty() && mode != 0 ? 0 : length,
                                    static_cast<uint32_t>(in.Int()));
        break;
      }
      case 19: {
        const std::vector<uint8_t> pcm = in.Bytes(255);
        const uint8_t mode = in.Byte() % 4;
        int length = mode == 0 ? in.Int() : static_cast<int>(pcm.size());
        if (length >= 0 && length <= QX_PLAY_MAX_PCM_BYTES) length = static_cast<int>(pcm.size());
        QX_PLAY_API_InputPCMData(index, mode == 1 ? nullptr : pcm.data(),
                                 pcm.empty() && mode != 0 ? 0 : length);
        break;
      }
      case 20:
        QX_PLAY_API_SetPCMDataCallBack(in.Byte() & 1 ? &Receiver : nullptr, in.Byte());
        break;
    }
  }
  QX_PLAY_API_StopCapture();
  QX_PLAY_API_DeInitial();
  std::string cleanup = "rm -rf '" + root + "'";
  if (std::system(cleanup.c_str()) != 0) return 0;
  return 0;
}
