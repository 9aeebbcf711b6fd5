#include "player/audio/audio.h"

#include <pthread.h>

#include <chrono>
#include <cstring>

namespace rovik::player {

AudioPlayer::AudioPlayer() : AudioPlayer(CurrentAudioBackend()) {}

AudioPlayer::AudioPlayer(const AudioBackend& backend)
    : out_(std::make_unique<CWavOut>(backend)), ring_(std::make_unique<PcmRing>()) {}

AudioPlayer::~AudioPlayer() {
  {
    std::lock_guard<std::mutex> hold(wakeLock_);
    running_ = 0;
  }
  wake_.notify_all();
  if (feeder_.joinable()) feeder_.join();
  out_->Close();
  out_.reset();
  ring_->Release();
  ring_.reset();
}

int AudioPlayer::Start() {
  ring_->Reset();
  if (!feeder_.joinable()) {
    running_ = 1;
    feeder_ = std::thread(&AudioPlayer::FeederLoop, this);
  }
  return out_->Open();
}

int AudioPlayer::Append(const uint8_t* bytes, int length) { return ring_->Write(bytes, length); }

void AudioPlayer::FeederLoop() {
  pthread_setname_np(pthread_self(), "audio-feeder");
  PcmChunk chunk;
  auto idle = [this] {
    std::unique_lock<std::mutex> hold(wakeLock_);
    wake_.wait_for(hold, std::chrono::milliseconds(kIdleMillis), [this] { return running_ != 1; });
  };
  while (running_ == 1) {
    if (ring_->TakeFillSnapshot() < kPcmChunkBytes) {
      idle();
      continue;
    }
    std::memset(chunk.bytes, 0, sizeof chunk.bytes);
    if (ring_->ReadChunk(chunk.bytes) != kPcmChunkBytes) {
      idle();
      continue;
    }
    out_->Write(chunk.bytes);
  }
}

}  // namespace rovik::player
