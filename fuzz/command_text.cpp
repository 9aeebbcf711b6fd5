// Command texts as the monitor's window receives them from other programs.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "alarm/record/command_text.h"

using namespace rovik::alarm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CommandText command = ParseCommandText(data, size);
  if (!command.hasCode) return 0;
  if (command.argument.size() >= size) __builtin_trap();
  if (command.code == kCmdAccounts) {
    AccountList list = ParseAccountList(command.argument);
    for (const auto& user : list.users) {
      // Every field ends inside its record.
      if (strnlen(user->account, sizeof user->account) == sizeof user->account ||
          strnlen(user->password, sizeof user->password) == sizeof user->password ||
          strnlen(user->name, sizeof user->name) == sizeof user->name) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
