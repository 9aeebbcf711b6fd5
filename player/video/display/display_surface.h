// The output of a video player into a caller's X11 window (an X11 Window id, 0 meaning no
// window). An off-screen picture in the window's own pixel layout
// receives each picture, the on-screen text is drawn on it, and it is then stretched onto the
// window's current client area. The pixels reach the window through a display back end
// (display_backend.h: x11, null).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "player/media/pixel_format.h"
#include "player/video/convert/picture_scaler.h"

namespace rovik::player {

class DisplayBackend;

// Writes snapshots for the players; provided by the snapshot code and handed to the players
// through PlayerHooks. Neither is called with a lock of the display held, and WriteJpeg with no
// lock of the player; WritePicture may run under the H.264 player's picture lock (a Refresh draws
// with it held), so neither may call back into the player.
class SnapshotWriter {
 public:
  virtual ~SnapshotWriter() = default;
  // The picture being shown (after conversion and on-screen text), picture.width x
  // picture.height pixels, to be saved as a JPEG file at `path`. True when the file was written.
  virtual bool WritePicture(const char* path, const SurfaceView& picture) = 0;
  // A whole JPEG frame to be written to `path` byte for byte. True when all bytes were written.
  virtual bool WriteJpeg(const char* path, const uint8_t* bytes, size_t length) = 0;
};

class DisplaySurface {
 public:
  // Size of the off-screen picture made at set-up. It is made larger for a larger picture, up
  // to the largest picture taken (picture_limits.h: 4096 x 2304 pixels, either way up; larger
  // pictures are refused and the window keeps the last one), and made small again once it
  // holds more than kShrinkFactor times the pixels the pictures need.
  static constexpr int32_t kInitialWidth = 1280;
  static constexpr int32_t kInitialHeight = 720;
  static constexpr int64_t kShrinkFactor = 2;
  static constexpr size_t kOsdTextBytes = 128;
  static constexpr size_t kSnapshotPathBytes = 260;

  // `backend` names the back end ("x11", "null"); null or empty selects the default (x11).
  explicit DisplaySurface(uintptr_t window, const char* backend = nullptr);
  ~DisplaySurface();  // sets closing, waits for a running draw, releases everything
  DisplaySurface(const DisplaySurface&) = delete;
  DisplaySurface& operator=(const DisplaySurface&) = delete;

  // Binds to the window and makes the off-screen picture. 1 on success, 0 on failure (window 0,
  // no display, a visual of no supported layout); a failed surface shows nothing.
  int SetUp();

  // Converts one I420 picture (tightly packed: Y stride = width, chroma stride = width / 2) into
  // the off-screen picture, draws the on-screen text when it is on, writes a pending snapshot,
  // and stretches the picture onto the window's client area. A window smaller than the picture
  // gets it reduced to the window's size while it is converted, the text with it (not while a
  // snapshot is due: that draw takes the whole picture). 1 when handled (or closing), 0 when
  // nothing could be shown.
  int Draw(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, int32_t height);
  // The same for a picture with planes of any stride (a decoder's own).
  int Draw(const I420View& picture);

  // Writes a width x height picture in the display's layout straight into the off-screen
  // picture through `write`, and stretches it over the client area, with the on-screen text and
  // the clock at client coordinates when `osdOn`. A picture not `sized`, larger than the limit,
  // or that `write` could not write (false) leaves the window painted without a picture. Returns
  // whether the picture was written (`sized` when closing or without a back end).
  using PictureWriter = std::function<bool(const SurfaceView& picture)>;
  bool DrawWritten(bool sized, int32_t width, int32_t height, const PictureWriter& write,
                   const char* osdText, bool osdOn);

  // On-screen text (at most 127 bytes are kept) and its switch (starts off).
  void SetOSDText(const char* text);
  std::string OSDText() const;
  void EnableOSD(bool on);
  bool OSDEnabled() const;

  // Asks the next Draw to write the shown picture to `path` through `writer`.
  void RequestSnapshot(const char* path, SnapshotWriter* writer);
  bool SnapshotPending() const;

  PixelFormatCode Format() const { return format_; }
  uintptr_t Window() const { return window_; }
  // The back end in use; null before a successful SetUp. Tests look into the null back end.
  DisplayBackend* Backend() const { return backend_.get(); }

 private:
  // A snapshot taken by a draw: the request and a copy of the shown picture, written after the
  // draw lock is released.
  struct SnapshotJob {
    SnapshotWriter* writer = nullptr;
    uint64_t request = 0;
    char path[kSnapshotPathBytes] = {};
    std::vector<uint8_t> pixels;
    SurfaceView picture;
  };

  bool EnsureCapacity(int32_t width, int32_t height);  // drawLock_ held
  SnapshotJob TakeSnapshot(const SurfaceView& shown);  // drawLock_ held
  void WriteSnapshot(SnapshotJob& job);                // drawLock_ not held

  const uintptr_t window_;
  const std::string backendName_;
  PixelFormatCode format_ = kPixelFormatNone;  // set once by SetUp

  // Guards backend_'s picture and presenting, scaler_, snapshot*, the OSD fields. Never held
  // while a snapshot writer runs.
  mutable std::mutex drawLock_;
  std::unique_ptr<DisplayBackend> backend_;
  PictureScaler scaler_;  // reduces pictures for a window smaller than them
  char osdText_[kOsdTextBytes] = {};
  bool osdOn_ = false;
  char snapshotPath_[kSnapshotPathBytes] = {};
  bool snapshotPending_ = false;
  SnapshotWriter* snapshotWriter_ = nullptr;
  uint64_t snapshotRequest_ = 0;  // counts requests: a newer one stays pending past a write
  uint64_t snapshotTaken_ = 0;    // the last request a draw took to write
  int snapshotsWriting_ = 0;      // snapshots taken by draws and not yet written
  std::condition_variable snapshotWritten_;  // snapshotsWriting_ went down

  std::atomic<bool> busy_{false};     // a draw is running
  std::atomic<bool> closing_{false};  // destruction has begun: draws return at once
};

}  // namespace rovik::player
