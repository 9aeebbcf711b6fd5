// The video players of a playing slot. The caller's thread copies each compressed frame into the
// player's input queue; the player's own thread decodes the frames one at a time, in arrival
// order, and draws them into the caller's window. CH264Player decodes an H.264 stream, and
// CJPEGPlayer takes every frame as a complete JPEG picture.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/media/frame_queue.h"
#include "player/video/decode/h264_decoder.h"
#include "player/video/display/display_surface.h"
#include "player/video/record_chain.h"

namespace rovik::player {

// Recording kinds of a FrameRecorder.
inline constexpr int32_t kRecordJpeg = 0;
inline constexpr int32_t kRecordH264 = 1;

// A recording in progress, as the player sees it: a queue it hands every shown frame to, and a
// thread behind it that writes them. Provided by the recording code through PlayerHooks.
class FrameRecorder {
 public:
  // Stops the recording thread (waiting for it) and frees the frames still queued.
  virtual ~FrameRecorder() = default;
  // Starts recording into `path` with kind kRecordH264 or kRecordJpeg; 1 when started, else 0.
  virtual int Start(const char* path, int32_t kind) = 0;
  // Starts writing the next file of `chain` (its first, or a continuation after a restart).
  virtual int Continue(std::shared_ptr<RecordChain> chain, int32_t kind) {
    return Start(chain->path.c_str(), kind);
  }
  // The recorder's queue; the player pushes copies of the shown frames into it.
  virtual FrameQueue& Queue() = 0;
  // True once the recording can take no more frames (its thread has ended, or never started):
  // the player then lets the recorder go.
  virtual bool Ended() const { return false; }
};

// What the player library gives its players; everything may be left empty (tests, a build
// without recording): StartRecord then does nothing and snapshots are not written.
struct PlayerHooks {
  std::unique_ptr<FrameRecorder> (*makeRecorder)() = nullptr;
  SnapshotWriter* snapshots = nullptr;   // not owned; outlives the players
  const char* displayBackend = nullptr;  // "x11" (default) or "null"
};

class CVideoPlayer {
 public:
  static constexpr size_t kOsdTextBytes = 128;

  CVideoPlayer(uintptr_t window, const PlayerHooks& hooks);
  // Stops the thread, frees the queued frames, stops and frees the recorder.
  virtual ~CVideoPlayer();
  CVideoPlayer(const CVideoPlayer&) = delete;
  CVideoPlayer& operator=(const CVideoPlayer&) = delete;

  // Starts the player thread; 0 when it already runs, 1 when started.
  virtual int Start();
  // Stops the player thread and waits for it; 1.
  virtual int Stop();
  // Copies one compressed frame into the input queue (width and height 0).
  virtual void InputFrame(const uint8_t* bytes, int32_t length, int32_t keyFlag,
                          uint32_t frameValue);
  // Shows the last picture again without decoding.
  virtual void Refresh() = 0;
  // Writes a snapshot of the shown picture to `path`.
  virtual int SnapShot(const char* path) = 0;
  // On-screen text: at most 127 bytes are kept.
  virtual void SetOSDText(const char* text);
  virtual void EnableOSD(int value);
  virtual int StartRecord(const char* path) = 0;
  // Goes on with a recording begun by an earlier player (or starts it): its next file.
  int ContinueRecord(std::shared_ptr<RecordChain> chain);
  // Stops and frees the recorder; 1.
  virtual int StopRecord();

  // Hands one shown frame to the recorder, when one exists: 1 when handed over, else 0. A
  // recorder whose recording has ended is let go here instead (its file is already closed).
  int OfferToRecorder(const uint8_t* bytes, int32_t length, int32_t keyFlag, int32_t width,
                      int32_t height);

  uintptr_t Window() const { return window_; }
  FrameQueue& InputQueue() { return input_; }
  std::string OSDText() const;
  bool OSDEnabled() const { return osdOn_.load(); }
  bool Recording() const;
  // Pictures shown so far (drawn by the player thread, refreshes not counted).
  uint64_t PicturesShown() const { return shown_.load(); }

