#include "player/record/avi_writer.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rovik::player {
namespace {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kRate = 50;
constexpr uint32_t kScale = 1;

// Fixed layout of the head of the file; every offset below is from the start of the file.
constexpr uint32_t kAvihSize = 56;
constexpr uint32_t kStrhSize = 56;
constexpr uint32_t kStrfSize = 40;
constexpr uint32_t kStrlSize = 4 + (8 + kStrhSize) + (8 + kStrfSize);
constexpr uint32_t kHdrlSize = 4 + (8 + kAvihSize) + (8 + kStrlSize);
constexpr uint64_t kHdrlPos = 12;
constexpr uint64_t kAvihPos = kHdrlPos + 12;  // "avih" chunk header
constexpr uint64_t kAvihFlags = kAvihPos + 8 + 12;
constexpr uint64_t kAvihTotalFrames = kAvihPos + 8 + 16;
constexpr uint64_t kStrlPos = kAvihPos + 8 + kAvihSize;
constexpr uint64_t kStrhPos = kStrlPos + 12;
constexpr uint64_t kStrhLength = kStrhPos + 8 + 32;
constexpr uint64_t kMoviListPos = kHdrlPos + 8 + kHdrlSize;

constexpr uint32_t Fourcc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

class Bytes {
 public:
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void U16(uint16_t v) {
    data_.push_back(static_cast<uint8_t>(v));
    data_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Tag(const char* t) { U32(Fourcc(t[0], t[1], t[2], t[3])); }
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

uint32_t RecordFourcc(int kind) {
  return kind == AviWriter::kH264 ? Fourcc('h', '2', '6', '4') : Fourcc('m', 'j', 'p', 'g');
}

AviWriter::AviWriter(int kind, int width, int height)
    : kind_(kind), width_(width), height_(height) {}

AviWriter::~AviWriter() { Close(); }

bool AviWriter::Open(const std::string& path) {
  if (fd_ >= 0 || (kind_ != kH264 && kind_ != kJpeg)) return false;
  if (width_ <= 0 || height_ <= 0 || width_ > 65535 || height_ > 65535) return false;
  const uint32_t w = static_cast<uint32_t>(width_);
  const uint32_t h = static_cast<uint32_t>(height_);
  const uint32_t handler = RecordFourcc(kind_);

  Bytes b;
  b.Tag("RIFF");
  b.U32(0);  // file size, kept up to date
  b.Tag("AVI ");
  b.Tag("LIST");
  b.U32(kHdrlSize);
  b.Tag("hdrl");
  b.Tag("avih");
  b.U32(kAvihSize);
  b.U32(1000000 / kRate);  // microseconds per frame
  b.U32(0);                // max bytes per second
  b.U32(0);                // padding granularity
  b.U32(kAvifHasIndex);
  b.U32(0);  // total frames, kept up to date
  b.U32(0);  // initial frames
  b.U32(1);  // streams
  b.U32(w * h);
  b.U32(w);
  b.U32(h);
  for (int i = 0; i < 4; ++i) b.U32(0);
  b.Tag("LIST");
  b.U32(kStrlSize);
  b.Tag("strl");
  b.Tag("strh");
  b.U32(kStrhSize);
  b.Tag("vids");
  b.U32(handler);
  b.U32(0);  // flags
  b.U16(0);  // priority
  b.U16(0);  // language
  b.U32(0);  // initial frames
  b.U32(kScale);
  b.U32(kRate);
  b.U32(0);      // start
  b.U32(0);      // length, kept up to date
  b.U32(w * h);  // suggested buffer size
  b.U32(0);      // quality
  b.U32(0);      // sample size
  b.U16(0);      // frame rectangle: left, top, right, bottom
  b.U16(0);
  b.U16(static_cast<uint16_t>(w));
  b.U16(static_cast<uint16_t>(h));
  b.Tag("strf");
  b.U32(kStrfSize);
  b.U32(40);
  b.U32(w);
  b.U32(h);
  b.U16(1);   // planes
  b.U16(24);  // bit count
  b.U32(handler);
  for (int i = 0; i < 5; ++i) b.U32(0);  // image size, resolutions, colours
  b.Tag("LIST");
  b.U32(4);  // movi size, kept up to date
  b.Tag("movi");

  // Written beside the path first: a disk too full for the headers leaves an earlier file whole.
  static std::atomic<unsigned> counter{0};
  const std::string temp =
      path + ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
  fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) return false;
  index_.clear();
  max_sample_ = 0;
  failed_ = false;
  movi_pos_ = kMoviListPos + 8;
  end_ = b.data().size();
  if (!WriteAt(0, b.data().data(), b.data().size()) || !UpdateHeaders() ||
      ::rename(temp.c_str(), path.c_str()) != 0) {
    ::close(fd_);
    ::unlink(temp.c_str());
    fd_ = -1;
    return false;
  }
  return true;
}

bool AviWriter::WriteAt(uint64_t offset, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const ssize_t n = ::pwrite(fd_, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool AviWriter::WriteSample(const uint8_t* data, uint32_t length) {
  if (fd_ < 0 || failed_ || length > kMaxSampleBytes || (length > 0 && data == nullptr))
    return false;
  const uint64_t chunk = 8 + static_cast<uint64_t>(length) + (length & 1);
  // The index (16 bytes a sample) and every size must stay inside the 32-bit RIFF fields.
  if (end_ + chunk + 8 + 16 * (index_.size() + 1) > 0xFFFFFFF0ull) return false;
  uint8_t head[8];
  PutU32(head, Fourcc('0', '0', 'd', 'c'));
  PutU32(head + 4, length);
  uint8_t pad = 0;
  iovec parts[3] = {{head, 8}, {const_cast<uint8_t*>(data), length}, {&pad, length & 1u}};
  size_t remaining = static_cast<size_t>(chunk);
  uint64_t offset = end_;
  int first = 0;
  while (remaining > 0) {
    const ssize_t n = ::pwritev(fd_, parts + first, 3 - first, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      CutBack();
      return false;
    }
    remaining -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
    size_t done = static_cast<size_t>(n);
    while (first < 3 && done >= parts[first].iov_len) {
      done -= parts[first].iov_len;
      ++first;
    }
    if (first < 3) {
      parts[first].iov_base = static_cast<uint8_t*>(parts[first].iov_base) + done;
      parts[first].iov_len -= done;
    }
  }
  index_.push_back({static_cast<uint32_t>(end_ - movi_pos_), length});
  end_ += chunk;
  if (length > max_sample_) max_sample_ = length;
  if (index_.size() % kHeaderRefreshSamples == 0 && !UpdateHeaders()) {
    CutBack();
    return false;
  }
  return true;
}

void AviWriter::CutBack() {
  failed_ = true;
  // The sizes are rewritten in place, inside blocks the file already has.
  if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0) return;
  UpdateHeaders();
}

bool AviWriter::UpdateHeaders() {
  uint8_t v[4];
  const uint32_t frames = static_cast<uint32_t>(index_.size());
  PutU32(v, static_cast<uint32_t>(end_ - 8));
  bool ok = WriteAt(4, v, 4);
  PutU32(v, frames);
  ok = ok && WriteAt(kAvihTotalFrames, v, 4);
  ok = ok && WriteAt(kStrhLength, v, 4);
  PutU32(v, static_cast<uint32_t>(end_ - movi_pos_));
  ok = ok && WriteAt(kMoviListPos + 4, v, 4);
  return ok;
}

bool AviWriter::Close() {
  if (fd_ < 0) return true;
  std::vector<uint8_t> idx(8 + 16 * index_.size());
  PutU32(idx.data(), Fourcc('i', 'd', 'x', '1'));
  PutU32(idx.data() + 4, static_cast<uint32_t>(16 * index_.size()));
  uint8_t* p = idx.data() + 8;
  for (const IndexEntry& e : index_) {
    PutU32(p, Fourcc('0', '0', 'd', 'c'));
    PutU32(p + 4, kAviifKeyframe);
    PutU32(p + 8, e.offset);
    PutU32(p + 12, e.size);
    p += 16;
  }
  // The "movi" list ends where the index begins.
  const uint64_t movi_end = end_;
  if (WriteAt(end_, idx.data(), idx.size())) {
    end_ += idx.size();
  } else {
    // No room for the index: the file ends with its last sample and says it has none.
    failed_ = true;
    if (::ftruncate(fd_, static_cast<off_t>(end_)) == 0) {
      PutU32(idx.data(), 0);
      WriteAt(kAvihFlags, idx.data(), 4);
    }
  }
  uint8_t v[4];
  PutU32(v, static_cast<uint32_t>(movi_end - movi_pos_));
  bool ok = WriteAt(kMoviListPos + 4, v, 4);
  PutU32(v, static_cast<uint32_t>(end_ - 8));
  ok = ok && WriteAt(4, v, 4);
  const uint32_t frames = static_cast<uint32_t>(index_.size());
  PutU32(v, frames);
  ok = ok && WriteAt(kAvihTotalFrames, v, 4);
  ok = ok && WriteAt(kStrhLength, v, 4);
  ok = ok && !failed_;
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  index_.clear();
  return ok;
}

}  // namespace rovik::player
