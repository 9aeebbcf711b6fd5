#include "player/backends/audio_backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<const AudioBackend*> g_override{nullptr};

const AudioBackend& FromEnvironment() {
  const char* choice = std::getenv("ROVIK_AUDIO");
  if (choice != nullptr && std::strcmp(choice, "null") == 0) return NullAudioBackend();
  return AlsaAudioBackend();
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
  if (buffer == nullptr || buffer->data == nullptr || buffer->length == 0) return kAudioInvalidParam;
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
