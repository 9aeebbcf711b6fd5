// The null back end: no sound card. Output consumes queued chunks at real-time pace (40 ms each)
// and completes them; input fills each queued buffer with 40 ms of silence every 40 ms.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "player/audio/backends/audio_backend.h"
#include "player/audio/backends/audio_queue.h"
#include "player/audio/backends/device_calls.h"

namespace rovik::player {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::microseconds DurationOf(const AudioBuffer* b) {
  return std::chrono::microseconds(static_cast<int64_t>(b->length) * 1000000 / kPcmBytesPerSecond);
}

}  // namespace

namespace {

struct NullOutput final : AudioOutput {
  AudioOutputDone done = nullptr;
  void* context = nullptr;
  std::thread player;  // started by open, joined by close

  std::mutex lock;  // guards queue, quit, playing, playingUntil
  std::condition_variable changed;
  AudioQueue queue;
  bool quit = false;
  AudioBuffer* playing = nullptr;    // the front buffer once its playing time is set
  Clock::time_point playingUntil{};  // when it will have been played

  void Run() {
    std::unique_lock<std::mutex> hold(lock);
    while (!quit) {
      if (queue.empty()) {
        changed.wait(hold);
        continue;
      }
      AudioBuffer* front = queue.front();
      const auto now = Clock::now();
      if (front != playing) {
        // A new buffer starts where the last one ended, or now when the device ran dry.
        playing = front;
        playingUntil = std::max(playingUntil, now) + DurationOf(front);
      }
      if (now < playingUntil) {
        changed.wait_until(hold, playingUntil);
        continue;  // woken early: reset or close may have taken the buffer
      }
      playing = nullptr;
      queue.pop();
      ReturnAudioBuffer(front);
      hold.unlock();
      done(context, front);
      hold.lock();
    }
  }
};

struct NullInput final : AudioInput {
  AudioInputNotify notify = nullptr;
  void* context = nullptr;
  std::thread recorder;  // started by open, joined by close

  std::mutex lock;  // guards queue, quit, running, nextTick
  std::condition_variable changed;
  AudioQueue queue;
  bool quit = false;
  bool running = false;
  Clock::time_point nextTick{};

  void Run() {
    std::unique_lock<std::mutex> hold(lock);
    while (!quit) {
      if (!running) {
        changed.wait(hold);
        continue;
      }
      const auto now = Clock::now();
      if (now < nextTick) {
        changed.wait_until(hold, nextTick);
        continue;
      }
      nextTick += std::chrono::milliseconds(kPcmChunkMillis);
      if (nextTick < now) nextTick = now + std::chrono::milliseconds(kPcmChunkMillis);
      AudioBuffer* b = queue.pop();
      if (b == nullptr) continue;  // no buffer queued: these 40 ms are lost, as on a real device
      std::memset(b->data, 0, b->length);
      b->bytesRecorded = b->length;
      ReturnAudioBuffer(b);
      hold.unlock();
      notify(context, AudioInputEvent::kData, b);
      hold.lock();
    }
  }
};

int OutputOpen(const AudioFormat& format, AudioOutputDone done, void* context, AudioOutput** out) {
  if (int r = CheckOutputOpen(format, done, out); r != kAudioOk) return r;
  auto* device = new NullOutput;
  device->done = done;
  device->context = context;
  device->player = std::thread(&NullOutput::Run, device);
  *out = device;
  return kAudioOk;
}

int OutputWrite(AudioOutput* handle, AudioBuffer* buffer) {
  return LendToDevice<NullOutput>(handle, buffer, false);
}

int OutputReset(AudioOutput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<NullOutput*>(handle);
  AudioQueue returned;
  {
    std::lock_guard<std::mutex> hold(device->lock);
    TakeBackAll(device->queue, returned);
    device->playing = nullptr;  // what was queued is discarded unplayed
    device->playingUntil = Clock::now();
    device->changed.notify_all();
  }
  ReportOutputReturns(device, returned);
  return kAudioOk;
}

int OutputClose(AudioOutput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<NullOutput*>(handle);
  if (int r = EndDeviceThread(device, device->player, [](const NullOutput&) { return false; });
      r != kAudioOk) {
    return r;
  }
  delete device;
  return kAudioOk;
}

unsigned InputDeviceCount() { return 1; }

int InputDeviceCaps(unsigned device, AudioDeviceCaps* caps) {
  return InputCapsNamed(device, caps, "Null capture");
}

int InputQueryFormat(unsigned device, const AudioFormat& format) {
  if (device != 0) return kAudioBadDevice;
  return IsPlayerPcmFormat(format) ? kAudioOk : kAudioBadFormat;
}

int InputOpen(unsigned device, const AudioFormat& format, AudioInputNotify notify, void* context,
              AudioInput** out) {
  if (int r = CheckInputOpen(device, format, notify, out); r != kAudioOk) return r;
  auto* input = new NullInput;
  input->notify = notify;
  input->context = context;
  input->recorder = std::thread(&NullInput::Run, input);
  *out = input;
  notify(context, AudioInputEvent::kOpen, nullptr);
  return kAudioOk;
}

int InputAddBuffer(AudioInput* handle, AudioBuffer* buffer) {
  return LendToDevice<NullInput>(handle, buffer, true);
}

int InputStart(AudioInput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<NullInput*>(handle);
  std::lock_guard<std::mutex> hold(device->lock);
  if (!device->running) {
    device->running = true;
    device->nextTick = Clock::now() + std::chrono::milliseconds(kPcmChunkMillis);
    device->changed.notify_all();
  }
  return kAudioOk;
}

int InputStop(AudioInput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<NullInput*>(handle);
  std::lock_guard<std::mutex> hold(device->lock);
  device->running = false;
  device->changed.notify_all();
  return kAudioOk;
}

int InputReset(AudioInput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<NullInput*>(handle);
  AudioQueue returned;
  {
    std::lock_guard<std::mutex> hold(device->lock);
    device->running = false;
    TakeBackAll(device->queue, returned, true);
    device->changed.notify_all();
  }
  ReportInputReturns(device, returned);
  return kAudioOk;
}

int InputClose(AudioInput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<NullInput*>(handle);
  if (int r = EndDeviceThread(device, device->recorder, [](const NullInput&) { return false; });
      r != kAudioOk) {
    return r;
  }
  device->notify(device->context, AudioInputEvent::kClose, nullptr);
  delete device;
  return kAudioOk;
}

const AudioBackend kNullBackend = {
    "null",           OutputOpen,      OutputWrite,      OutputReset, OutputClose,
    InputDeviceCount, InputDeviceCaps, InputQueryFormat, InputOpen,   InputAddBuffer,
    InputStart,       InputStop,       InputReset,       InputClose,
};

}  // namespace

const AudioBackend& NullAudioBackend() { return kNullBackend; }

}  // namespace rovik::player
