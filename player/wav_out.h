// CWavOut: the playback device with its 16 chunk buffers. The feeder writes one chunk at a time;
// a chunk is dropped when all 16 buffers are queued on the device, so playback never lags by
// more than 16 chunks (640 ms).
#pragma once

#include <cstdint>
#include <mutex>

#include "player/backends/audio_backend.h"
#include "player/pcm_format.h"

class CWavOut {
 public:
  static constexpr int kBufferCount = 16;
  // How long Close waits for buffers a device never returns before it takes them back by force.
  static constexpr int kCloseWaitMillis = 2000;
  static constexpr int kClosePollMillis = 80;

  CWavOut();  // on the process's back end
  explicit CWavOut(const AudioBackend& backend);
  CWavOut(const CWavOut&) = delete;
  CWavOut& operator=(const CWavOut&) = delete;
  virtual ~CWavOut();

  // Opens the device and puts the 16 buffers on the free list. 1 when open (or already open),
  // 0 when the device could not be opened.
  int Open();
  // Queues one 640-byte chunk, or drops it when no buffer is free (also while closed).
  void Write(const uint8_t* chunk);
  // Waits for the queued buffers (at most kCloseWaitMillis), then resets and closes the device.
  void Close();

  bool isOpen() const;
  int freeCount() const;
  int64_t writtenChunks() const;
  int64_t droppedChunks() const;

 private:
  struct Buffer {
    AudioBuffer header;
    uint8_t data[kPcmChunkBytes];
  };

  static void OnDone(void* context, AudioBuffer* buffer);
  void PushFree(AudioBuffer* header);  // lock_ held

  const AudioBackend& backend_;
  const AudioFormat format_;
  Buffer buffers_[kBufferCount];
  AudioOutput* device_ = nullptr;  // set by Open/Close on the owner's thread; read under lock_

  mutable std::mutex lock_;  // guards freeList_, freeHead_, freeCount_, accepting_, written_,
                             // dropped_ and the reads of device_ by Write
  AudioBuffer* freeList_[kBufferCount] = {};
  int freeHead_ = 0;
  int freeCount_ = 0;
  bool accepting_ = false;  // completions return buffers to the free list only while open
  int64_t written_ = 0;
  int64_t dropped_ = 0;
};
