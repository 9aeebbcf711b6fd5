// Message intake of the push channel: the first byte gives the topic length, then the topic, then
// the payload. The store is a file in a temp folder; the video client's window never exists.
#include <stdlib.h>

#include <cstdio>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "alarm/push/push_channel.h"
#include "alarm/store/md_sqlite.h"

using namespace rovik::alarm;

namespace {

struct IntakeRig {
  std::string folder;
  MdSQLite store;
  std::unique_ptr<PushChannel> channel;

  IntakeRig() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "rovik-fuzz-push-XXXXXX").string();
    folder = mkdtemp(pattern.data());
    setenv("ROVIK_RUNTIME_DIR", (folder + "/run").c_str(), 1);
    store.Open(folder);
    UserList users;
    for (const char* account : {"a", "13800000000", "\xE9\x97\xA8"}) {
      auto user = std::make_unique<UserRecord>();
      *user = UserRecord{};
      std::snprintf(user->account, sizeof user->account, "%s", account);
      std::snprintf(user->name, sizeof user->name, "%s", "name");
      users.push_back(std::move(user));
    }
    store.SaveUsers(users);
    channel = std::make_unique<PushChannel>(&store, PushServiceRequests::None());
    channel->SetOwner([](std::unique_ptr<AlarmRecord>) {});
    channel->SubscribeAll();
  }
  ~IntakeRig() {
    channel.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static IntakeRig rig;
  if (size == 0) {
    return 0;
  }
  const size_t topicLength = data[0] < size - 1 ? data[0] : size - 1;
  const std::string topic(reinterpret_cast<const char*>(data + 1), topicLength);
  rig.channel->MessageIntake(topic, data + 1 + topicLength,
                             static_cast<long>(size - 1 - topicLength));
  return 0;
}
