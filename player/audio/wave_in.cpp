#include "player/audio/wave_in.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/debug_log.h"
#include "platform/thread_queue.h"

namespace rovik::player {

namespace {

// The capture path's lines on the debugger output.
void Say(const char* line) { rovik::platform::DebugLog("QXPlayDll", line); }

// The capture thread's messages: quit, and the device's notices (opened, closed, a buffer
// returned with what was captured).
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kMmWimOpen = 0x03BE;
constexpr uint32_t kMmWimClose = 0x03BF;
constexpr uint32_t kMmWimData = 0x03C0;

}  // namespace

// Everything the message thread touches. The thread holds its own reference, so a thread that is
// still inside a receiver when Stop gives up waiting never reaches freed memory.
struct CWaveIn::Core {
  const AudioBackend* backend = nullptr;
  rovik::platform::ThreadQueue queue;  // the message thread's queue

  std::mutex lock;  // guards quit, ended, device, receiver, context, libraryReceiver, userValue
  std::condition_variable finished;  // the thread has ended
  bool quit = false;   // Stop has begun: nothing more is delivered or given back to the device
  bool ended = false;  // the thread has left its loop
  AudioInput* device = nullptr;
  Receiver receiver = nullptr;
  void* context = nullptr;
  LibraryReceiver libraryReceiver = nullptr;
  intptr_t userValue = 0;

  // The buffers lent to the device; only the message thread and the owner's start and stop
  // touch them, never at the same time as the device holds them.
  AudioBuffer headers[kBufferCount];
  uint8_t buffers[kBufferCount][kPcmChunkBytes] = {};

  static void OnNotice(void* context, AudioInputEvent event, AudioBuffer* buffer) {
    auto* core = static_cast<Core*>(context);
    switch (event) {
      case AudioInputEvent::kOpen:
        core->queue.Post(kMmWimOpen);
        break;
      case AudioInputEvent::kClose:
        core->queue.Post(kMmWimClose);
        break;
      case AudioInputEvent::kData:
        core->queue.Post(kMmWimData, 0, reinterpret_cast<intptr_t>(buffer));
        break;
    }
  }

  static void ForwardToLibrary(const uint8_t* bytes, int length, void* context) {
    auto* core = static_cast<Core*>(context);
    LibraryReceiver forward = nullptr;
    intptr_t user = 0;
    {
      std::lock_guard<std::mutex> hold(core->lock);
      forward = core->libraryReceiver;
      user = core->userValue;
    }
    if (forward != nullptr) forward(bytes, length, user);
  }

  void Deliver(const uint8_t* bytes, int length) {
    Receiver to = nullptr;
    void* ctx = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (quit) return;
      to = receiver;
      ctx = context;
    }
    if (to != nullptr) to(bytes, length, ctx);
  }

  void OnData(AudioBuffer* b) {
    // A buffer that comes back short (the device was stopped or reset) is not given back.
    if (b == nullptr || b->bytesRecorded != kPcmChunkBytes) return;
    UnprepareAudioBuffer(b);
    uint8_t chunk[kPcmChunkBytes];
    std::memcpy(chunk, b->data, kPcmChunkBytes);
    Deliver(chunk, kPcmChunkBytes);
    std::lock_guard<std::mutex> hold(lock);
    if (quit || device == nullptr) return;
    PrepareAudioBuffer(b);
    backend->inputAddBuffer(device, b);
  }

