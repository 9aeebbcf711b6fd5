#include "player/audio/backends/audio_backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace rovik::player {

namespace {

std::atomic<const AudioBackend*> g_override{nullptr};

const AudioBackend& Named(const char* choice) {
  if (choice != nullptr && std::strcmp(choice, "null") == 0) return NullAudioBackend();
  return AlsaAudioBackend();
}

// Playback from ROVIK_AUDIO; capture from ROVIK_AUDIO_CAPTURE when it names another back end.
const AudioBackend& FromEnvironment() {
  const AudioBackend& output = Named(std::getenv("ROVIK_AUDIO"));
  const char* captureChoice = std::getenv("ROVIK_AUDIO_CAPTURE");
  if (captureChoice == nullptr || *captureChoice == '\0') return output;
  const AudioBackend& input = Named(captureChoice);
  if (&input == &output) return output;
  static AudioBackend mixed;
  mixed = output;
  mixed.name = "mixed";
  mixed.inputDeviceCount = input.inputDeviceCount;
  mixed.inputDeviceCaps = input.inputDeviceCaps;
  mixed.inputQueryFormat = input.inputQueryFormat;
  mixed.inputOpen = input.inputOpen;
  mixed.inputAddBuffer = input.inputAddBuffer;
  mixed.inputStart = input.inputStart;
  mixed.inputStop = input.inputStop;
  mixed.inputReset = input.inputReset;
  mixed.inputClose = input.inputClose;
  return mixed;
}

}  // namespace

const AudioBackend& CurrentAudioBackend() {
  if (const AudioBackend* chosen = g_override.load()) return *chosen;
  static const AudioBackend& fromEnvironment = FromEnvironment();
  return fromEnvironment;
}

void SetAudioBackend(const AudioBackend* backend) { g_override.store(backend); }

const char* AlsaDeviceName() {
  static const std::string name = [] {
    const char* choice = std::getenv("ROVIK_AUDIO");
    if (choice != nullptr && std::strncmp(choice, "alsa:", 5) == 0 && choice[5] != '\0') {
      return std::string(choice + 5);
    }
    return std::string("default");
  }();
  return name.c_str();
}

int PrepareAudioBuffer(AudioBuffer* buffer) {
  if (buffer == nullptr || buffer->data == nullptr || buffer->length == 0)
    return kAudioInvalidParam;
  if (buffer->flags.load() & kAudioBufferQueued) return kAudioStillPlaying;
  buffer->flags.fetch_or(kAudioBufferPrepared);
  return kAudioOk;
}

int UnprepareAudioBuffer(AudioBuffer* buffer) {
  if (buffer == nullptr) return kAudioInvalidParam;
  if (buffer->flags.load() & kAudioBufferQueued) return kAudioStillPlaying;
  buffer->flags.fetch_and(~kAudioBufferPrepared);
  return kAudioOk;
}

}  // namespace rovik::player
