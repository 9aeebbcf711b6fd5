#include <new>

#include "player/video/decode/jpeg_decoder.h"
#include "player/video/video_player.h"

namespace rovik::player {
namespace {
constexpr int kIdleMillis = 100;
}  // namespace

bool DrawJpegFrame(DisplaySurface& display, const uint8_t* bytes, size_t length,
                   const char* osdText, bool osdOn, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  // The player's thread and a caller's Refresh may draw at once: a decoder for each.
  thread_local JpegDecoder decoder;
  const bool sized = decoder.ReadSize(bytes, length, width, height);
  return display.DrawWritten(
      sized, *width, *height,
      [&](const SurfaceView& picture) { return decoder.Decode(bytes, length, picture); }, osdText,
      osdOn);
}

CJPEGPlayer::CJPEGPlayer(uintptr_t window, const PlayerHooks& hooks)
    : CVideoPlayer(window, hooks),
      display_(std::make_unique<DisplaySurface>(window, hooks.displayBackend)) {
  display_->SetUp();
}

CJPEGPlayer::~CJPEGPlayer() {
  Stop();
  {
    std::lock_guard<std::mutex> hold(pictureLock_);
    stored_.clear();
  }
  display_.reset();
}

void CJPEGPlayer::DrawFrame(const uint8_t* bytes, size_t length) {
  int32_t width = 0;
  int32_t height = 0;
  DrawJpegFrame(*display_, bytes, length, OSDText().c_str(), OSDEnabled(), &width, &height);
  // Every JPEG frame stands alone: the recorder may start with any of them.
  OfferToRecorder(bytes, static_cast<int32_t>(length), 1, width, height);
}

void CJPEGPlayer::Run() {
  QueuedFrame frame;  // kept across frames: its buffer goes back to the queue for the next copy
  while (Running()) {
    if (!input_.PopWait(frame, std::chrono::milliseconds(kIdleMillis))) {
      continue;
    }
    DrawFrame(frame.data(), frame.bytes.size());
    {
      std::lock_guard<std::mutex> hold(pictureLock_);
      stored_.swap(frame.bytes);
    }
    CountShown();
  }
}

void CJPEGPlayer::Refresh() {
  std::lock_guard<std::mutex> hold(pictureLock_);
  if (!stored_.empty()) {
    DrawFrame(stored_.data(), stored_.size());
  }
}

int CJPEGPlayer::SnapShot(const char* path) {
  if (path == nullptr || hooks_.snapshots == nullptr) {
    return 0;
  }
  // The frame is written from a copy, so the writer never runs under the picture lock.
  std::vector<uint8_t> frame;
  {
    std::lock_guard<std::mutex> hold(pictureLock_);
    frame = stored_;
  }
  if (frame.empty()) {
    return 0;
  }
  return hooks_.snapshots->WriteJpeg(path, frame.data(), frame.size()) ? 1 : 0;
}

int CJPEGPlayer::StartRecord(const char* path) { return StartRecording(path, kRecordJpeg); }

std::vector<uint8_t> CJPEGPlayer::StoredJpeg() const {
  std::lock_guard<std::mutex> hold(pictureLock_);
  return stored_;
}

}  // namespace rovik::player
