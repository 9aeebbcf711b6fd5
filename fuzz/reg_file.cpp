// Registry key files, which users and installers may edit by hand.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto values = rovik::platform::ParseRegFile(text);
  // Whatever was read writes back and reads again unchanged.
  auto again = rovik::platform::ParseRegFile(rovik::platform::FormatRegFile(values));
  if (again.size() != values.size()) __builtin_trap();
  for (size_t i = 0; i < values.size(); ++i) {
    if (again[i].name != values[i].name || again[i].type != values[i].type ||
        again[i].dword != values[i].dword || again[i].text != values[i].text) {
      __builtin_trap();
    }
  }
  return 0;
}
