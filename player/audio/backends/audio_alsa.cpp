// The ALSA back end: the PCM named by AlsaDeviceName() ("default"), 8000 Hz S16_LE mono with
// 40 ms periods. An output device that does not offer 8000 Hz (a named hw: device) is opened at
// its nearest rate, and the chunks are converted to it. A writer thread hands each queued chunk to
// the device and completes it once the device has taken it; a reader thread fills queued capture
// buffers one period at a time.
#include <alsa/asoundlib.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "player/audio/backends/audio_backend.h"
#include "player/audio/backends/audio_queue.h"
#include "player/audio/backends/device_calls.h"
#include "player/audio/backends/rate_converter.h"

namespace rovik::player {

namespace {

constexpr int kWaitMillis = 100;  // longest a device thread waits before looking at its flags

// ALSA writes its complaints to stderr by default; the library keeps stderr for its own lines.
void QuietErrors(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&QuietErrors); });
}

// `rate` is the rate wanted; a playback device may settle on its nearest one, written back.
int Configure(snd_pcm_t* pcm, bool playback, unsigned* rate) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  if (snd_pcm_hw_params_any(pcm, hw) < 0) return kAudioError;
  int rateDir = 0;
  if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
      snd_pcm_hw_params_set_channels(pcm, hw, kPcmChannels) < 0 ||
      (playback ? snd_pcm_hw_params_set_rate_near(pcm, hw, rate, &rateDir)
                : snd_pcm_hw_params_set_rate(pcm, hw, *rate, 0)) < 0 ||
      *rate == 0) {
    return kAudioBadFormat;
  }
  const snd_pcm_uframes_t chunkFrames = kPcmChunkFrames * *rate / kPcmSampleRate;
  snd_pcm_uframes_t period = chunkFrames;
  int dir = 0;
  snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
  snd_pcm_uframes_t size = period * 4;
  snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &size);
  if (snd_pcm_hw_params(pcm, hw) < 0) return kAudioBadFormat;
  if (playback) {
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_sw_params_current(pcm, sw) == 0) {
      snd_pcm_sw_params_set_start_threshold(pcm, sw, chunkFrames);
      snd_pcm_sw_params(pcm, sw);
    }
  }
  return kAudioOk;
}

int OpenPcm(snd_pcm_stream_t stream, snd_pcm_t** out, unsigned* rate = nullptr) {
  SilenceAlsa();
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, AlsaDeviceName(), stream, 0) < 0) return kAudioBadDevice;
  unsigned settled = kPcmSampleRate;
  if (int r = Configure(pcm, stream == SND_PCM_STREAM_PLAYBACK, &settled); r != kAudioOk) {
    snd_pcm_close(pcm);
    return r;
  }
  if (rate != nullptr) *rate = settled;
  *out = pcm;
  return kAudioOk;
}

}  // namespace

namespace {

struct AlsaOutput final : AudioOutput {
  explicit AlsaOutput(unsigned deviceRate)
      : rate(deviceRate), converter(kPcmSampleRate, deviceRate) {}

  snd_pcm_t* pcm = nullptr;  // used by the writer thread only, until close has joined it
  // The device's rate; chunks are converted to it when it is not the player's. Used by the
  // writer thread only.
  const unsigned rate;
  RateConverter converter;
  std::vector<int16_t> samples;    // a chunk's samples, aligned
  std::vector<int16_t> converted;  // at the device's rate; both keep their room
  AudioOutputDone done = nullptr;
  void* context = nullptr;
  std::thread writer;  // started by open, joined by close

  std::mutex lock;  // guards queue, current, quit
  std::condition_variable changed;
  AudioQueue queue;
  AudioBuffer* current = nullptr;  // being written to the device
  bool quit = false;

  void Play(const AudioBuffer* b) {
    const auto* bytes = static_cast<const uint8_t*>(b->data);
    snd_pcm_uframes_t left = b->length / 2;
    if (rate != static_cast<unsigned>(kPcmSampleRate)) {
      samples.resize(left);
      std::memcpy(samples.data(), bytes, left * 2);
      converter.Convert(samples.data(), samples.size(), converted);
      bytes = reinterpret_cast<const uint8_t*>(converted.data());
      left = converted.size();
    }
    int failures = 0;
    while (left > 0 && failures < 3) {
      if (snd_pcm_wait(pcm, kWaitMillis) < 0) snd_pcm_recover(pcm, -EPIPE, 1);
      snd_pcm_sframes_t n = snd_pcm_writei(pcm, bytes, left);
      if (n == -EAGAIN || n == 0) continue;
      if (n < 0) {
        ++failures;
        if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) break;
        continue;
      }
      bytes += n * 2;
      left -= static_cast<snd_pcm_uframes_t>(n);
    }
  }

