// Screenshots of the monitor's three windows as X shows them: the alarm popup with three unread
// alarms, the history browser with a page of today's alarms, and the auto-start prompt.
//   alarm_ui_shots <output folder>      (scripts/ui-shots runs it under Xvfb)
#include "alarm/app/dlg_operator.h"
#include "alarm/push/push_channel.h"
#include "alarm/store/md_sqlite.h"
#include "alarm/ui/dlg_auto_run.h"
#include "alarm/ui/dlg_history.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace rovik::alarm;

using namespace rovik::uikit;

namespace {

AlarmRecord Record(int n, const char* type, const char* device, const char* camera) {
  AlarmRecord record{};
  std::snprintf(record.alarmTime, sizeof record.alarmTime, "%s %02d:%02d:%02d",
                QDate::currentDate().toString(Qt::ISODate).toUtf8().constData(), 8 + n / 6,
                (n * 7) % 60, (n * 13) % 60);
  std::snprintf(record.deviceName, sizeof record.deviceName, "%s", device);
  std::snprintf(record.deviceType, sizeof record.deviceType, "%s", type);
  std::snprintf(record.ipcName, sizeof record.ipcName, "%s", camera);
  std::snprintf(record.ipcId, sizeof record.ipcId, "IPC%04d", n);
  std::snprintf(record.account, sizeof record.account, "zhang.wei");
  const std::u16string name = u"张伟";
  std::copy(name.begin(), name.end(), record.userName);
  return record;
}

bool Save(QWidget& window, const QDir& out, const char* name) {
  QTest::qWait(300);
  QPixmap shot = window.screen()->grabWindow(window.winId());
  if (shot.isNull() || shot.size() != window.size())
    shot = window.grab();  // no window system picture: the widget's own rendering
  const QString path = out.filePath(QString::fromLatin1(name));
  if (!shot.save(path, "PNG")) {
    std::fprintf(stderr, "alarm_ui_shots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: alarm_ui_shots <output folder>\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(out.path());
  QTemporaryDir data;
  MdSQLite store;
  store.Open(data.path().toStdString());
  if (!store.IsOpen()) return 1;
  const char* types[] = {"DS", "EB", "GA", "PD", "SF", "WA", "MA"};
  const char* devices[] = {"前门门磁", "客厅紧急按钮", "厨房燃气",    "走廊红外",
                           "卧室烟感", "卫生间水浸",   "车库移动侦测"};
  const char* cameras[] = {"门口摄像机", "客厅摄像机", "厨房摄像机", "走廊摄像机",
                           "卧室摄像机", "阳台摄像机", "车库摄像机"};
  for (int i = 0; i < 26; ++i) {
    const int id = store.InsertAlarm(Record(i, types[i % 7], devices[i % 7], cameras[i % 7]));
    if (i < 23) store.MarkAlarmRead(id);
  }

  bool ok = true;
  {
    // The monitor's popup window itself, with a push channel that reaches no service.
    qputenv("ROVIK_RUNTIME_DIR", QDir(data.path()).filePath(QStringLiteral("run")).toLocal8Bit());
    CDlgOperator popup(nullptr, &store, [&store] {
      return std::make_unique<PushChannel>(&store, PushServiceRequests::None());
    });
    popup.SetQuitHandler([] {});
    popup.Create();
    ok = QTest::qWaitForWindowExposed(&popup) && ok;
    ok = Save(popup, out, "popup.png") && ok;

    auto* history = popup.findChild<CDlgHistory*>();
    if (!history) return 1;
    history->LoadHistory();
    history->show();
    ok = QTest::qWaitForWindowExposed(history) && ok;
    history->Grid().MoveSelection(true);
    history->Grid().MoveSelection(true);
    ok = Save(*history, out, "history.png") && ok;
  }
  {
    CDlgAutoRun prompt;
    prompt.show();
    ok = QTest::qWaitForWindowExposed(&prompt) && ok;
    ok = Save(prompt, out, "autorun.png") && ok;
  }
  return ok ? 0 : 1;
}
