#include "alarm/push/subscription_set.h"

#include <cstring>
#include <utility>
#include <vector>

#include "alarm/push/mqtt_client.h"
#include "alarm/record/account_text.h"
#include "alarm/record/utf_text.h"

namespace rovik::alarm {

namespace {

constexpr std::size_t kAccountRoom = 31;  // the 32-byte topic buffer of a subscription
constexpr std::size_t kDisplayNameRoom = 254;

// The subscription block of a stored account, or null when its text may not be watched.
std::unique_ptr<SubscribedAccount> AccountBlock(const UserRecord& user, std::string& account) {
  char topic[32];
  CopyField(topic, FieldText(user.account), kAccountRoom);
  account.assign(FieldText(topic));
  if (!IsWatchableAccount(account)) {
    return nullptr;
  }
  auto block = std::make_unique<SubscribedAccount>();
  CopyField(block->password, FieldText(user.password));
  CopyField(block->displayName, Utf8ToUtf16(FieldText(user.name)), kDisplayNameRoom);
  return block;
}

}  // namespace

void SubscriptionSet::Know(const UserList& users) {
  for (const auto& user : users) {
    std::string account;
    if (auto block = AccountBlock(*user, account)) {
      subscriptions_.try_emplace(account, std::move(block));
    }
  }
}

bool SubscriptionSet::SubscribeAll(MqttClient& client, const UserList& users, bool stopping) {
  std::vector<std::pair<std::string, std::unique_ptr<SubscribedAccount>>> accounts;
  std::set<std::string> keep;
  for (const auto& user : users) {
    std::string account;
    if (auto block =
            AccountBlock(*user, account)) {  // else a text that would watch other topics, or none
      keep.insert(account);
      accounts.emplace_back(std::move(account), std::move(block));
    }
  }
  Clear(client, keep, stopping);
  if (users.empty()) {
    return false;
  }
  for (auto& [account, block] : accounts) {
    if (!stopping && client.Subscribe(account) != 0) {
      NoteRefused({account});
    }
    if (!accountList_.empty()) {
      accountList_ += ',';
    }
    accountList_ += account;
    subscriptions_.try_emplace(account, std::move(block));
    ++accountCount_;
  }
  return true;
}

void SubscriptionSet::Clear(MqttClient& client, const std::set<std::string>& keep, bool stopping) {
  for (auto& [account, block] : subscriptions_) {
    // A topic watched again at once stays subscribed: no alarm falls between the two calls.
    if (block && keep.count(account) == 0 && !stopping) {
      client.Unsubscribe(account);
    }
  }
  subscriptions_.clear();
  refused_.clear();
  accountList_.clear();
  heartAccount_.clear();
  heartPassword_.clear();
  accountCount_ = 0;
  heartIndex_ = -1;
}

void SubscriptionSet::NoteRefused(const std::set<std::string>& topics) {
  for (const std::string& topic : topics) {
    if (refused_.insert(topic).second) {
      ++refusals_;
    }
  }
}

bool SubscriptionSet::RetryRefused(MqttClient& client) {
  for (auto it = refused_.begin(); it != refused_.end();) {
    if (client.Subscribe(*it) == 0) {
      it = refused_.erase(it);
    } else {
      ++it;
    }
  }
  return refused_.empty();
}

const SubscribedAccount* SubscriptionSet::Block(const std::string& topic) {
  return subscriptions_[topic].get();  // an unknown topic leaves an empty entry
}

void SubscriptionSet::ChooseHeartbeatAccount() {
  if (accountCount_ <= 0) {
    return;
  }
  if (heartIndex_ >= accountCount_) {
    heartIndex_ = -1;
  }
  int position = 0;
  bool lastUsable = false;
  for (const auto& [account, block] : subscriptions_) {
    const bool usable = block && std::strcmp(block->password, "NULL") != 0;
    if (usable) {
      heartAccount_ = account;
      heartPassword_ = std::string(FieldText(block->password));
      if (position > heartIndex_) {
        heartIndex_ = position;
        return;
      }
    }
    lastUsable = usable;
    ++position;
  }
  heartIndex_ = lastUsable ? position - 1 : -1;
}

bool SubscriptionSet::HeartbeatArguments(std::string& account, std::string& password,
                                         std::string& list) {
  if (accountCount_ <= 0) {
    return false;
  }
  if (heartAccount_.empty()) {
    ChooseHeartbeatAccount();
  }
  if (heartAccount_.size() < 2) {
    return false;
  }
  account = heartAccount_;
  password = heartPassword_;
  list = accountList_;
  return true;
}

}  // namespace rovik::alarm