  void Run() {
    std::unique_lock<std::mutex> hold(lock);
    while (!quit) {
      if (queue.empty()) {
        changed.wait(hold);
        continue;
      }
      current = queue.pop();
      hold.unlock();
      Play(current);
      hold.lock();
      AudioBuffer* b = current;
      current = nullptr;
      ReturnAudioBuffer(b);
      hold.unlock();
      done(context, b);
      hold.lock();
      changed.notify_all();
    }
  }
};

struct AlsaInput final : AudioInput {
  snd_pcm_t* pcm = nullptr;  // used by the reader thread only, until close has joined it
  AudioInputNotify notify = nullptr;
  void* context = nullptr;
  std::thread reader;  // started by open, joined by close

  std::mutex lock;  // guards queue, current, quit, running, deviceRunning
  std::condition_variable changed;
  AudioQueue queue;
  AudioBuffer* current = nullptr;  // being filled by the device
  bool quit = false;
  bool running = false;
  bool deviceRunning = false;  // the reader's view: the PCM has been started

  // Fills b one period at a time while recording runs; returns the bytes filled.
  uint32_t Fill(AudioBuffer* b, std::unique_lock<std::mutex>& hold) {
    uint32_t got = 0;
    while (got + 2 <= b->length && running && !quit) {
      hold.unlock();
      snd_pcm_sframes_t n = 0;
      if (snd_pcm_wait(pcm, kWaitMillis) >= 0) {
        n = snd_pcm_readi(pcm, b->data + got, (b->length - got) / 2);
      }
      if (n < 0 && n != -EAGAIN && snd_pcm_recover(pcm, static_cast<int>(n), 1) == 0) {
        snd_pcm_start(pcm);
      }
      hold.lock();
      if (n > 0) got += static_cast<uint32_t>(n) * 2;
    }
    return got;
  }

  void Run() {
    std::unique_lock<std::mutex> hold(lock);
    while (!quit) {
      if (running && !deviceRunning) {
        snd_pcm_prepare(pcm);
        snd_pcm_start(pcm);
        deviceRunning = true;
      } else if (!running && deviceRunning) {
        snd_pcm_drop(pcm);
        deviceRunning = false;
        changed.notify_all();
      }
      if (!running || queue.empty()) {
        changed.wait(hold);
        continue;
      }
      current = queue.front();
      const uint32_t got = Fill(current, hold);
      AudioBuffer* b = current;
      current = nullptr;
      if (queue.front() != b) continue;  // reset took it back meanwhile
      queue.pop();
      b->bytesRecorded = got;
      ReturnAudioBuffer(b);
      hold.unlock();
      notify(context, AudioInputEvent::kData, b);
      hold.lock();
      changed.notify_all();
    }
    if (deviceRunning) snd_pcm_drop(pcm);
  }

  // Waits until the reader has let go of the buffer it was filling.
  void WaitIdle(std::unique_lock<std::mutex>& hold) {
    changed.wait_for(hold, std::chrono::milliseconds(4 * kWaitMillis),
                     [this] { return current == nullptr; });
  }
};

int OutputOpen(const AudioFormat& format, AudioOutputDone done, void* context, AudioOutput** out) {
  if (int r = CheckOutputOpen(format, done, out); r != kAudioOk) return r;
  snd_pcm_t* pcm = nullptr;
  unsigned rate = kPcmSampleRate;
  if (int r = OpenPcm(SND_PCM_STREAM_PLAYBACK, &pcm, &rate); r != kAudioOk) return r;
  auto* device = new AlsaOutput(rate);
  device->pcm = pcm;
  device->done = done;
  device->context = context;
  device->writer = std::thread(&AlsaOutput::Run, device);
  *out = device;
  return kAudioOk;
}

int OutputWrite(AudioOutput* handle, AudioBuffer* buffer) {
  return LendToDevice<AlsaOutput>(handle, buffer, false);
}

