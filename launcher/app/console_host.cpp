#include "launcher/app/console_host.h"

#include <cstdio>

namespace rovik::launcher {

void ConsoleUpgradeHost::SetProgress(int progress, int, const QString& status) {
  progress_ = progress;
  status_ = status;
  Print();
}

void ConsoleUpgradeHost::SetStatus(const QString& status) {
  status_ = status;
  Print();
}

void ConsoleUpgradeHost::Repaint(bool, std::function<void()> painted) {
  if (painted) {
    painted();
  }
}

void ConsoleUpgradeHost::Print() {
  const QString line = QStringLiteral("Rovik: [%1%] %2").arg(progress_, 3).arg(status_);
  if (line == printed_) {
    return;
  }
  printed_ = line;
  std::fprintf(stderr, "%s\n", line.toUtf8().constData());
  std::fflush(stderr);
}

}  // namespace rovik::launcher