 protected:
  // The player thread's loop; returns when running_ is cleared.
  virtual void Run() = 0;
  // Common start of a recording with the given kind; 1 when a recorder was started.
  int StartRecording(const char* path, int32_t kind);
  int StartRecording(std::shared_ptr<RecordChain> chain, int32_t kind);
  // The kind of recording this player makes.
  virtual int32_t RecordKind() const = 0;
  // Sleeps up to `ms` milliseconds, returning early when the player is being stopped.
  void Pause(int ms);
  bool Running() const { return running_.load(); }
  void CountShown() { shown_.fetch_add(1); }

  const uintptr_t window_;
  const PlayerHooks hooks_;
  FrameQueue input_;

 private:
  std::thread thread_;  // owned and joined by Stop
  std::atomic<bool> running_{false};
  std::mutex pauseLock_;  // guards nothing but the pause wait
  std::condition_variable stopping_;

  mutable std::mutex osdLock_;  // guards osdText_
  char osdText_[kOsdTextBytes] = {};
  std::atomic<bool> osdOn_{true};

  mutable std::mutex recorderLock_;  // guards recorder_
  std::unique_ptr<FrameRecorder> recorder_;

  std::atomic<uint64_t> shown_{0};
};

// H.264 frames decoded to I420 pictures and shown through a DisplaySurface.
class CH264Player : public CVideoPlayer {
 public:
  CH264Player(uintptr_t window, const PlayerHooks& hooks = {});
  ~CH264Player() override;

  void Refresh() override;
  int SnapShot(const char* path) override;
  // The text goes to the display, whose switch starts off.
  void SetOSDText(const char* text) override;
  void EnableOSD(int value) override;
  int StartRecord(const char* path) override;
  int32_t RecordKind() const override { return kRecordH264; }

  // The display; null only while being destroyed.
  DisplaySurface* Display() { return display_.get(); }
  bool DecoderReady() const;
  // Size of the stored picture (0 x 0 before the first one).
  void StoredSize(int32_t* width, int32_t* height) const;

 protected:
  void Run() override;

 private:
  std::unique_ptr<H264Decoder> decoder_;  // used by the player thread only
  std::unique_ptr<DisplaySurface> display_;

  mutable std::mutex pictureLock_;  // guards stored_
  DecodedPicture stored_;           // last picture shown
};

// Every frame a complete JPEG picture, drawn stretched over the window with the on-screen text
// and the clock.
// Decodes a whole JPEG frame straight into `display`'s off-screen picture and shows it stretched
// over the client area, with the on-screen text and clock at client coordinates when `osdOn`.
// False when the frame did not decode (the window is then painted without a picture); *width
// and *height receive the picture size (0 when its header could not be read).
bool DrawJpegFrame(DisplaySurface& display, const uint8_t* bytes, size_t length,
                   const char* osdText, bool osdOn, int32_t* width, int32_t* height);

class CJPEGPlayer : public CVideoPlayer {
 public:
  CJPEGPlayer(uintptr_t window, const PlayerHooks& hooks = {});
  ~CJPEGPlayer() override;

  void Refresh() override;
  // Writes the last JPEG frame byte for byte; 1 when all of it was written.
  int SnapShot(const char* path) override;
  int StartRecord(const char* path) override;
  int32_t RecordKind() const override { return kRecordJpeg; }

  DisplaySurface* Display() { return display_.get(); }
  // A copy of the last JPEG frame (empty before the first one).
  std::vector<uint8_t> StoredJpeg() const;

 protected:
  void Run() override;

 private:
  void DrawFrame(const uint8_t* bytes, size_t length);

  std::unique_ptr<DisplaySurface> display_;
  mutable std::mutex pictureLock_;  // guards stored_
  std::vector<uint8_t> stored_;     // last JPEG frame
};

}  // namespace rovik::player
