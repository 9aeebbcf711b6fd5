#include "player/video/video_player.h"

#include <pthread.h>

#include <cstring>

namespace rovik::player {

CVideoPlayer::CVideoPlayer(uintptr_t window, const PlayerHooks& hooks)
    : window_(window), hooks_(hooks) {}

CVideoPlayer::~CVideoPlayer() {
  Stop();
  input_.Clear();
  std::lock_guard<std::mutex> hold(recorderLock_);
  recorder_.reset();
}

int CVideoPlayer::Start() {
  if (thread_.joinable()) {
    return 0;
  }
  running_.store(true);
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "video-player");
    Run();
  });
  return 1;
}

int CVideoPlayer::Stop() {
  {
    std::lock_guard<std::mutex> hold(pauseLock_);
    running_.store(false);
  }
  stopping_.notify_all();
  input_.Wake();
  if (thread_.joinable()) {
    thread_.join();
  }
  return 1;
}

void CVideoPlayer::Pause(int ms) {
  std::unique_lock<std::mutex> hold(pauseLock_);
  stopping_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return !running_.load(); });
}

void CVideoPlayer::InputFrame(const uint8_t* bytes, int32_t length, int32_t keyFlag,
                              uint32_t frameValue) {
  input_.Push(bytes, length, keyFlag, frameValue, 0, 0);
}

void CVideoPlayer::SetOSDText(const char* text) {
  std::lock_guard<std::mutex> hold(osdLock_);
  std::memset(osdText_, 0, sizeof osdText_);
  if (text != nullptr) {
    std::memcpy(osdText_, text, strnlen(text, sizeof osdText_ - 1));
  }
}

std::string CVideoPlayer::OSDText() const {
  std::lock_guard<std::mutex> hold(osdLock_);
  return std::string(osdText_, strnlen(osdText_, sizeof osdText_));
}

void CVideoPlayer::EnableOSD(int value) { osdOn_.store(value > 0); }

int CVideoPlayer::StartRecording(const char* path, int32_t kind) {
  if (path == nullptr) {
    std::lock_guard<std::mutex> hold(recorderLock_);
    recorder_.reset();
    return 0;
  }
  return StartRecording(std::make_shared<RecordChain>(path), kind);
}

int CVideoPlayer::StartRecording(std::shared_ptr<RecordChain> chain, int32_t kind) {
  std::lock_guard<std::mutex> hold(recorderLock_);
  recorder_.reset();
  if (hooks_.makeRecorder == nullptr || chain == nullptr) {
    return 0;
  }
  recorder_ = hooks_.makeRecorder();
  if (recorder_ == nullptr) {
    return 0;
  }
  recorder_->Continue(std::move(chain), kind);
  return 1;
}

int CVideoPlayer::ContinueRecord(std::shared_ptr<RecordChain> chain) {
  return StartRecording(std::move(chain), RecordKind());
}

int CVideoPlayer::StopRecord() {
  std::lock_guard<std::mutex> hold(recorderLock_);
  recorder_.reset();
  return 1;
}

bool CVideoPlayer::Recording() const {
  std::lock_guard<std::mutex> hold(recorderLock_);
  return recorder_ != nullptr;
}

int CVideoPlayer::OfferToRecorder(const uint8_t* bytes, int32_t length, int32_t keyFlag,
                                  int32_t width, int32_t height) {
  std::lock_guard<std::mutex> hold(recorderLock_);
  if (recorder_ == nullptr) {
    return 0;
  }
  if (recorder_->Ended()) {
    recorder_.reset();  // its thread has ended: the join inside returns at once
    return 0;
  }
  recorder_->Queue().Push(bytes, length, keyFlag, 0, width, height);
  return 1;
}

}  // namespace rovik::player
