#include "tools/rovikclient/client_window.h"

#include <QDate>
#include <QSplitter>
#include <QTimer>

#include "platform/shared_memory.h"
#include "tools/rovikclient/alarm_panel.h"
#include "tools/rovikclient/client_log.h"

using namespace rovik::alarm;

namespace rovikclient {
namespace {

constexpr char kMonitorTitle[] = "ROVIKALARM";
constexpr char kClientTitle[] = "RovikClient";
constexpr char kSharedBlock[] = "ROVIKSHARE";

QString IdText(const std::vector<int>& ids) {
  QStringList parts;
  for (int id : ids) parts << QString::number(id);
  return parts.join(',');
}

}  // namespace

ClientWindow::ClientWindow(ClientSettings settings, QWidget* parent)
    : QMainWindow(parent), settings_(std::move(settings)), alarms_(new AlarmPanel) {
  setWindowTitle(QString::fromLatin1(kClientTitle));
  auto* splitter = new QSplitter(this);
  splitter->setObjectName(QStringLiteral("mainSplitter"));
  splitter->addWidget(alarms_);
  setCentralWidget(splitter);
  resize(1280, 720);

  connect(alarms_, &AlarmPanel::listUnreadClicked, this,
          [this] { SendToMonitor(ListUnreadCommand()); });
  connect(alarms_, &AlarmPanel::listTodayClicked, this, [this] {
    const QDate today = QDate::currentDate();
    SendToMonitor(ListDayCommand(today.year(), today.month(), today.day()));
  });
  connect(alarms_, &AlarmPanel::markReadClicked, this, [this](std::vector<int> ids) {
    if (ids.empty()) return;
    if (SendToMonitor(MarkReadCommand(ids))) Log(QStringLiteral("marked read %1").arg(IdText(ids)));
  });
  connect(alarms_, &AlarmPanel::deleteClicked, this, [this](std::vector<int> ids) {
    if (ids.empty()) return;
    if (SendToMonitor(DeleteCommand(ids))) Log(QStringLiteral("deleted %1").arg(IdText(ids)));
  });
  connect(alarms_, &AlarmPanel::unreadCountClicked, this,
          [this] { SendToMonitor(UnreadCountCommand()); });
}

ClientWindow::~ClientWindow() { link_.Close(); }

void ClientWindow::SetCameraArea(QWidget* area) {
  auto* splitter = static_cast<QSplitter*>(centralWidget());
  splitter->addWidget(area);
  splitter->setStretchFactor(1, 2);
}

bool ClientWindow::StartListening(std::string* error) {
  return link_.Listen(
      kClientTitle,
      [this](const rovik::platform::CopyDataMessage& m) { return OnMonitorMessage(m); },
      [this](std::function<void()> serve) {
        QMetaObject::invokeMethod(this, std::move(serve), Qt::QueuedConnection);
      },
      error);
}

bool ClientWindow::SendToMonitor(const std::string& text) {
  int64_t result = 0;
  const bool found =
      rovik::platform::SendCopyDataEx(kMonitorTitle, 0, 0, text.data(), text.size(), &result);
  alarms_->SetStatus(found ? QString() : QStringLiteral("报警程序未运行"));
  Log(QStringLiteral("sent %1 -> %2").arg(QString::fromStdString(text)).arg(found ? result : -1));
  return found;
}

int64_t ClientWindow::OnMonitorMessage(const rovik::platform::CopyDataMessage& m) {
  const auto message = ParseMonitorMessage(m.data.data(), m.data.size());
  if (!message) return 1;
  switch (message->kind) {
    case MonitorMessage::Kind::Connected:
      // Answered after this message returns: the monitor's sender is waiting on us.
      QTimer::singleShot(0, this, [this] { SendToMonitor(AccountsCommand(settings_.accounts)); });
      Log(QStringLiteral("monitor connected"));
      break;
    case MonitorMessage::Kind::Alarm:
      alarms_->AddAlarm(message->record);
      Log(QStringLiteral("alarm id=%1 type=%2 device=%3")
              .arg(message->record.id)
              .arg(QString::fromUtf8(message->record.deviceType))
              .arg(QString::fromUtf8(message->record.deviceName)));
      break;
    case MonitorMessage::Kind::ListReady:
      ShowSharedList(message->value);
      break;
    case MonitorMessage::Kind::UnreadCount:
      alarms_->SetUnreadCount(message->value);
      Log(QStringLiteral("unread %1").arg(message->value));
      break;
    case MonitorMessage::Kind::Other:
      break;
  }
  return 1;
}

void ClientWindow::ShowSharedList(int64_t count) {
  rovik::platform::SharedMemory block;
  std::string error;
  if (!block.Open(kSharedBlock, kAlarmListBlockSize, false, &error)) {
    alarms_->SetStatus(QStringLiteral("报警列表不可读：%1").arg(QString::fromStdString(error)));
    Log(QStringLiteral("list unreadable: %1").arg(QString::fromStdString(error)));
    return;
  }
  const auto lines = ReadAlarmListBlock(block.data(), block.size(), count);
  alarms_->ShowList(lines);
  Log(QStringLiteral("list %1 of %2").arg(lines.size()).arg(count));
}

void ClientWindow::Log(const QString& line) { ClientLog(line); }

}  // namespace rovikclient
