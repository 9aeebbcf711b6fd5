// Feeds arbitrary bytes to everything that reads a reply or an address: the reply readers of the
// three cloud requests, the address file trimming and the URL splitter.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/cloud_reply.h"
#include "alarm/cloud/http_url.h"
#include "alarm/record/utf_text.h"

using namespace rovik::alarm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  (void)HttpReplyErrno(text);
  (void)HeartbeatRefused(text);
  if (auto c = BrokerAddressFromReply(text, false)) (void)SplitHttpUrl(*c);
  (void)DeviceLoginFromReply(text);

  // As the address file is read: UTF-8 to UTF-16, trimmed, and used as the base of a URL.
  const std::u16string base = TrimServerAddress(rovik::alarm::Utf8ToUtf16(text.substr(0, 260)));
  const std::string url = rovik::alarm::Utf16ToUtf8(base + u"/api/client/ipc/windows_heart");
  if (auto parts = SplitHttpUrl(url)) {
    // A split URL never carries what cannot stand in a request line.
    for (char c : parts->path) {
      if (static_cast<unsigned char>(c) <= 0x20) __builtin_trap();
    }
    if (parts->host.empty() || parts->port < 1 || parts->port > 65535) __builtin_trap();
  }
  (void)SplitHttpUrl(text);
  return 0;
}