int OutputReset(AudioOutput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<AlsaOutput*>(handle);
  AudioQueue returned;
  {
    std::unique_lock<std::mutex> hold(device->lock);
    TakeBackAll(device->queue, returned);
    // The chunk being written completes by itself within one period.
    device->changed.wait_for(hold, std::chrono::milliseconds(4 * kWaitMillis),
                             [device] { return device->current == nullptr; });
  }
  ReportOutputReturns(device, returned);
  return kAudioOk;
}

int OutputClose(AudioOutput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<AlsaOutput*>(handle);
  // The chunk being written is lent to the device too.
  if (int r = EndDeviceThread(device, device->writer,
                              [](const AlsaOutput& d) { return d.current != nullptr; });
      r != kAudioOk) {
    return r;
  }
  snd_pcm_drop(device->pcm);
  snd_pcm_close(device->pcm);
  delete device;
  return kAudioOk;
}

// ALSA names one capture PCM; it counts as one device when it can be opened.
unsigned InputDeviceCount() {
  SilenceAlsa();
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, AlsaDeviceName(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) return 0;
  snd_pcm_close(pcm);
  return 1;
}

int InputDeviceCaps(unsigned device, AudioDeviceCaps* caps) {
  return InputCapsNamed(device, caps, AlsaDeviceName());
}

int InputQueryFormat(unsigned device, const AudioFormat& format) {
  if (device != 0) return kAudioBadDevice;
  if (!IsPlayerPcmFormat(format)) return kAudioBadFormat;
  snd_pcm_t* pcm = nullptr;
  if (int r = OpenPcm(SND_PCM_STREAM_CAPTURE, &pcm); r != kAudioOk) return r;
  snd_pcm_close(pcm);
  return kAudioOk;
}

int InputOpen(unsigned device, const AudioFormat& format, AudioInputNotify notify, void* context,
              AudioInput** out) {
  if (int r = CheckInputOpen(device, format, notify, out); r != kAudioOk) return r;
  snd_pcm_t* pcm = nullptr;
  if (int r = OpenPcm(SND_PCM_STREAM_CAPTURE, &pcm); r != kAudioOk) return r;
  auto* input = new AlsaInput;
  input->pcm = pcm;
  input->notify = notify;
  input->context = context;
  input->reader = std::thread(&AlsaInput::Run, input);
  *out = input;
  notify(context, AudioInputEvent::kOpen, nullptr);
  return kAudioOk;
}

int InputAddBuffer(AudioInput* handle, AudioBuffer* buffer) {
  return LendToDevice<AlsaInput>(handle, buffer, true);
}

int InputStart(AudioInput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<AlsaInput*>(handle);
  std::lock_guard<std::mutex> hold(device->lock);
  device->running = true;
  device->changed.notify_all();
  return kAudioOk;
}

int InputStop(AudioInput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<AlsaInput*>(handle);
  std::unique_lock<std::mutex> hold(device->lock);
  device->running = false;
  device->changed.notify_all();
  device->WaitIdle(hold);  // the buffer being filled comes back with what it holds
  return kAudioOk;
}

int InputReset(AudioInput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<AlsaInput*>(handle);
  AudioQueue returned;
  {
    std::unique_lock<std::mutex> hold(device->lock);
    device->running = false;
    device->changed.notify_all();
    device->WaitIdle(hold);
    TakeBackAll(device->queue, returned, true);
  }
  ReportInputReturns(device, returned);
  return kAudioOk;
}

int InputClose(AudioInput* handle) {
  if (handle == nullptr) return kAudioInvalidParam;
  auto* device = static_cast<AlsaInput*>(handle);
  if (int r = EndDeviceThread(device, device->reader, [](const AlsaInput&) { return false; });
      r != kAudioOk) {
    return r;
  }
  snd_pcm_close(device->pcm);
  device->notify(device->context, AudioInputEvent::kClose, nullptr);
  delete device;
  return kAudioOk;
}

const AudioBackend kAlsaBackend = {
    "alsa",           OutputOpen,      OutputWrite,      OutputReset, OutputClose,
    InputDeviceCount, InputDeviceCaps, InputQueryFormat, InputOpen,   InputAddBuffer,
    InputStart,       InputStop,       InputReset,       InputClose,
};

}  // namespace

const AudioBackend& AlsaAudioBackend() { return kAlsaBackend; }

}  // namespace rovik::player
