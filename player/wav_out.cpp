#include "player/wav_out.h"

#include <chrono>
#include <cstring>
#include <thread>

CWavOut::CWavOut() : CWavOut(CurrentAudioBackend()) {}

CWavOut::CWavOut(const AudioBackend& backend) : backend_(backend), format_() {
  for (Buffer& b : buffers_) {
    b.header.data = b.data;
    b.header.length = kPcmChunkBytes;
  }
}

CWavOut::~CWavOut() { Close(); }

void CWavOut::PushFree(AudioBuffer* header) {
  freeList_[(freeHead_ + freeCount_) % kBufferCount] = header;
  ++freeCount_;
}

int CWavOut::Open() {
  if (device_ != nullptr) return 1;
  AudioOutput* device = nullptr;
  if (backend_.outputOpen(format_, &CWavOut::OnDone, this, &device) != kAudioOk ||
      device == nullptr) {
    return 0;
  }
  std::lock_guard<std::mutex> hold(lock_);
  device_ = device;
  freeHead_ = 0;
  freeCount_ = 0;
  accepting_ = true;
  for (Buffer& b : buffers_) {
    b.header.data = b.data;
    b.header.length = kPcmChunkBytes;
    b.header.flags = 0;
    PrepareAudioBuffer(&b.header);
    PushFree(&b.header);
  }
  return 1;
}

void CWavOut::OnDone(void* context, AudioBuffer* buffer) {
  auto* self = static_cast<CWavOut*>(context);
  std::lock_guard<std::mutex> hold(self->lock_);
  if (self->accepting_ && self->freeCount_ < kBufferCount) self->PushFree(buffer);
}

void CWavOut::Write(const uint8_t* chunk) {
  AudioBuffer* header = nullptr;
  AudioOutput* device = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (freeCount_ == 0) {
      ++dropped_;
      return;
    }
    header = freeList_[freeHead_];
    freeHead_ = (freeHead_ + 1) % kBufferCount;
    --freeCount_;
    device = device_;
  }
  // The copy and the hand-over to the device happen outside the lock: the device's completion
  // takes it.
  std::memcpy(header->data, chunk, kPcmChunkBytes);
  header->length = kPcmChunkBytes;
  if (backend_.outputWrite(device, header) != kAudioOk) {
    // A refused buffer never comes back by itself: keep it free rather than lose it.
    std::lock_guard<std::mutex> hold(lock_);
    if (accepting_) PushFree(header);
    ++dropped_;
    return;
  }
  std::lock_guard<std::mutex> hold(lock_);
  ++written_;
}

void CWavOut::Close() {
  if (device_ == nullptr) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitMillis);
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (freeCount_ == kBufferCount) break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;  // a device that keeps buffers
    std::this_thread::sleep_for(std::chrono::milliseconds(kClosePollMillis));
  }
  AudioOutput* device = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    freeHead_ = 0;
    freeCount_ = 0;
    accepting_ = false;
    device = device_;
  }
  // Reset hands back whatever the device still holds; only then are the buffers ours again.
  backend_.outputReset(device);
  for (Buffer& b : buffers_) UnprepareAudioBuffer(&b.header);
  backend_.outputClose(device);
  std::lock_guard<std::mutex> hold(lock_);
  device_ = nullptr;
}

bool CWavOut::isOpen() const {
  std::lock_guard<std::mutex> hold(lock_);
  return device_ != nullptr;
}

int CWavOut::freeCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return freeCount_;
}

int64_t CWavOut::writtenChunks() const {
  std::lock_guard<std::mutex> hold(lock_);
  return written_;
}

int64_t CWavOut::droppedChunks() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dropped_;
}
