#include <pthread.h>

#include "player/h264_decoder.h"
#include "player/video_player.h"

namespace qxplay {
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

// The player thread decodes; a presenting thread of its own converts and shows, so that on a
// machine with more than one core the next picture is decoded while the last one is drawn.
// Each picture passes to the presenter as a reference to the decoder's buffer, which libavcodec
// leaves unchanged while it is held (see DecodedPicture): no pixel is copied between the two. One
// picture at a time is handed over: the decoder waits while the presenter is still busy with
// the previous one, so no picture is skipped and no queue builds up between them.
void CH264Player::Run() {
  {
    std::lock_guard<std::mutex> hold(handoverLock_);
    presenterStop_ = false;
  }
  std::thread presenter([this] {
    pthread_setname_np(pthread_self(), "video-present");
    Present();
  });
  DecodedPicture fresh;
  while (Running()) {
    QueuedFrame frame;
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
    std::unique_lock<std::mutex> hold(handoverLock_);
    // The presenter always takes the picture in the end: one draw at most.
    handoverFree_.wait(hold, [this] { return !handoverFull_; });
    handover_.Swap(fresh);
    handoverFull_ = true;
    handoverReady_.notify_one();
  }
  {
    std::lock_guard<std::mutex> hold(handoverLock_);
    presenterStop_ = true;
    handover_.Release();
    handoverFull_ = false;
  }
  handoverReady_.notify_one();
  presenter.join();
}

void CH264Player::Present() {
  DecodedPicture picture;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(handoverLock_);
      handoverReady_.wait(hold, [this] { return handoverFull_ || presenterStop_; });
      if (presenterStop_) {
        return;
      }
      picture.Swap(handover_);
      handoverFull_ = false;
    }
    handoverFree_.notify_one();
    display_->Draw(picture.View());
    {
      // The drawn picture becomes the stored one; the one it replaces goes back to the decoder.
      std::lock_guard<std::mutex> hold(pictureLock_);
      stored_.Swap(picture);
    }
    picture.Release();
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

}  // namespace qxplay
