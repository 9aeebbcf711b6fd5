#include "player/record/recorder.h"

#include <pthread.h>
#include <sys/stat.h>

#include <cstring>

#include "player/record/ensure_directories.h"

namespace rovik::player {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kTick(20);
constexpr std::chrono::milliseconds kKeyWait(100);
// Falling further behind the clock than this (a stalled disk) restarts the schedule instead of
// writing a burst of samples.
constexpr std::chrono::milliseconds kMaxLag(500);

}  // namespace

Recorder::Recorder() = default;

Recorder::~Recorder() { Stop(); }

std::unique_ptr<FrameRecorder> Recorder::Make() { return std::make_unique<Recorder>(); }

int Recorder::Start(const char* path, int32_t kind) {
  if (path == nullptr || path[0] == '\0' || std::strlen(path) >= kPathBytes) return 0;
  return Continue(std::make_shared<RecordChain>(path), kind);
}

int Recorder::Continue(std::shared_ptr<RecordChain> chain, int32_t kind) {
  if (thread_.joinable() || (kind != kRecordH264 && kind != kRecordJpeg)) return 0;
  // Continuation names may add a few bytes to a path the caller kept below the limit.
  if (chain == nullptr || chain->path.empty() || chain->path.size() >= kPathBytes + 16) return 0;
  chain_ = std::move(chain);
  kind_ = kind;
  {
    std::lock_guard<std::mutex> guard(stopLock_);
    stopping_ = false;
  }
  ended_ = false;
  thread_ = std::thread(&Recorder::Run, this);
  return 1;
}

void Recorder::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(stopLock_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  queue_.Wake();
  thread_.join();
}

bool Recorder::Push(const uint8_t* bytes, int32_t length, int32_t keyFlag, int32_t width,
                    int32_t height) {
  return queue_.Push(bytes, length, keyFlag, 0, width, height);
}

std::string Recorder::ContinuationPath(const std::string& path, int n) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  std::string suffix(1, '_');
  suffix.append(std::to_string(n));
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1)) {
    return path + suffix;
  }
  return path.substr(0, dot) + suffix + path.substr(dot);
}

bool Recorder::SleepUntil(Clock::time_point deadline) {
  std::unique_lock<std::mutex> guard(stopLock_);
  stopSignal_.wait_until(guard, deadline, [this] { return stopping_; });
  return !stopping_;
}

std::string Recorder::NextFilePath() {
  // The first file of a recording replaces what was there; a continuation never does.
  constexpr int kMostTaken = 100000;
  for (int tries = 0;; ++tries) {
    const int n = chain_->nextFile.fetch_add(1);
    if (n == 0) return chain_->path;
    const std::string path = ContinuationPath(chain_->path, n);
    struct stat st;
    if (tries >= kMostTaken || ::stat(NormalizePath(path.c_str()).c_str(), &st) != 0) return path;
  }
}

bool Recorder::OpenWriter(const QueuedFrame& frame) {
  const std::string path = NextFilePath();
  EnsureDirectories(path.c_str());
  auto writer = std::make_unique<AviWriter>(kind_, frame.width, frame.height);
  filesBegun_.fetch_add(1);
  if (!writer->Open(NormalizePath(path.c_str()))) {
    chain_->failed = true;  // the recording asked for does not get written
    return false;
  }
  writer_ = std::move(writer);
  width_ = frame.width;
  height_ = frame.height;
  return true;
}

bool Recorder::CloseWriter() {
  bool whole = true;
  if (writer_) whole = writer_->Close();
  writer_.reset();
  if (!whole) chain_->failed = true;
  return whole;
}

void Recorder::Run() {
  pthread_setname_np(pthread_self(), "avi-recorder");
  bool waitingForKey = true;
  uint64_t byteTotal = 0;
  Clock::time_point nextTick{};
  bool scheduled = false;

  // Ends the open file; recording goes on in the next one from the next key frame.
  // False when the file could not be completed whole: the recording then ends.
  auto nextFile = [&] {
    waitingForKey = true;
    byteTotal = 0;
    scheduled = false;
    return CloseWriter();
  };

  QueuedFrame frame;  // kept across frames: its buffer goes back to the queue for the next copy
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(stopLock_);
      if (stopping_) break;
    }
    bool got = queue_.Pop(frame);
    // A frame without a picture size (a JPEG that did not decode) cannot go into the file; it
    // counts as no frame, so it neither starts nor ends the recording.
    if (got && (frame.width <= 0 || frame.height <= 0)) got = false;
    // A new picture size goes into a file of its own.
    if (got && writer_ && (frame.width != width_ || frame.height != height_) && !nextFile()) {
      break;
    }

    if (got) {
      if (waitingForKey) {
        if (frame.keyFlag == 0) {
          if (!SleepUntil(Clock::now() + kKeyWait)) break;
          continue;
        }
        waitingForKey = false;
      }
      if (!writer_ && !OpenWriter(frame)) break;
      if (!scheduled) {
        nextTick = Clock::now();
        scheduled = true;
      }
      if (!writer_->WriteSample(frame.data(), static_cast<uint32_t>(frame.length()))) break;
      byteTotal += static_cast<uint64_t>(frame.length());
      // A day of samples also ends a file: its index is kept in memory until the file closes.
      if (byteTotal > sizeLimit_.load() || writer_->SampleCount() >= sampleLimit_.load()) {
        if (!nextFile()) break;
        continue;
      }
    } else {
      if (!writer_) {
        if (!SleepUntil(Clock::now() + kTick)) break;
        continue;
      }
      if (!writer_->WriteSample(nullptr, 0)) break;
      // Empty samples count too: a camera that sends nothing still gets its file ended.
      if (writer_->SampleCount() >= sampleLimit_.load()) {
        if (!nextFile()) break;
        continue;
      }
    }

    nextTick += kTick;
    const Clock::time_point now = Clock::now();
    if (now > nextTick + kMaxLag) nextTick = now;
    if (!SleepUntil(nextTick)) break;
  }
  CloseWriter();
  ended_ = true;
}

}  // namespace rovik::player
