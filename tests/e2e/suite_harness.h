// The whole suite on one machine: a program folder holding the built programs, a real Mosquitto
// broker with a login, the push-service simulator, the alarm monitor, and publishing as the push
// service does.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/mqtt_publisher.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/test_env.h"

namespace e2e {

using namespace std::chrono_literals;

// The shared bounded wait, running the Qt event loop of this process meanwhile.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound);

// An alarm message as the push service publishes it.
std::string AlarmPayload(const std::string& device, const std::string& type = "DS");

class Suite {
 public:
  static constexpr char kAccount[] = "13800000000";

  Suite();
  ~Suite();

  // What the tests need that may be missing on a machine: a reason to skip, or "".
  static std::string Missing();

  // Mosquitto with a login, pushsim handing that login out, the address files written.
  bool StartServices();
  // RovikAlarm from the program folder; true once its window "ROVIKALARM" answers.
  bool StartMonitor();
  bool MonitorRunning() { return monitor_.Running(); }
  rovik::fixtures::ChildProcess& monitor() { return monitor_; }

  // Publishes on the account's topic as the push service does.
  bool Publish(const std::string& topic, const std::string& payload);

  rovik::fixtures::ProgramFolder& folder() { return folder_; }
  const std::string& error() const { return error_; }

 private:
  rovik::fixtures::ProgramFolder folder_;
  std::unique_ptr<std::vector<std::unique_ptr<rovik::fixtures::ScopedEnv>>> env_;
  rovik::fixtures::MosquittoFixture broker_;
  rovik::fixtures::ChildProcess pushsim_;
  rovik::fixtures::ChildProcess monitor_;
  std::string error_;
};

}  // namespace e2e
