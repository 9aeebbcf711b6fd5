#include "player/record/snapshot_writer.h"

#include <fcntl.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "player/record/ensure_directories.h"

namespace rovik::player {
namespace {

constexpr int kQuality = 100;

// Expands one row of 16-bit pixels to red-green-blue bytes, replicating the top bits into the
// low ones so that full intensity stays 255.
void ExpandRow16(const uint8_t* src, uint8_t* dst, int width, bool five_six_five) {
  for (int x = 0; x < width; ++x) {
    const uint16_t v = static_cast<uint16_t>(src[2 * x] | (src[2 * x + 1] << 8));
    uint32_t r, g, b;
    if (five_six_five) {
      r = (v >> 11) & 0x1F;
      g = (v >> 5) & 0x3F;
      b = v & 0x1F;
      g = (g << 2) | (g >> 4);
    } else {
      r = (v >> 10) & 0x1F;
      g = (v >> 5) & 0x1F;
      b = v & 0x1F;
      g = (g << 3) | (g >> 2);
    }
    dst[3 * x] = static_cast<uint8_t>((r << 3) | (r >> 2));
    dst[3 * x + 1] = static_cast<uint8_t>(g);
    dst[3 * x + 2] = static_cast<uint8_t>((b << 3) | (b >> 2));
  }
}

// Writes the file under a temporary name beside it and renames it into place, so that whoever
// watches for the file never reads half of it, and a failed write leaves the old file alone.
bool WriteWhole(const std::string& path, const uint8_t* bytes, size_t length) {
  static std::atomic<unsigned> counter{0};
  const std::string temp =
      path + ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < length) {
    const ssize_t n = ::write(fd, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace

std::vector<uint8_t> EncodeSnapshotJpeg(const uint8_t* pixels, int pitch, int width, int height,
                                        int pixel_format) {
  std::vector<uint8_t> out;
  if (pixels == nullptr || width <= 0 || height <= 0 || width > 65500 || height > 65500) return out;
  int bytes_per_pixel = 0;
  int tj_format = 0;
  switch (pixel_format) {
    case 1:
    case 2:
      bytes_per_pixel = 2;
      tj_format = TJPF_RGB;
      break;
    case 3:
      bytes_per_pixel = 3;
      tj_format = TJPF_BGR;
      break;
    case 4:
      bytes_per_pixel = 4;
      tj_format = TJPF_BGRX;
      break;
    default:
      return out;
  }
  if (pitch < width * bytes_per_pixel) return out;

  std::vector<uint8_t> expanded;
  const uint8_t* source = pixels;
  int source_pitch = pitch;
  if (bytes_per_pixel == 2) {
    expanded.resize(static_cast<size_t>(width) * 3 * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
      ExpandRow16(pixels + static_cast<size_t>(y) * static_cast<size_t>(pitch),
                  expanded.data() + static_cast<size_t>(y) * 3 * static_cast<size_t>(width), width,
                  pixel_format == 2);
    }
    source = expanded.data();
    source_pitch = width * 3;
  }

  tjhandle handle = tjInitCompress();
  if (handle == nullptr) return out;
  unsigned char* jpeg = nullptr;
  unsigned long jpeg_size = 0;
  const int rc = tjCompress2(handle, source, width, source_pitch, height, tj_format, &jpeg,
                             &jpeg_size, TJSAMP_444, kQuality, TJFLAG_ACCURATEDCT);
  if (rc == 0 && jpeg != nullptr) out.assign(jpeg, jpeg + jpeg_size);
  tjFree(jpeg);
  tjDestroy(handle);
  return out;
}

bool WriteSnapshotJpeg(const char* path, const uint8_t* pixels, int pitch, int width, int height,
                       int pixel_format) {
  if (path == nullptr || path[0] == '\0') return false;
  const std::vector<uint8_t> jpeg = EncodeSnapshotJpeg(pixels, pitch, width, height, pixel_format);
  if (jpeg.empty()) return false;
  EnsureDirectories(path);
  const std::string target = NormalizePath(path);
  return WriteWhole(target, jpeg.data(), jpeg.size());
}

bool WriteSnapshotBytes(const char* path, const uint8_t* bytes, size_t length) {
  if (path == nullptr || path[0] == '\0' || (bytes == nullptr && length > 0)) return false;
  EnsureDirectories(path);
  return WriteWhole(NormalizePath(path), bytes, length);
}

bool JpegSnapshotWriter::WritePicture(const char* path, const SurfaceView& picture) {
  return WriteSnapshotJpeg(path, picture.pixels, picture.pitch, picture.width, picture.height,
                           picture.format);
}

bool JpegSnapshotWriter::WriteJpeg(const char* path, const uint8_t* bytes, size_t length) {
  return WriteSnapshotBytes(path, bytes, length);
}

JpegSnapshotWriter* JpegSnapshotWriter::Instance() {
  // Never destroyed: players stopped during the process's exit may still hold it.
  static JpegSnapshotWriter* const writer = new JpegSnapshotWriter;
  return writer;
}

}  // namespace rovik::player
