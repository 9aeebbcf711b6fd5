#include "player/audio/wav_out.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace rovik::player {

struct CWavOut::Core {
  struct Buffer {
    AudioBuffer header;
    uint8_t data[kPcmChunkBytes];
  };

  Buffer buffers[kBufferCount];

  std::mutex lock;  // guards freeList, freeHead, freeCount, accepting, written, dropped, device
  AudioBuffer* freeList[kBufferCount] = {};
  int freeHead = 0;
  int freeCount = 0;
  bool accepting = false;  // completions return buffers to the free list only while open
  int64_t written = 0;
  int64_t dropped = 0;
  AudioOutput* device = nullptr;  // changed by the owner's Open and Close

  Core() {
    for (Buffer& b : buffers) {
      b.header.data = b.data;
      b.header.length = kPcmChunkBytes;
    }
  }

  void PushFree(AudioBuffer* header) {  // lock held
    freeList[(freeHead + freeCount) % kBufferCount] = header;
    ++freeCount;
  }

  // The device's completion, on its own thread (or inside a reset).
  static void OnDone(void* context, AudioBuffer* buffer) {
    auto* core = static_cast<Core*>(context);
    std::lock_guard<std::mutex> hold(core->lock);
    if (core->accepting && core->freeCount < kBufferCount) core->PushFree(buffer);
  }
};

namespace {

// The owner of the output devices whose close was refused, each with the core its thread may
// still use. A device is closed (which joins its thread) as soon as the close is taken; what
// is still refused at the process's end is left as it is, since its thread may still run.
class StalledOutputs {
 public:
  ~StalledOutputs() {
    std::lock_guard<std::mutex> hold(lock_);
    CloseLetGo();
    for (Entry& e : entries_) {
      new std::shared_ptr<CWavOut::Core>(std::move(e.core));  // deliberately never freed
    }
  }

  void Adopt(const AudioBackend& backend, AudioOutput* device,
             std::shared_ptr<CWavOut::Core> core) {
    std::lock_guard<std::mutex> hold(lock_);
    entries_.push_back(Entry{backend, device, std::move(core)});
  }

  int Retry() {
    std::lock_guard<std::mutex> hold(lock_);
    CloseLetGo();
    return static_cast<int>(entries_.size());
  }

 private:
  struct Entry {
    AudioBackend backend;  // a copy: the caller's table need not outlive the device
    AudioOutput* device;
    std::shared_ptr<CWavOut::Core> core;
  };

  void CloseLetGo() {  // lock_ held
    for (auto it = entries_.begin(); it != entries_.end();) {
      // The close is taken only when the device's thread holds nothing, so its join is short.
      if (it->backend.outputClose(it->device) == kAudioOk) {
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex lock_;  // guards entries_
  std::vector<Entry> entries_;
};

StalledOutputs& Stalled() {
  static StalledOutputs owner;
  return owner;
}

}  // namespace

CWavOut::CWavOut() : CWavOut(CurrentAudioBackend()) {}

CWavOut::CWavOut(const AudioBackend& backend)
    : backend_(backend), format_(), core_(std::make_shared<Core>()) {}

CWavOut::~CWavOut() { Close(); }

int CWavOut::StalledDevices() { return Stalled().Retry(); }

int CWavOut::Open() {
  Stalled().Retry();
  Core& core = *core_;
  {
    std::lock_guard<std::mutex> hold(core.lock);
    if (core.device != nullptr) return 1;
  }
  AudioOutput* device = nullptr;
  if (backend_.outputOpen(format_, &Core::OnDone, &core, &device) != kAudioOk ||
      device == nullptr) {
    return 0;
  }
  std::lock_guard<std::mutex> hold(core.lock);
  core.device = device;
  core.freeHead = 0;
  core.freeCount = 0;
  core.accepting = true;
  for (Core::Buffer& b : core.buffers) {
    b.header.data = b.data;
    b.header.length = kPcmChunkBytes;
    b.header.flags = 0;
    PrepareAudioBuffer(&b.header);
    core.PushFree(&b.header);
  }
  return 1;
}

void CWavOut::Write(const uint8_t* chunk) {
  Core& core = *core_;
  AudioBuffer* header = nullptr;
  AudioOutput* device = nullptr;
  {
    std::lock_guard<std::mutex> hold(core.lock);
    if (core.freeCount == 0) {
      ++core.dropped;
      return;
    }
    header = core.freeList[core.freeHead];
    core.freeHead = (core.freeHead + 1) % kBufferCount;
    --core.freeCount;
    device = core.device;
  }
  // The copy and the hand-over to the device happen outside the lock: the device's completion
  // takes it.
  std::memcpy(header->data, chunk, kPcmChunkBytes);
  header->length = kPcmChunkBytes;
  if (backend_.outputWrite(device, header) != kAudioOk) {
    // A refused buffer never comes back by itself: keep it free rather than lose it.
    std::lock_guard<std::mutex> hold(core.lock);
    if (core.accepting) core.PushFree(header);
    ++core.dropped;
    return;
  }
  std::lock_guard<std::mutex> hold(core.lock);
  ++core.written;
}

void CWavOut::Close() {
  Core& core = *core_;
  {
    std::lock_guard<std::mutex> hold(core.lock);
    if (core.device == nullptr) return;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitMillis);
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(core.lock);
      if (core.freeCount == kBufferCount) break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;  // a device that keeps buffers
    std::this_thread::sleep_for(std::chrono::milliseconds(kClosePollMillis));
  }
  AudioOutput* device = nullptr;
  {
    std::lock_guard<std::mutex> hold(core.lock);
    core.freeHead = 0;
    core.freeCount = 0;
    core.accepting = false;
    device = core.device;
  }
  // Reset hands back whatever the device still holds; only then are the buffers ours again.
  backend_.outputReset(device);
  for (Core::Buffer& b : core.buffers) UnprepareAudioBuffer(&b.header);
  if (backend_.outputClose(device) != kAudioOk) {
    // The device's thread still holds a buffer: the core stays with the device until it lets
    // go, and this object goes on with a fresh one.
    auto fresh = std::make_shared<Core>();
    {
      std::lock_guard<std::mutex> hold(core.lock);
      fresh->written = core.written;
      fresh->dropped = core.dropped;
    }
    Stalled().Adopt(backend_, device, std::move(core_));
    core_ = std::move(fresh);
    return;
  }
  std::lock_guard<std::mutex> hold(core.lock);
  core.device = nullptr;
}

bool CWavOut::isOpen() const {
  std::lock_guard<std::mutex> hold(core_->lock);
  return core_->device != nullptr;
}

int CWavOut::freeCount() const {
  std::lock_guard<std::mutex> hold(core_->lock);
  return core_->freeCount;
}

int64_t CWavOut::writtenChunks() const {
  std::lock_guard<std::mutex> hold(core_->lock);
  return core_->written;
}

int64_t CWavOut::droppedChunks() const {
  std::lock_guard<std::mutex> hold(core_->lock);
  return core_->dropped;
}

}  // namespace rovik::player
