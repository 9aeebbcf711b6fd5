// The upgrade worker's host when there is no screen: the status line and progress go to standard
// error, one line per change, and repaints are done at once.
#pragma once

#include <QString>

#include "launcher/upgrade/upgrade_worker.h"

namespace rovik::launcher {

// Used from the one thread that runs the worker's pass.
class ConsoleUpgradeHost : public UpgradeHost {
 public:
  void SetProgress(int progress, int limit, const QString& status) override;
  void SetStatus(const QString& status) override;
  void StartTimer(int, int) override {}
  void StopTimer(int) override {}
  void Repaint(bool statusLineOnly, std::function<void()> painted) override;
  uint64_t WindowHandle() const override { return 0; }

 private:
  void Print();

  int progress_ = 0;
  QString status_;
  QString printed_;  // the last line written, so a repeated status is written once
};

}  // namespace rovik::launcher
