// The history grid with 10,000 rows: SetRows plus one paint of the first page, against the same
// with 20 rows (one page). Target: at most 50 ms; the ratio shows how little the row count costs.
#include "uikit/custom_sel_static.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

using namespace rovik::uikit;

namespace {

QStringList MakeRows(int n) {
  QStringList rows;
  rows.reserve(n);
  for (int i = 0; i < n; ++i)
    rows << QStringLiteral(
                "2026-12-07 10:%1:%2~门磁~Front door %3~Camera~Alice~~alice~IPC001~%3~%4")
                .arg((i / 60) % 60, 2, 10, QLatin1Char('0'))
                .arg(i % 60, 2, 10, QLatin1Char('0'))
                .arg(i + 1)
                .arg(i % 3 ? QStringLiteral("已读") : QStringLiteral("未读"));
  return rows;
}

void SetRowsAndPaint(benchmark::State& state) {
  const QStringList rows = MakeRows(static_cast<int>(state.range(0)));
  CCustomSelStatic grid;
  grid.resize(696, 537);
  std::array<double, 15> fractions{0.1, 0.22, 0.12, 0.32, 0, 0.24};
  grid.SetHeader(
      24, 24,
      QStringLiteral(
          "序号~报警时间~设备类型~设备名称~关联IPC~用户名称~查看时间~用户账号~IPCID~ID~消息状态"),
      fractions, true, true);
  QImage target(grid.size(), QImage::Format_RGB32);
  for (auto _ : state) {
    grid.SetRows(rows);
    grid.render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
}
BENCHMARK(SetRowsAndPaint)->Arg(20)->Arg(10000)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ms;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.iterations > 0) ms[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto big = reporter.ms.find("SetRowsAndPaint/10000");
  const auto small = reporter.ms.find("SetRowsAndPaint/20");
  if (big != reporter.ms.end() && small != reporter.ms.end() && small->second > 0) {
    std::printf("SetRows + paint, 10000 rows: %.3f ms (target <= 50 ms: %s)\n", big->second,
                big->second <= 50.0 ? "met" : "MISSED");
    std::printf("ratio 10000 rows / 20 rows: %.2f\n", big->second / small->second);
  }
  benchmark::Shutdown();
  return 0;
}
