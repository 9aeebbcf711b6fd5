#include "alarm/record/account_text.h"

namespace rovik::alarm {

bool IsWatchableAccount(std::string_view account) {
  if (account.empty() || account.front() == '/' || account.back() == '/') {
    return false;
  }
  return account.find_first_of("#+") == std::string_view::npos &&
         account.find('\0') == std::string_view::npos;
}

}  // namespace rovik::alarm
