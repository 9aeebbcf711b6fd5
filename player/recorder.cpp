#include "player/recorder.h"

#include <pthread.h>

#include <cstring>

#include "player/ensure_directories.h"

namespace qxplay {
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
  if (thread_.joinable() || (kind != kRecordH264 && kind != kRecordJpeg)) return 0;
  if (path == nullptr || path[0] == '\0' || std::strlen(path) >= kPathBytes) return 0;
  path_ = path;
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

bool Recorder::OpenWriter(const QueuedFrame& frame) {
  const int file = filesBegun_.load();
  const std::string path = file == 0 ? path_ : ContinuationPath(path_, file);
  EnsureDirectories(path.c_str());
  auto writer = std::make_unique<AviWriter>(kind_, frame.width, frame.height);
  filesBegun_.fetch_add(1);
  if (!writer->Open(NormalizePath(path.c_str()))) return false;
  writer_ = std::move(writer);
  width_ = frame.width;
  height_ = frame.height;
  return true;
}

void Recorder::CloseWriter() {
  if (writer_) writer_->Close();
  writer_.reset();
}

void Recorder::Run() {
  pthread_setname_np(pthread_self(), "avi-recorder");
  bool waitingForKey = true;
  uint64_t byteTotal = 0;
  Clock::time_point nextTick{};
  bool scheduled = false;

  for (;;) {
    {
      std::lock_guard<std::mutex> guard(stopLock_);
      if (stopping_) break;
    }
    QueuedFrame frame;
    bool got = queue_.Pop(frame);
    // A frame without a picture size (a JPEG that did not decode) cannot go into the file; it
    // counts as no frame, so it neither starts nor ends the recording.
    if (got && (frame.width <= 0 || frame.height <= 0)) got = false;

    if (got) {
      if (waitingForKey) {
        if (frame.keyFlag == 0) {
          if (!SleepUntil(Clock::now() + kKeyWait)) break;
          continue;
        }
        waitingForKey = false;
      }
      if (!writer_ && !OpenWriter(frame)) break;
      if (frame.width != width_ || frame.height != height_) break;
      if (!scheduled) {
        nextTick = Clock::now();
        scheduled = true;
      }
      if (!writer_->WriteSample(frame.data(), static_cast<uint32_t>(frame.length()))) break;
      byteTotal += static_cast<uint64_t>(frame.length());
      // A day of samples also ends a file: its index is kept in memory until the file closes.
      if (byteTotal > sizeLimit_.load() || writer_->SampleCount() >= kMaxSamplesPerFile) {
        // This file is complete; the next key frame begins the next one beside it.
        CloseWriter();
        waitingForKey = true;
        byteTotal = 0;
        scheduled = false;
        continue;
      }
    } else {
      if (!writer_) {
        if (!SleepUntil(Clock::now() + kTick)) break;
        continue;
      }
      if (!writer_->WriteSample(nullptr, 0)) break;
    }

    nextTick += kTick;
    const Clock::time_point now = Clock::now();
    if (now > nextTick + kMaxLag) nextTick = now;
    if (!SleepUntil(nextTick)) break;
  }
  CloseWriter();
  ended_ = true;
}

}  // namespace qxplay
