// Helpers of the security suite: a monitor's program folder and the push-service simulator.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

namespace security {

namespace fx = rovik::fixtures;

struct PushsimPorts {
  int lookup = 0, reg = 0, server = 0;
  // FILE/RovikPush.txt naming the simulator's lookup and registration.
  std::string PushTxt() const {
    return "http://127.0.0.1:" + std::to_string(lookup) +
           "/\nhttp://127.0.0.1:" + std::to_string(reg) + "/device/reg/\n";
  }
};

// Starts pushsim on free ports of 127.0.0.1, handing out `broker` and `login` (the password in a
// file below `folder`); nullopt when it did not come up.
inline std::optional<PushsimPorts> StartPushsim(fx::ChildProcess& pushsim,
                                                const std::string& broker,
                                                const fx::MqttLogin& login,
                                                const std::filesystem::path& folder) {
  using namespace std::chrono_literals;
  if (!pushsim.Start(
          fx::BinDir() / "pushsim",
          {"--lookup-port", "0", "--reg-port", "0", "--server-port", "0", "--broker", broker,
           "--client-id", "rovik-security", "--user", login.user, "--password-file",
           fx::WriteSecretFile(folder / "broker.pw", login.password)}) ||
      !pushsim.WaitForStderr("pushsim ready", 10s)) {
    return std::nullopt;
  }
  PushsimPorts p;
  if (std::sscanf(pushsim.Stderr().c_str(), "pushsim ready lookup=%d reg=%d server=%d", &p.lookup,
                  &p.reg, &p.server) != 3) {
    return std::nullopt;
  }
  return p;
}

// RovikAlarm and its libraries in the folder, the push-service and server addresses, and the
// auto-start question answered.
inline void PrepareMonitorFolder(fx::ProgramFolder& folder, const std::string& pushTxt,
                                 const std::string& infoTxt = "http://127.0.0.1:1") {
  ASSERT_TRUE(folder.Copy("RovikAlarm"));
  ASSERT_TRUE(folder.CopySharedLibraries());
  ASSERT_TRUE(folder.WriteFile("FILE/RovikPush.txt", pushTxt));
  ASSERT_TRUE(folder.WriteFile("FILE/RovikInfo.txt", infoTxt));
  ASSERT_TRUE(
      fx::WriteWholeFile(folder.RegistryRoot() / "HKEY_LOCAL_MACHINE/SOFTWARE/MERVO/ROVIK.reg",
                         "\"AUTOALARM\"=dword:00000001\n"));
}

}  // namespace security
