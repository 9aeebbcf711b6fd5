// CWaveIn: microphone capture for talk-back. Opens input device 0 at 8 kHz 16-bit mono with ten
// 640-byte buffers and a message thread of its own; every full chunk is delivered to the receiver.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "player/audio/backends/audio_backend.h"
#include "player/media/pcm_format.h"

namespace rovik::player {

class CWaveIn {
 public:
  // Where delivered chunks go: (bytes, length, context). The bytes are valid during the call only.
  using Receiver = void (*)(const uint8_t* bytes, int length, void* context);
  // The library's capture forwarder: (bytes, length, user value).
  using LibraryReceiver = void (*)(const uint8_t* bytes, int length, intptr_t userValue);

  static constexpr int kBufferCount = 10;
  static constexpr int kStopChecks = 50;       // the stop looks this often for the thread's end,
  static constexpr int kStopCheckMillis = 10;  // this far apart (about 500 ms in all)

  CWaveIn();  // on the process's back end
  explicit CWaveIn(const AudioBackend& backend);
  CWaveIn(const CWaveIn&) = delete;
  CWaveIn& operator=(const CWaveIn&) = delete;
  virtual ~CWaveIn();  // stops

  // The receiver the library chains after the object's own: set before Start.
  void SetLibraryReceiver(LibraryReceiver receiver, intptr_t userValue);
  // Starts capture with chunks delivered to the library receiver.
  void Start();
  // Starts capture with chunks delivered to receiver(bytes, 640, context).
  void Start(Receiver receiver, void* context);
  // Stops capture; returns within about half a second even when a receiver is still busy.
  void Stop();

  bool threadStarted() const;
  bool deviceOpen() const;
  bool buffersPrepared() const;
  bool capturing() const;
  bool startRequested() const;
  int lastResult() const;

  // Capture threads that outlived their Stop (a receiver was still busy) and have not yet been
  // joined; joins those that ended meanwhile. Such threads deliver nothing more.
  static int LingeringThreads();

  struct Core;  // what the message thread uses; shared so that it outlives a late thread

 private:
  bool OpenDevice();
  bool PrepareBuffers();
  void StopThread();
  void ReleaseBuffers();
  void CloseDevice();

  const AudioBackend& backend_;
  std::shared_ptr<Core> core_;
  std::thread thread_;          // the message thread; joined by Stop, or handed to the reaper
  bool coreLingering_ = false;  // core_ still belongs to a thread the reaper waits for
  bool threadStarted_ = false;
  bool deviceOpen_ = false;
  bool buffersPrepared_ = false;
  bool capturing_ = false;
  bool startRequested_ = false;
  int lastResult_ = 0;
};

}  // namespace rovik::player
