// The accounts the push channel watches: one MQTT topic per account, the account list the
// heartbeat names, the heartbeat account, and the topics the broker has not yet granted.
//
// Owner: the push thread (every call, and every MQTT call made through it). Not locked.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "alarm/record/alarm_record.h"

namespace rovik::alarm {

class MqttClient;

// One subscribed account (768 bytes): its password as stored and its display name.
struct SubscribedAccount {
  char password[256];
  char16_t displayName[256];
};
static_assert(sizeof(SubscribedAccount) == 768);

class SubscriptionSet {
 public:
  // Takes the stored accounts into the table without subscribing them (the video client manages
  // the accounts, but the session the broker kept may deliver their alarms at once).
  void Know(const UserList& users);
  // Unsubscribes the topics no longer watched, then subscribes every watchable account of
  // `users` in order; false when there were no users (nothing subscribed). `stopping` true:
  // the table is built without calling the broker.
  bool SubscribeAll(MqttClient& client, const UserList& users, bool stopping);
  // Unsubscribes every topic but those in `keep`, and empties the table.
  void Clear(MqttClient& client, const std::set<std::string>& keep, bool stopping);
  // Topics the broker refused or did not answer (also those the client's own re-subscription
  // after a new session lost): subscribed again by RetryRefused.
  void NoteRefused(const std::set<std::string>& topics);
  // Subscribes the refused topics once more; true when all of them now hold.
  bool RetryRefused(MqttClient& client);
  bool HasRefused() const { return !refused_.empty(); }
  // Subscriptions refused since the start (each refusal counted once).
  int RefusalCount() const { return refusals_; }

  // The block of a watched topic; null for a topic not watched (which leaves an empty entry,
  // so that the table tells what came).
  const SubscribedAccount* Block(const std::string& topic);

  // The heartbeat account: the next usable account after the current one (a password "NULL"
  // is not usable); stays on the last once it is reached.
  void ChooseHeartbeatAccount();
  // Account, password and account list of the next heartbeat; false when none may be sent.
  bool HeartbeatArguments(std::string& account, std::string& password, std::string& list);
  int AccountCount() const { return accountCount_; }

 private:
  std::map<std::string, std::unique_ptr<SubscribedAccount>> subscriptions_;  // by account text
  std::set<std::string> refused_;
  int refusals_ = 0;
  int accountCount_ = 0;
  int heartIndex_ = -1;
  std::string heartAccount_;
  std::string heartPassword_;
  std::string accountList_;
};

}  // namespace rovik::alarm
