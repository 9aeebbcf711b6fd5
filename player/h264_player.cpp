#include <cstring>
#include <new>

#include "player/h264_decoder.h"
#include "player/video_player.h"

namespace qxplay {
namespace {

// How long the player waits for a frame, and rests after a unit that gave no picture.
constexpr int kIdleMillis = 100;

// Copies a decoded picture into the tightly packed I420 layout: width x height luma, then
// (width / 2) x (height / 2) of each chroma plane.
void PackPicture(const I420View& picture, std::vector<uint8_t>& out) {
  const int32_t w = picture.width;
  const int32_t h = picture.height;
  out.resize(PackedI420Size(w, h));
  uint8_t* d = out.data();
  for (int32_t row = 0; row < h; ++row, d += w) {
    std::memcpy(d, picture.y + static_cast<size_t>(row) * picture.yStride, w);
  }
  const int32_t cw = w / 2;
  const int32_t ch = h / 2;
  for (const auto& [plane, stride] : {std::pair{picture.u, picture.uStride},
                                      std::pair{picture.v, picture.vStride}}) {
    for (int32_t row = 0; row < ch; ++row, d += cw) {
      std::memcpy(d, plane + static_cast<size_t>(row) * stride, cw);
    }
  }
}

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
  stored_.clear();
}

bool CH264Player::DecoderReady() const { return decoder_ != nullptr && decoder_->Ready(); }

void CH264Player::StoredSize(int32_t* width, int32_t* height) const {
  std::lock_guard<std::mutex> hold(pictureLock_);
  *width = storedWidth_;
  *height = storedHeight_;
}

// The player thread decodes; a presenting thread of its own converts and shows, so that on a
// machine with more than one core the next picture is decoded while the last one is drawn.
// One picture at a time is handed over: the decoder waits while the presenter is still busy
// with the previous one, so no picture is skipped and no queue builds up between them.
void CH264Player::Run() {
  {
    std::lock_guard<std::mutex> hold(handoverLock_);
    presenterStop_ = false;
  }
  std::thread presenter([this] { Present(); });
  std::vector<uint8_t> fresh;
  while (Running()) {
    QueuedFrame frame;
    if (!input_.PopWait(frame, std::chrono::milliseconds(kIdleMillis))) {
      continue;
    }
    I420View decoded;
    if (!DecoderReady() || !decoder_->Decode(frame.data(), frame.bytes.size(), decoded)) {
      // No decoder, a damaged unit, or one that carries no picture (parameter sets).
      if (DecoderReady()) {
        Pause(kIdleMillis);
      }
      continue;
    }
    {
      // Reuse a buffer the presenter has finished with.
      std::lock_guard<std::mutex> hold(handoverLock_);
      if (!spare_.empty()) {
        fresh.swap(spare_);
      }
    }
    try {
      PackPicture(decoded, fresh);
    } catch (const std::bad_alloc&) {
      continue;
    }
    OfferToRecorder(frame.data(), frame.length(), frame.keyFlag, decoded.width, decoded.height);
    std::unique_lock<std::mutex> hold(handoverLock_);
    // The presenter always takes the picture in the end: one draw at most.
    handoverFree_.wait(hold, [this] { return !handoverFull_; });
    handover_.swap(fresh);
    handoverWidth_ = decoded.width;
    handoverHeight_ = decoded.height;
    handoverFull_ = true;
    handoverReady_.notify_one();
  }
  {
    std::lock_guard<std::mutex> hold(handoverLock_);
    presenterStop_ = true;
  }
  handoverReady_.notify_one();
  presenter.join();
}

void CH264Player::Present() {
  std::vector<uint8_t> picture;
  for (;;) {
    int32_t w = 0;
    int32_t h = 0;
    {
      std::unique_lock<std::mutex> hold(handoverLock_);
      handoverReady_.wait(hold, [this] { return handoverFull_ || presenterStop_; });
      if (presenterStop_) {
        return;
      }
      picture.swap(handover_);
      w = handoverWidth_;
      h = handoverHeight_;
      handoverFull_ = false;
    }
    handoverFree_.notify_one();
    const I420View packed = PackedI420(picture.data(), w, h);
    display_->Draw(packed.y, packed.u, packed.v, w, h);
    {
      // The drawn buffer becomes the stored picture; the old one goes back to the decoder.
      std::lock_guard<std::mutex> hold(pictureLock_);
      stored_.swap(picture);
      storedWidth_ = w;
      storedHeight_ = h;
    }
    CountShown();
    std::lock_guard<std::mutex> hold(handoverLock_);
    if (spare_.empty()) {
      spare_.swap(picture);
    }
  }
}

void CH264Player::Refresh() {
  std::lock_guard<std::mutex> hold(pictureLock_);
  if (stored_.empty() || display_ == nullptr) {
    return;
  }
  const I420View packed = PackedI420(stored_.data(), storedWidth_, storedHeight_);
  display_->Draw(packed.y, packed.u, packed.v, storedWidth_, storedHeight_);
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
