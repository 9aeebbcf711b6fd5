#include "player/video/decode/h264_decoder.h"
#include "player/video/video_player.h"

namespace rovik::player {
namespace {

// How long the player waits for a frame, and rests after a unit that gave no picture.
constexpr int kIdleMillis = 100;

}  // namespace

CH264Player::CH264Player(uintptr_t window, const PlayerHooks& hooks)
    : CVideoPlayer(window, hooks),
      decoder_(std::make_unique<H264Decoder>()),
      display_(std::make_unique<DisplaySurface>(window, hooks.displayBackend)) {
  display_->SetUp();
}

CH264Player::~CH264Player() {
  Stop();
  display_.reset();
  decoder_.reset();
  std::lock_guard<std::mutex> hold(pictureLock_);
  stored_.Release();
}

bool CH264Player::DecoderReady() const { return decoder_ != nullptr && decoder_->Ready(); }

void CH264Player::StoredSize(int32_t* width, int32_t* height) const {
  std::lock_guard<std::mutex> hold(pictureLock_);
  *width = stored_.View().width;
  *height = stored_.View().height;
}

// The player thread decodes each picture and draws it at once, while the picture is still in
// this core's caches. (A presenting thread of its own, drawing while the next one is decoded,
// measured dearer in processor time: the other core reads every picture back from memory, and
// a live camera's 25 pictures a second leave the thread idle most of the time anyway.) The
// drawn picture is kept for Refresh and snapshots as a reference to the decoder's buffer, which
// libavcodec leaves unchanged while it is held (see DecodedPicture).
void CH264Player::Run() {
  DecodedPicture fresh;
  QueuedFrame frame;  // kept across frames: its buffer goes back to the queue for the next copy
  while (Running()) {
    if (!input_.PopWait(frame, std::chrono::milliseconds(kIdleMillis))) {
      continue;
    }
    if (!DecoderReady() || !decoder_->Decode(frame.data(), frame.bytes.size(), fresh)) {
      // No decoder, a damaged unit, or one that carries no picture (parameter sets).
      if (DecoderReady()) {
        Pause(kIdleMillis);
      }
      continue;
    }
    OfferToRecorder(frame.data(), frame.length(), frame.keyFlag, fresh.View().width,
                    fresh.View().height);
    display_->Draw(fresh.View());
    {
      // The drawn picture becomes the stored one; the one it replaces goes back to the decoder.
      std::lock_guard<std::mutex> hold(pictureLock_);
      stored_.Swap(fresh);
    }
    fresh.Release();
    CountShown();
  }
}

void CH264Player::Refresh() {
  std::lock_guard<std::mutex> hold(pictureLock_);
  if (stored_.Empty() || display_ == nullptr) {
    return;
  }
  display_->Draw(stored_.View());
}

int CH264Player::SnapShot(const char* path) {
  if (display_ != nullptr && path != nullptr) {
    display_->RequestSnapshot(path, hooks_.snapshots);
    Refresh();
  }
  return 1;
}

void CH264Player::SetOSDText(const char* text) {
  if (display_ != nullptr) {
    display_->SetOSDText(text);
  }
}

void CH264Player::EnableOSD(int value) {
  if (display_ != nullptr) {
    display_->EnableOSD(value > 0);
  }
}

int CH264Player::StartRecord(const char* path) { return StartRecording(path, kRecordH264); }

}  // namespace rovik::player
