// The video client's settings: the accounts it watches and the cameras it shows, read from
// RovikClient.json in the program folder.
//
//   {
//     "accounts": [ { "account": "13800000000", "password": "pw", "name": "Demo user" } ],
//     "cameras":  [ { "name": "Front door", "address": "127.0.0.1:7001",
//                     "user": "admin", "password": "123456" } ]
//   }
#pragma once

#include <QString>
#include <vector>

#include "tools/rovikclient/monitor_messages.h"

namespace rovikclient {

struct CameraSettings {
  QString name;
  std::string address;  // "host:port" of the camera
  std::string user;
  std::string password;
};

struct ClientSettings {
  std::vector<ClientAccount> accounts;
  std::vector<CameraSettings> cameras;  // at most four are shown
};

// Reads the file; a missing file gives empty settings, a malformed one empty settings and
// *error set. Members of the wrong type are taken as absent. A file that others may read is
// first tightened to 0600 (it holds passwords).
ClientSettings LoadClientSettings(const QString& path, QString* error = nullptr);

// The settings file of the program folder.
QString DefaultSettingsPath();

}  // namespace rovikclient
