#include <cstdlib>
#include <cstring>

#include "player/video/display/display_backend.h"
#include "player/video/display/display_null.h"

namespace rovik::player {

std::unique_ptr<DisplayBackend> CreateX11DisplayBackend();

namespace {

std::unique_ptr<DisplayBackend> CreateNull() { return std::make_unique<NullDisplayBackend>(); }

const DisplayBackendEntry kBackends[] = {
    {"x11", &CreateX11DisplayBackend},
    {"null", &CreateNull},
};

}  // namespace

std::span<const DisplayBackendEntry> DisplayBackends() { return kBackends; }

std::unique_ptr<DisplayBackend> CreateDisplayBackend(const char* name) {
  if (name == nullptr || *name == '\0') {
    name = std::getenv("ROVIK_DISPLAY");
  }
  if (name == nullptr || *name == '\0') {
    return kBackends[0].create();
  }
  for (const DisplayBackendEntry& entry : kBackends) {
    if (std::strcmp(entry.name, name) == 0) {
      return entry.create();
    }
  }
  return nullptr;
}

}  // namespace rovik::player
