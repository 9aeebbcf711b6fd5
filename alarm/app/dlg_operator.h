// CDlgOperator: the alarm popup's window, titled "ROVIKALARM" — the monitor's one message
// endpoint. The video client and the launcher find it by that title and send it command texts
// (copy-data messages); the push thread posts it new alarms (kMsgAlarmArrived); the history
// browser tells it it was closed (kMsgHistoryClosed) and asks it to mark alarms read
// (kMsgMarkAlarmsRead). It owns the push channel.
//
// The popup's look (paging, sliding into view) is built on top of this class: ShowAlarms and
// HideAlarms are the places where it shows and hides itself; the endpoint keeps the alarm list.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "alarm/record/alarm_record.h"
#include "alarm/record/command_text.h"
#include "platform/window_link.h"

class QWidget;

namespace rovik::alarm {

class CDlgHistory;
class CDlgOperatorView;
class MdSQLite;
class PushChannel;

inline constexpr char kOperatorWindowTitle[] = "ROVIKALARM";

class CDlgOperator : public QWidget {
  Q_OBJECT
 public:
  using ChannelFactory = std::function<std::unique_ptr<PushChannel>()>;

  // `store` null: the process's alarm store. `makeChannel` empty: the push channel over the
  // cloud requests and the process's store.
  explicit CDlgOperator(QWidget* parent = nullptr, MdSQLite* store = nullptr,
                        ChannelFactory makeChannel = {});
  // The window goes: the endpoint closes first, then the push channel is stopped.
  ~CDlgOperator() override;

  // The dialog's initialisation: the window becomes the endpoint "ROVIKALARM" and the push
  // channel starts. False when the title could not be taken (another monitor owns it).
  bool Create();

  // The shared block of the alarm list (null: none mapped; command 5 then does nothing).
  void SetSharedBlock(void* block, std::size_t size);

  // What PostQuitMessage does here; by default QCoreApplication::exit(0), which ends the main
  // dialog's modal run.
  void SetQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }

  // A copy-data message from another program: the command text handling; returns the
  // message's result.
  int64_t OnCopyData(const rovik::platform::CopyDataMessage& message);

  PushChannel* Channel() const { return channel_.get(); }
  const AlarmList& Alarms() const { return alarms_; }
  bool IsEndpointOpen() const { return link_.IsListening(); }

  // The history browser whose closing (kMsgHistoryClosed) this window handles.
  void SetHistory(QWidget* history) { history_ = history; }

 protected:
  bool event(QEvent* event) override;

  // kMsgAlarmArrived while the popup shows: the new record joins the list, unless it is on the list
  // already (by its store ID).
  virtual void OnAlarmWhileShowing(const AlarmRecord& record);
  // Reload every unread alarm from the store; show the popup when there are any, else hide it.
  virtual void ReloadUnread();
  virtual void ShowAlarms();
  virtual void HideAlarms();
  // Whether the popup is on show (the hidden endpoint never is).
  virtual bool IsShowingAlarms() const;

 private:
  int64_t OnAccounts(const std::string& argument);
  int64_t OnListAlarms(const std::string& argument);
  int64_t OnIdList(int code, const std::string& argument);
  int64_t OnAlarmArrived(std::intptr_t wParam);
  int64_t OnMarkReadFromHistory(const QString& ids);
  void SetUpPopup();
  // The store refused alarms (they wait and are tried again): one box tells the user.
  void ShowStoreTrouble(const std::string& error);
  MdSQLite* Store() const;

  MdSQLite* store_;
  ChannelFactory makeChannel_;
  std::unique_ptr<PushChannel> channel_;
  rovik::platform::WindowLink link_;
  std::function<void()> quit_;
  void* sharedBlock_ = nullptr;
  std::size_t sharedSize_ = 0;
  AlarmList alarms_;  // user-interface thread only
  QPointer<QWidget> history_;
  QPointer<QWidget> storeTrouble_;  // the box on show about the store's failure
  // The popup's look (alarm/ui): placed, filled and paged over alarms_; null while the window is
  // only the endpoint (the push channel did not start).
  CDlgOperatorView* view_ = nullptr;
};

}  // namespace rovik::alarm
