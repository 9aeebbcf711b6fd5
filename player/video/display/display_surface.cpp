#include "player/video/display/display_surface.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "player/media/picture_limits.h"
#include "player/video/convert/color_convert.h"
#include "player/video/convert/picture_scaler.h"
#include "player/video/display/display_backend.h"
#include "player/video/display/osd.h"

namespace rovik::player {
namespace {

// Bounded copy of a zero-terminated text into a fixed field, cleared first.
template <size_t N>
void CopyField(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  if (text != nullptr) {
    std::memcpy(field, text, strnlen(text, N - 1));
  }
}

// An OSD line packed in a display layout, rows 4-byte aligned, ready as an overlay.
struct PackedOsd {
  std::vector<uint8_t> pixels;
  DisplayOverlay overlay;
};

void PackOverlay(const OsdImage& image, PixelFormatCode format, int32_t x, int32_t y,
                 PackedOsd& out) {
  const int bpp = BytesPerPixel(format);
  if (image.pixels.empty() || bpp == 0) {
    return;
  }
  const int32_t pitch = (image.width * bpp + 3) & ~3;
  out.pixels.assign(static_cast<size_t>(pitch) * image.height, 0);
  PutOsdImage(image, {out.pixels.data(), pitch, image.width, image.height, format}, 0, 0);
  out.overlay = {out.pixels.data(), pitch, image.width, image.height, x, y};
}

}  // namespace

DisplaySurface::DisplaySurface(uintptr_t window, const char* backend)
    : window_(window), backendName_(backend != nullptr ? backend : "") {}

DisplaySurface::~DisplaySurface() {
  closing_.store(true);
  // A draw that started before closing was set finishes first, its snapshot included; none
  // starts after it.
  std::unique_lock<std::mutex> hold(drawLock_);
  snapshotWritten_.wait(hold, [this] { return snapshotsWriting_ == 0; });
  backend_.reset();
}

int DisplaySurface::SetUp() {
  std::lock_guard<std::mutex> hold(drawLock_);
  backend_.reset();
  format_ = kPixelFormatNone;
  if (window_ == 0) {
    return 0;
  }
  std::unique_ptr<DisplayBackend> backend = CreateDisplayBackend(backendName_.c_str());
  if (backend == nullptr) {
    return 0;
  }
  const PixelFormatCode format = backend->Open(window_, kInitialWidth, kInitialHeight);
  if (format == kPixelFormatNone) {
    return 0;
  }
  format_ = format;
  backend_ = std::move(backend);
  return 1;
}

bool DisplaySurface::EnsureCapacity(int32_t width, int32_t height) {
  if (!PictureSizeAllowed(width, height)) {
    return false;
  }
  int32_t haveWidth = 0;
  int32_t haveHeight = 0;
  backend_->Capacity(&haveWidth, &haveHeight);
  const bool fits = width <= haveWidth && height <= haveHeight;
  // The off-screen picture follows the pictures: never smaller than the size made at set-up,
  // made larger for a larger picture, and made small again once the pictures got smaller.
  const int32_t wantWidth = std::max(width, kInitialWidth);
  const int32_t wantHeight = std::max(height, kInitialHeight);
  const int64_t have = static_cast<int64_t>(haveWidth) * haveHeight;
  const int64_t want = static_cast<int64_t>(wantWidth) * wantHeight;
  if (fits && have <= kShrinkFactor * want) {
    return true;
  }
  if (backend_->Resize(wantWidth, wantHeight)) {
    return true;
  }
  return fits;  // a smaller picture could not be made: the larger one serves on
}

DisplaySurface::SnapshotJob DisplaySurface::TakeSnapshot(const SurfaceView& shown) {
  SnapshotJob job;
  job.writer = snapshotWriter_;
  job.request = snapshotRequest_;
  snapshotTaken_ = snapshotRequest_;
  std::memcpy(job.path, snapshotPath_, kSnapshotPathBytes);
  const int bpp = BytesPerPixel(shown.format);
  if (job.writer != nullptr && bpp > 0 && shown.pixels != nullptr) {
    const size_t rowBytes = static_cast<size_t>(shown.width) * bpp;
    job.pixels.resize(rowBytes * shown.height);
    for (int32_t row = 0; row < shown.height; ++row) {
      std::memcpy(job.pixels.data() + row * rowBytes,
                  shown.pixels + static_cast<ptrdiff_t>(row) * shown.pitch, rowBytes);
    }
    job.picture = {job.pixels.data(), static_cast<int32_t>(rowBytes), shown.width, shown.height,
                   shown.format};
  }
  ++snapshotsWriting_;
  return job;
}

void DisplaySurface::WriteSnapshot(SnapshotJob& job) {
  // The writer runs without the draw lock: it may take locks of its own, and callers asking
  // whether a snapshot is pending must not wait for a JPEG encoder.
  if (job.writer != nullptr && job.picture.pixels != nullptr) {
    job.writer->WritePicture(job.path, job.picture);
  }
  std::lock_guard<std::mutex> hold(drawLock_);
  // A request made while this one was written stays pending for the next draw.
  if (snapshotRequest_ == job.request) {
    snapshotPending_ = false;
  }
  --snapshotsWriting_;
  snapshotWritten_.notify_all();
}

int DisplaySurface::Draw(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width,
                         int32_t height) {
  if (y == nullptr || width <= 0 || height <= 0) {
    return closing_.load() ? 1 : 0;
  }
  // The packed layout, with the chroma planes wherever the caller keeps them.
  I420View packed = PackedI420(y, width, height);
  packed.u = u;
  packed.v = v;
  return Draw(packed);
}

int DisplaySurface::Draw(const I420View& source) {
  if (closing_.load()) {
    return 1;
  }
  const int32_t width = source.width;
  const int32_t height = source.height;
  if (source.y == nullptr || width <= 0 || height <= 0 ||
      (source.chromaWidth > 0 && source.chromaHeight > 0 && (!source.u || !source.v))) {
    return 0;
  }
  std::optional<SnapshotJob> snapshot;
  std::unique_lock<std::mutex> hold(drawLock_);
  if (backend_ == nullptr) {
    return 0;
  }
  if (closing_.load()) {
    return 1;
  }
  busy_.store(true);
  int result = 0;
  // A window smaller than the picture gets the picture reduced to its size here, while it is
  // converted, so that the window system only copies it. A snapshot keeps the whole picture:
  // that draw takes it whole and leaves the reduction to the window system.
  const bool snapshotDue = snapshotPending_ && snapshotTaken_ != snapshotRequest_;
  int32_t shownWidth = width;
  int32_t shownHeight = height;
  int32_t clientWidth = 0;
  int32_t clientHeight = 0;
  if (!snapshotDue && backend_->ClientSize(&clientWidth, &clientHeight) && clientWidth > 0 &&
      clientHeight > 0) {
    shownWidth = std::min(width, clientWidth);
    shownHeight = std::min(height, clientHeight);
  }
  const bool reduce = shownWidth != width || shownHeight != height;
  if (PictureSizeAllowed(width, height) && EnsureCapacity(shownWidth, shownHeight)) {
    const I420View& picture = reduce ? scaler_.Scale(source, shownWidth, shownHeight) : source;
    const SurfaceView shown = backend_->Picture(shownWidth, shownHeight);
    // Only the X server reads the picture next, on the other core: written around the caches.
    ConvertI420(picture, shown, Stores::kAroundCaches);
    if (osdOn_) {
      // The text belongs on the whole picture: on a reduced one it is reduced alike, at the
      // place the reduction takes it to.
      const auto put = [&](const OsdImage& image, int32_t x, int32_t y) {
        if (!reduce) {
          PutOsdImage(image, shown, x, y);
          return;
        }
        const auto scaled = [](int64_t value, int32_t to, int32_t from) {
          return static_cast<int32_t>((value * to + from / 2) / from);
        };
        PutOsdImage(ShrinkOsdImage(image, std::max(1, scaled(image.width, shownWidth, width)),
                                   std::max(1, scaled(image.height, shownHeight, height))),
                    shown, scaled(x, shownWidth, width), scaled(y, shownHeight, height));
      };
      for (const PlacedOsdLine& line : OsdLines(osdText_, kOsdTextBytes, width, height, false)) {
        put(line.image, line.x, line.y);
      }
    }
    // A request is taken by one draw only, even while its file is still being written.
    if (snapshotDue) {
      snapshot.emplace(TakeSnapshot(shown));
    }
    backend_->Present(shownWidth, shownHeight, {});
    result = 1;
  }
  busy_.store(false);
  hold.unlock();
  if (snapshot) {
    WriteSnapshot(*snapshot);
  }
  return result;
}

bool DisplaySurface::DrawWritten(bool sized, int32_t width, int32_t height,
                                 const PictureWriter& write, const char* osdText, bool osdOn) {
  if (closing_.load()) {
    return sized;
  }
  std::lock_guard<std::mutex> hold(drawLock_);
  if (backend_ == nullptr || closing_.load()) {
    return sized;
  }
  busy_.store(true);
  bool decoded = false;
  // A picture that does not decode leaves the window black, with the text and clock on it.
  int32_t shownWidth = 16;
  int32_t shownHeight = 16;
  if (sized && EnsureCapacity(width, height)) {
    decoded = write(backend_->Picture(width, height));
    if (decoded) {
      shownWidth = width;
      shownHeight = height;
    }
  }
  if (!decoded) {
    FillBlack(backend_->Picture(shownWidth, shownHeight), shownWidth, shownHeight);
  }
  PackedOsd packed[2];
  DisplayOverlay overlays[2];
  size_t overlayCount = 0;
  if (osdOn) {
    int32_t clientWidth = 0;
    int32_t clientHeight = 0;
    if (!backend_->ClientSize(&clientWidth, &clientHeight) || clientWidth <= 0 ||
        clientHeight <= 0) {
      clientWidth = shownWidth;
      clientHeight = shownHeight;
    }
    // The same lines as on the pictures of Draw, laid over the window after the stretch.
    const auto lines = OsdLines(osdText, kOsdTextBytes, clientWidth, clientHeight, true);
    for (size_t i = 0; i < lines.size(); ++i) {
      PackOverlay(lines[i].image, format_, lines[i].x, lines[i].y, packed[i]);
      if (!packed[i].pixels.empty()) {
        overlays[overlayCount++] = packed[i].overlay;
      }
    }
  }
  backend_->Present(shownWidth, shownHeight,
                    std::span<const DisplayOverlay>(overlays, overlayCount));
  busy_.store(false);
  return decoded;
}

void DisplaySurface::SetOSDText(const char* text) {
  std::lock_guard<std::mutex> hold(drawLock_);
  CopyField(osdText_, text);
}

std::string DisplaySurface::OSDText() const {
  std::lock_guard<std::mutex> hold(drawLock_);
  return std::string(osdText_, strnlen(osdText_, kOsdTextBytes));
}

void DisplaySurface::EnableOSD(bool on) {
  std::lock_guard<std::mutex> hold(drawLock_);
  osdOn_ = on;
}

bool DisplaySurface::OSDEnabled() const {
  std::lock_guard<std::mutex> hold(drawLock_);
  return osdOn_;
}

void DisplaySurface::RequestSnapshot(const char* path, SnapshotWriter* writer) {
  std::lock_guard<std::mutex> hold(drawLock_);
  CopyField(snapshotPath_, path);
  snapshotWriter_ = writer;
  snapshotPending_ = true;
  ++snapshotRequest_;
}

bool DisplaySurface::SnapshotPending() const {
  std::lock_guard<std::mutex> hold(drawLock_);
  return snapshotPending_;
}

}  // namespace rovik::player
