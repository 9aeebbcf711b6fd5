// Recording of a player's compressed frames into AVI files.
//
// The player hands every shown frame to the Recorder's own FrameQueue (Push); the recording
// thread writes one sample every 20 ms: the next waiting frame, or an empty sample when none
// waits, so that the file's 50 samples per second follow the clock. The file is opened at the
// first key frame with that frame's picture size. When a file's frames pass the size limit, its
// samples (empty ones included) reach a day, or the picture size changes, it is closed and
// recording goes on, from the next key frame, in a new file beside it: "name_1.avi",
// "name_2.avi", ... (a name already taken on disk is skipped). A file that cannot be written
// whole (a full disk) is cut back to its last whole sample and completed; the recording then
// ends and its RecordChain is marked failed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "player/media/frame_queue.h"
#include "player/record/avi_writer.h"
#include "player/video/video_player.h"

namespace rovik::player {

class Recorder final : public FrameRecorder {
 public:
  // Frame bytes after which a file is closed and the next one begun (300 MiB).
  static constexpr uint64_t kDefaultSizeLimit = 314572800;
  // Samples after which a file is closed at the next frame and the next one begun (24 hours).
  static constexpr uint32_t kMaxSamplesPerFile = 50u * 60u * 60u * 24u;
  static constexpr size_t kPathBytes = 260;

  Recorder();
  ~Recorder() override;  // stops the thread (closing the file) and frees the frames still queued
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Starts the recording thread for `path` (below 260 bytes) and `kind` (kRecordH264 or
  // kRecordJpeg). 1 when started; 0 when already started or an argument is refused.
  int Start(const char* path, int32_t kind) override;
  // The same for the next file of `chain` (path below kMaxPathBytes + 16 bytes).
  int Continue(std::shared_ptr<RecordChain> chain, int32_t kind) override;
  // Ends the thread and waits for it; the file is complete when this returns. Idempotent.
  void Stop();

  // Hand-over from the player: copies the frame into the queue with its picture size.
  bool Push(const uint8_t* bytes, int32_t length, int32_t keyFlag, int32_t width, int32_t height);
  FrameQueue& Queue() override { return queue_; }
  // The thread has ended (an error, a change of picture size), or was never started.
  bool Ended() const override { return !thread_.joinable() || ended_.load(); }

  // The players' recorder factory (PlayerHooks::makeRecorder).
  static std::unique_ptr<FrameRecorder> Make();

  // Frame bytes per file before continuing in the next one.
  void SetSizeLimit(uint64_t bytes) { sizeLimit_.store(bytes); }
  // Samples per file before continuing in the next one.
  void SetSampleLimit(uint32_t samples) { sampleLimit_.store(samples); }
  // A file of this recording could not be written whole; the thread has ended.
  bool Failed() const { return chain_ != nullptr && chain_->failed.load(); }

  // What the thread is doing, for the callers that wait for it.
  bool ThreadEnded() const { return ended_.load(); }
  // Files begun so far (the first at the path, then the continuations).
  int FilesBegun() const { return filesBegun_.load(); }

  // The path of the continuation file `n` (n >= 1) of `path`: "_n" before the extension.
  static std::string ContinuationPath(const std::string& path, int n);

 private:
  void Run();
  // Sleeps until `deadline` or until Stop; false when stopping.
  bool SleepUntil(std::chrono::steady_clock::time_point deadline);
  bool OpenWriter(const QueuedFrame& frame);
  // Closes the file; false (and the chain marked failed) when it could not be completed whole.
  bool CloseWriter();
  std::string NextFilePath();

  FrameQueue queue_;
  std::thread thread_;  // owned: joined by Stop

  std::mutex stopLock_;  // guards stopping_ (with stopSignal_)
  std::condition_variable stopSignal_;
  bool stopping_ = false;

  // Set by Start before the thread begins; read by the thread only (the chain's own fields are
  // atomic).
  std::shared_ptr<RecordChain> chain_;
  int32_t kind_ = kRecordH264;
  std::atomic<uint64_t> sizeLimit_{kDefaultSizeLimit};
  std::atomic<uint32_t> sampleLimit_{kMaxSamplesPerFile};

  // Owned by the recording thread while it runs.
  std::unique_ptr<AviWriter> writer_;
  int width_ = 0;
  int height_ = 0;

  std::atomic<bool> ended_{false};
  std::atomic<int> filesBegun_{0};
};

}  // namespace rovik::player
