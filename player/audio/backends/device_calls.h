// The table calls every back end makes alike, over its own device types: the checks of an open,
// the capabilities of its one input device, lending a buffer to a device, reporting buffers
// given back, and ending a device's thread at close. A device type has `lock` (guarding `queue`
// and `quit`), `changed` (wakes its thread), and `done` (outputs) or `notify` (inputs) with
// their `context`.
#pragma once

#include <cstring>
#include <mutex>
#include <thread>

#include "player/audio/backends/audio_backend.h"
#include "player/audio/backends/audio_queue.h"

namespace rovik::player {

// The arguments of an output open: kAudioOk, or the code refusing them.
inline int CheckOutputOpen(const AudioFormat& format, AudioOutputDone done, AudioOutput** out) {
  if (out == nullptr || done == nullptr) return kAudioInvalidParam;
  return IsPlayerPcmFormat(format) ? kAudioOk : kAudioBadFormat;
}

// The arguments of an input open (device 0 is the only one): kAudioOk, or the refusing code.
inline int CheckInputOpen(unsigned device, const AudioFormat& format, AudioInputNotify notify,
                          AudioInput** out) {
  if (device != 0) return kAudioBadDevice;
  if (out == nullptr || notify == nullptr) return kAudioInvalidParam;
  return IsPlayerPcmFormat(format) ? kAudioOk : kAudioBadFormat;
}

// The capabilities of input device 0: `name`, one channel.
inline int InputCapsNamed(unsigned device, AudioDeviceCaps* caps, const char* name) {
  if (device != 0) return kAudioBadDevice;
  if (caps == nullptr) return kAudioInvalidParam;
  std::memset(caps->name, 0, sizeof caps->name);
  std::strncpy(caps->name, name, sizeof caps->name - 1);
  caps->channels = 1;
  return kAudioOk;
}

// Lends `buffer` to the device and wakes its thread (an output's write, an input's added buffer,
// which starts empty).
template <typename Device, typename Handle>
int LendToDevice(Handle* handle, AudioBuffer* buffer, bool forCapture) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<Device*>(handle);
  std::lock_guard<std::mutex> hold(device->lock);
  if (int r = QueueLentBuffer(device->queue, buffer, forCapture); r != kAudioOk) return r;
  device->changed.notify_all();
  return kAudioOk;
}

// Reports the buffers a reset gave back, in order, with no lock held: completions of an output.
template <typename Device>
void ReportOutputReturns(Device* device, AudioQueue& returned) {
  while (AudioBuffer* b = returned.pop()) device->done(device->context, b);
}

// The same for an input: each buffer comes back as a data notice.
template <typename Device>
void ReportInputReturns(Device* device, AudioQueue& returned) {
  while (AudioBuffer* b = returned.pop()) {
    device->notify(device->context, AudioInputEvent::kData, b);
  }
}

// Ends the device's thread and waits for it, unless buffers are still lent to the device (its
// queue, or what `busy` says it holds besides): kAudioStillPlaying then, and nothing changes.
template <typename Device, typename Busy>
int EndDeviceThread(Device* device, std::thread& thread, Busy busy) {
  {
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->queue.empty() || busy(*device)) return kAudioStillPlaying;
    device->quit = true;
    device->changed.notify_all();
  }
  thread.join();
  return kAudioOk;
}

}  // namespace rovik::player