  void Run() {
    pthread_setname_np(pthread_self(), "audio-capture");
    for (;;) {
      const std::optional<rovik::platform::ThreadMessage> m = queue.Get();
      if (!m || m->message == kWmQuit) break;
      switch (m->message) {
        case kMmWimOpen:
          Say("AudioInThreadProc MM_WIM_OPEN\n");
          break;
        case kMmWimClose:
          Say("AudioInThreadProc MM_WIM_CLOSE\n");
          break;
        case kMmWimData:
          OnData(reinterpret_cast<AudioBuffer*>(m->lParam));
          break;
        default:
          break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard<std::mutex> hold(lock);
    ended = true;
    finished.notify_all();
  }
};

namespace {

// The owner of capture threads whose Stop stopped waiting for them: it joins each once it has
// ended, and the rest when the process ends.
class Reaper {
 public:
  ~Reaper() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& l : lingering_) {
      if (l.thread.joinable() && l.thread.get_id() != std::this_thread::get_id()) l.thread.join();
    }
  }

  void Adopt(std::thread thread, std::shared_ptr<CWaveIn::Core> core) {
    std::lock_guard<std::mutex> hold(lock_);
    lingering_.push_back(Lingering{std::move(thread), std::move(core)});
  }

  int Reap() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = lingering_.begin(); it != lingering_.end();) {
      bool ended = false;
      {
        std::lock_guard<std::mutex> coreHold(it->core->lock);
        ended = it->core->ended;
      }
      if (ended && it->thread.get_id() != std::this_thread::get_id()) {
        it->thread.join();
        it = lingering_.erase(it);
      } else {
        ++it;
      }
    }
    return static_cast<int>(lingering_.size());
  }

 private:
  struct Lingering {
    std::thread thread;
    std::shared_ptr<CWaveIn::Core> core;
  };
  std::mutex lock_;  // guards lingering_
  std::vector<Lingering> lingering_;
};

Reaper& TheReaper() {
  static Reaper reaper;
  return reaper;
}

}  // namespace

CWaveIn::CWaveIn() : CWaveIn(CurrentAudioBackend()) {}

CWaveIn::CWaveIn(const AudioBackend& backend) : backend_(backend), core_(std::make_shared<Core>()) {
  core_->backend = &backend_;
}

CWaveIn::~CWaveIn() { Stop(); }

void CWaveIn::SetLibraryReceiver(LibraryReceiver receiver, intptr_t userValue) {
  std::lock_guard<std::mutex> hold(core_->lock);
  core_->libraryReceiver = receiver;
  core_->userValue = userValue;
}

void CWaveIn::Start() { Start(&Core::ForwardToLibrary, core_.get()); }

void CWaveIn::Start(Receiver receiver, void* context) {
  TheReaper().Reap();
  {
    std::lock_guard<std::mutex> hold(core_->lock);
    core_->receiver = receiver;
    core_->context = context;
  }
  if (!threadStarted_) {
    if (coreLingering_ || core_->queue.IsClosed()) {
      // The last thread's core is spent (and may still belong to a late thread): start afresh.
      auto fresh = std::make_shared<Core>();
      fresh->backend = &backend_;
      {
        std::lock_guard<std::mutex> hold(core_->lock);
        fresh->receiver = core_->receiver;
        fresh->context = core_->context == core_.get() ? fresh.get() : core_->context;
        fresh->libraryReceiver = core_->libraryReceiver;
        fresh->userValue = core_->userValue;
      }
      core_ = std::move(fresh);
      coreLingering_ = false;
    }
    bool started = true;
    try {
      thread_ = std::thread([core = core_] { core->Run(); });
    } catch (const std::system_error&) {
      started = false;
    }
    if (!started) {
      Say("wavin ini 2 err\n");
      startRequested_ = true;
      return;  // no thread, so no device was opened: nothing to start
    }
    threadStarted_ = true;
  }
  if (!OpenDevice()) {
    Say("wavin ini 3 err\n");
    StopThread();
  }
  if (!PrepareBuffers()) {
    Say("wavin ini 4 err\n");
    if (deviceOpen_) CloseDevice();
  }
  Say("wavin ok \n");
  if (!capturing_ && deviceOpen_) {
    lastResult_ = backend_.inputStart(core_->device);
    if (lastResult_ == kAudioOk) capturing_ = true;
  }
  startRequested_ = true;
}

bool CWaveIn::OpenDevice() {
  if (deviceOpen_) return true;
  const unsigned count = backend_.inputDeviceCount();
  if (count == 0) {
    lastResult_ = kAudioBadDevice;
    return false;
  }
  AudioDeviceCaps caps;
  for (unsigned i = 0; i < count; ++i) {
    lastResult_ = backend_.inputDeviceCaps(i, &caps);
    if (lastResult_ != kAudioOk) return false;
  }
  const AudioFormat format;
  lastResult_ = backend_.inputQueryFormat(0, format);
  if (lastResult_ != kAudioOk) return false;
  AudioInput* device = nullptr;
  lastResult_ = backend_.inputOpen(0, format, &Core::OnNotice, core_.get(), &device);
  if (lastResult_ != kAudioOk || device == nullptr) return false;
  std::lock_guard<std::mutex> hold(core_->lock);
  core_->device = device;
  deviceOpen_ = true;
  return true;
}

