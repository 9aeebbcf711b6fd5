// Starts the camera simulator from the program folder and learns its port.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/test_env.h"

class CamsimProcess {
 public:
  // Starts camsim with the extra arguments (the 240p clip unless a source is given). False when
  // it did not come up within 10 s.
  bool Start(std::vector<std::string> args = {}) {
    const auto bin = rovik::fixtures::BinDir();
    bool hasSource = false;
    for (const auto& a : args) hasSource |= (a == "--h264" || a == "--jpeg");
    if (!hasSource) {
      args.push_back("--h264");
      args.push_back((bin / "camsim_240p.h264").string());
    }
    if (!child_.Start(bin / "camsim", args)) return false;
    if (!child_.WaitForStdout("\n", std::chrono::seconds(10))) return false;
    const std::string out = child_.Stdout();
    const size_t colon = out.rfind(':');
    if (colon == std::string::npos) return false;
    port_ = std::stoi(out.substr(colon + 1));
    return port_ > 0;
  }

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }
  rovik::fixtures::ChildProcess& child() { return child_; }

 private:
  rovik::fixtures::ChildProcess child_;
  int port_ = 0;
};
