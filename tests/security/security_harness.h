// Helpers of the security suite: a monitor's program folder and the push-service simulator.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/pushsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

namespace security {

namespace fx = rovik::fixtures;

using fx::PushsimPorts;

// Starts pushsim on free ports of 127.0.0.1 for the security suite (see the fixture).
inline std::optional<PushsimPorts> StartPushsim(fx::ChildProcess& pushsim,
                                                const std::string& broker,
                                                const fx::MqttLogin& login,
                                                const std::filesystem::path& folder) {
  return fx::StartPushsim(pushsim, broker, login, folder, "rovik-security");
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