bool CWaveIn::PrepareBuffers() {
  if (buffersPrepared_) return true;
  if (!deviceOpen_) {
    lastResult_ = kAudioInvalidParam;  // resetting a device that is not open fails
    return false;
  }
  lastResult_ = backend_.inputReset(core_->device);
  if (lastResult_ != kAudioOk) return false;
  for (int i = 0; i < kBufferCount; ++i) {
    AudioBuffer& h = core_->headers[i];
    h.flags = 0;
    h.bytesRecorded = 0;
    h.user = i;
    h.data = core_->buffers[i];
    h.length = kPcmChunkBytes;
    lastResult_ = PrepareAudioBuffer(&h);
    if (lastResult_ != kAudioOk) return false;
    lastResult_ = backend_.inputAddBuffer(core_->device, &h);
    if (lastResult_ != kAudioOk) return false;
  }
  buffersPrepared_ = true;
  return true;
}

void CWaveIn::Stop() {
  if (capturing_) {
    if (backend_.inputStop(core_->device) == kAudioOk) capturing_ = false;
    if (capturing_ && backend_.inputStop(core_->device) == kAudioOk) capturing_ = false;
  }
  StopThread();
  ReleaseBuffers();
  CloseDevice();
  capturing_ = false;
}

void CWaveIn::StopThread() {
  if (!threadStarted_) return;
  {
    std::lock_guard<std::mutex> hold(core_->lock);
    core_->quit = true;
  }
  core_->queue.Post(kWmQuit);
  core_->queue.Close();  // nothing posted later is waited for; a late thread sees the end
  bool ended = false;
  if (thread_.get_id() == std::this_thread::get_id()) {
    // Stopped from its own receiver (a callback that calls the stop): the thread cannot end
    // before this returns, so it is not waited for; it ends as soon as its receiver returns.
  } else {
    std::unique_lock<std::mutex> hold(core_->lock);
    ended =
        core_->finished.wait_for(hold, std::chrono::milliseconds(kStopChecks * kStopCheckMillis),
                                 [this] { return core_->ended; });
  }
  if (ended) {
    thread_.join();
  } else {
    // The thread is inside a receiver that does not return: it is never killed (it may hold a
    // lock); it delivers nothing more and is joined by the reaper once it has ended.
    TheReaper().Adopt(std::move(thread_), core_);
    coreLingering_ = true;
  }
  threadStarted_ = false;
}

void CWaveIn::ReleaseBuffers() {
  if (!buffersPrepared_) return;
  backend_.inputReset(core_->device);
  for (AudioBuffer& h : core_->headers) {
    if (UnprepareAudioBuffer(&h) != kAudioOk) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  buffersPrepared_ = false;
}

void CWaveIn::CloseDevice() {
  if (!deviceOpen_) return;
  AudioInput* device = nullptr;
  {
    std::lock_guard<std::mutex> hold(core_->lock);
    device = core_->device;
  }
  // Buffers still queued (a start that failed half-way) are taken back first.
  if (backend_.inputClose(device) == kAudioStillPlaying) {
    backend_.inputReset(device);
    backend_.inputClose(device);
  }
  std::lock_guard<std::mutex> hold(core_->lock);
  core_->device = nullptr;
  deviceOpen_ = false;
}

bool CWaveIn::threadStarted() const { return threadStarted_; }
bool CWaveIn::deviceOpen() const { return deviceOpen_; }
bool CWaveIn::buffersPrepared() const { return buffersPrepared_; }
bool CWaveIn::capturing() const { return capturing_; }
bool CWaveIn::startRequested() const { return startRequested_; }
int CWaveIn::lastResult() const { return lastResult_; }

int CWaveIn::LingeringThreads() { return TheReaper().Reap(); }

}  // namespace rovik::player
