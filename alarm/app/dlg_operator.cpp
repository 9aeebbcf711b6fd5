#include "alarm/app/dlg_operator.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QMetaObject>

#include "alarm/app/rovik_alarm_app.h"
#include "alarm/push/client_link.h"
#include "alarm/push/push_channel.h"
#include "alarm/record/utf_text.h"
#include "alarm/store/md_sqlite.h"
#include "alarm/ui/dlg_history.h"
#include "alarm/ui/dlg_operator_view.h"
#include "uikit/gdi_font.h"
#include "uikit/window_message.h"

namespace rovik::alarm {

namespace {

// kMsgAlarmArrived as the push thread posts it: the record travels with the event and is freed
// with it, whether or not the popup still exists to take it.
class AlarmArrivedEvent : public uikit::WindowMessageEvent {
 public:
  explicit AlarmArrivedEvent(std::unique_ptr<AlarmRecord> record)
      : WindowMessageEvent(uikit::kMsgAlarmArrived, reinterpret_cast<std::intptr_t>(record.get())),
        record_(std::move(record)) {}

 private:
  std::unique_ptr<AlarmRecord> record_;
};

}  // namespace

CDlgOperator::CDlgOperator(QWidget* parent, MdSQLite* store, ChannelFactory makeChannel)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      store_(store),
      makeChannel_(std::move(makeChannel)),
      quit_([] { QCoreApplication::exit(0); }) {
  setWindowTitle(QString::fromLatin1(kOperatorWindowTitle));
}

CDlgOperator::~CDlgOperator() {
  link_.Close();  // no command may arrive while the channel goes
  if (channel_) channel_->Stop();
  channel_.reset();
}

MdSQLite* CDlgOperator::Store() const { return store_ ? store_ : MdSQLite::GetInstance(); }

bool CDlgOperator::Create() {
  std::string error;
  // Requests are handled on this window's thread: the listener queues them to it.
  bool listening = link_.Listen(
      kOperatorWindowTitle,
      [this](const rovik::platform::CopyDataMessage& m) { return OnCopyData(m); },
      [this](std::function<void()> serve) {
        QMetaObject::invokeMethod(this, std::move(serve), Qt::QueuedConnection);
      },
      &error);
  channel_ = makeChannel_ ? makeChannel_() : std::make_unique<PushChannel>();
  if (channel_) {
    QPointer<CDlgOperator> self(this);
    channel_->SetStoreTroubleHandler([self](const std::string& error) {
      // Push thread: the window shows it on its own thread.
      QMetaObject::invokeMethod(
          self.data(),
          [self, error] {
            if (self) self->ShowStoreTrouble(error);
          },
          Qt::QueuedConnection);
    });
    bool started = channel_->Start([self](std::unique_ptr<AlarmRecord> record) {
      // Push thread: hand the record over; the window copies it on its own thread.
      if (self) QCoreApplication::postEvent(self.data(), new AlarmArrivedEvent(std::move(record)));
    });
    if (started) {
      SetUpPopup();
    } else {
      channel_->Stop();
    }
  }
  return listening;
}

void CDlgOperator::SetUpPopup() {
  // The look: 300 x 198 at its hidden place, the five buttons, the caption picture.
  view_ = new CDlgOperatorView(this, alarms_, store_);
  auto* history = new CDlgHistory(this, store_);
  if (CRovikAlarmApp* app = CRovikAlarmApp::Instance()) {
    const auto font = [](const std::optional<QFont>& f, const char* face, int height, int weight,
                         bool line) {
      return f ? *f : uikit::CreateGdiFont(QString::fromUtf8(face), height, weight, line);
    };
    const QFont bold12 = font(app->fontBold12, "宋体", 12, 700, false);
    const QFont normal12 = font(app->fontNormal12, "宋体", 12, 400, false);
    view_->SetFonts(bold12, font(app->fontLarge36, "微软雅黑", 36, 400, false), normal12,
                    font(app->fontLink12, "宋体", 12, 700, true));
    history->SetFonts(normal12, bold12);
  }
  view_->PlaceHidden();
  history->hide();
  SetHistory(history);
  view_->SetHistory(history);
  // Unread alarms waiting at start are shown at once.
  ReloadUnread();
}

void CDlgOperator::ShowAlarms() {
  if (view_) view_->ShowAlarms();
}

void CDlgOperator::HideAlarms() {
  if (view_) view_->HideAlarms();
}

bool CDlgOperator::IsShowingAlarms() const { return view_ && view_->IsShown(); }

void CDlgOperator::SetSharedBlock(void* block, std::size_t size) {
  sharedBlock_ = block;
  sharedSize_ = block ? size : 0;
}

int64_t CDlgOperator::OnCopyData(const rovik::platform::CopyDataMessage& message) {
  CommandText command = ParseCommandText(message.data.data(), message.data.size());
  if (!command.hasCode) return 1;
  switch (command.code) {
    case kCmdQuit:
      if (quit_) quit_();
      return 1;
    case kCmdAccounts:
      return OnAccounts(command.argument);
    case kCmdResubscribe:
      if (channel_) channel_->RequestResubscribe();
      return 1;
    case kCmdListAlarms:
      return OnListAlarms(command.argument);
    case kCmdMarkRead:
    case kCmdDelete:
      return OnIdList(command.code, command.argument);
    case kCmdUnreadCount:
      if (!channel_) return 1;
      return channel_->RequestUnreadCount() ? 1 : 0;
    default:
      return 1;
  }
}

int64_t CDlgOperator::OnAccounts(const std::string& argument) {
  if (argument.empty() || !channel_ || !channel_->HasMqttClient()) return 1;
  AccountList list = ParseAccountList(argument);
  if (!list.enough) return 1;
  MdSQLite* store = Store();
  if (!store) return 1;
  if (list.replace) store->DeleteAllUsers();
  store->SaveUsers(list.users);
  channel_->RequestResubscribe();
  return 1;
}

int64_t CDlgOperator::OnListAlarms(const std::string& argument) {
  if (argument.empty() || !channel_) return 1;
  if (!FindClientWindow() || sharedBlock_ == nullptr) return 1;
  MdSQLite* store = Store();
  if (!store) return 1;
  AlarmList list;
  if (argument == "00") {
    store->QueryUnread(list);
  } else {
    store->QueryAlarmsByTime(list, argument + " 00:00:00", argument + " 23:59:59");
  }
  // The client is told how many lines the block holds: when the block is full, fewer than were
  // found.
  std::size_t written = list.empty() ? 0 : WriteAlarmList(list, sharedBlock_, sharedSize_);
  SendTextToClient(ClientCommandText(kClientAlarmList, static_cast<int>(written)));
  return 1;
}

int64_t CDlgOperator::OnIdList(int code, const std::string& argument) {
  if (argument.empty() || !channel_) return 1;
  MdSQLite* store = Store();
  if (!store) return 0;
  bool ok = code == kCmdMarkRead ? store->MarkAlarmsRead(argument) : store->DeleteAlarms(argument);
  if (!ok) return 0;
  channel_->RequestUnreadCount();
  return 1;
}

bool CDlgOperator::event(QEvent* event) {
  switch (uikit::WindowMessageEvent::MessageOf(event)) {
    case uikit::kMsgAlarmArrived: {
      auto* message = static_cast<uikit::WindowMessageEvent*>(event);
      message->result = OnAlarmArrived(message->wParam());
      return true;
    }
    case uikit::kMsgHistoryClosed: {
      if (history_) history_->hide();
      update();
      ReloadUnread();
      static_cast<uikit::WindowMessageEvent*>(event)->result = 0;
      return true;
    }
    case uikit::kMsgMarkAlarmsRead: {
      auto* message = static_cast<uikit::WindowMessageEvent*>(event);
      message->result = OnMarkReadFromHistory(message->text());
      return true;
    }
    default:
      return QWidget::event(event);
  }
}

int64_t CDlgOperator::OnAlarmArrived(std::intptr_t wParam) {
  if (wParam == 0) return -1;
  const auto* record = reinterpret_cast<const AlarmRecord*>(wParam);
  if (IsShowingAlarms()) {
    OnAlarmWhileShowing(*record);
  } else {
    ReloadUnread();  // the record itself is not used: the store has it with the others
  }
  return 0;
}

int64_t CDlgOperator::OnMarkReadFromHistory(const QString& ids) {
  std::string list = Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(ids.utf16()),
                                                     static_cast<std::size_t>(ids.size())));
  if (list.empty()) return 0;
  MdSQLite* store = Store();
  if (!store || !store->MarkAlarmsRead(list)) return 0;
  if (channel_) channel_->RequestUnreadCount();
  return 1;
}

void CDlgOperator::ShowStoreTrouble(const std::string& error) {
  if (storeTrouble_) return;  // one box at a time
  auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Error"),
                              QString::fromUtf8(error.c_str()), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  storeTrouble_ = box;
  box->show();
}

void CDlgOperator::OnAlarmWhileShowing(const AlarmRecord& record) {
  // A burst's first arrival reloaded every unread alarm, the later ones of the burst with it.
  if (record.id > 0) {
    for (const auto& shown : alarms_) {
      if (shown && shown->id == record.id) return;
    }
  }
  alarms_.push_back(std::make_unique<AlarmRecord>(record));
  if (view_) view_->AlarmAdded();  // it slides up into view as 1/N
}

void CDlgOperator::ReloadUnread() {
  alarms_.clear();
  if (MdSQLite* store = Store()) store->QueryUnread(alarms_);
  if (alarms_.empty()) {
    HideAlarms();
  } else {
    ShowAlarms();
  }
}

}  // namespace rovik::alarm
