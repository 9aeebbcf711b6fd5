// The player's audio: playback of camera PCM (AudioPlayer over PcmRing and CWavOut) and microphone
// capture for talk-back (CWaveIn). This is the header the rest of the player includes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "player/audio/backends/audio_backend.h"
#include "player/audio/pcm_ring.h"
#include "player/audio/wav_out.h"
#include "player/audio/wave_in.h"
#include "player/media/pcm_format.h"

namespace rovik::player {

// One slot's audio playback: the caller appends PCM of any length into the ring; a feeder thread
// takes whole chunks out and queues them on the output device.
class AudioPlayer {
 public:
  static constexpr int kIdleMillis = 100;  // the feeder's wait when the ring holds no whole chunk

  AudioPlayer();  // on the process's back end
  explicit AudioPlayer(const AudioBackend& backend);
  AudioPlayer(const AudioPlayer&) = delete;
  AudioPlayer& operator=(const AudioPlayer&) = delete;
  // Stops and joins the feeder, closes the output device, frees the ring.
  ~AudioPlayer();

  // Empties the ring, starts the feeder (once) and opens the output device. Returns the open
  // result: 1 open, 0 no device (the feeder then drains and drops every chunk).
  int Start();
  // Appends a block to the ring: its length, or 0 when it does not fit (it is dropped whole).
  int Append(const uint8_t* bytes, int length);

  PcmRing& ring() { return *ring_; }
  CWavOut& output() { return *out_; }

 private:
  void FeederLoop();

  std::unique_ptr<CWavOut> out_;
  std::unique_ptr<PcmRing> ring_;
  std::thread feeder_;  // started by Start, joined by the destructor

  std::mutex wakeLock_;           // guards running_ changes, so a stop wakes the feeder at once
  std::condition_variable wake_;  // signalled when running_ drops to 0
  std::atomic<int> running_{0};
};

}  // namespace rovik::player
