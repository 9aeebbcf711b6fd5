// The first byte chooses how the block arrives (bit 0: video or audio; bit 1: re-arm the video
// start so the frame type picks the decoder again); the rest is the delivered block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "camsession/qx_api.h"
#include "tests/camsession/recording_libs.h"

namespace {

int32_t Prepare() {
  recording::Reset();
  QXAPI_Initial(0);
  int32_t index = -1;
  QXAPI_CreateInstance(&index);
  QXAPI_StartVideo(index, 0x200001, 0);
  QXAPI_StartAudio(index);
  return index;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int32_t index = Prepare();
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  if (mode & 2) QXAPI_StartVideo(index, 0x200001, 0);
  // A copy of exactly the delivered size, so any read past it is caught.
  std::vector<uint8_t> block(data + 1, data + size);
  const recording::Registered r = recording::RegisteredFor(100);
  if (r.av != nullptr) {
    r.av(100, (mode & 1) ? 1 : 0, block.empty() ? nullptr : block.data(),
         static_cast<int32_t>(block.size()), r.avUser);
  }
  recording::Take();
  return 0;
}
