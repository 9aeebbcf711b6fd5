// The alarm side of the video client's window: the alarms the monitor hands over, newest first,
// the unread count, and the buttons that send the monitor its list, mark-read and delete commands.
#pragma once

#include <QLabel>
#include <QTreeWidget>
#include <QWidget>
#include <vector>

#include "tools/rovikclient/monitor_messages.h"

namespace rovikclient {

class AlarmPanel : public QWidget {
  Q_OBJECT
 public:
  explicit AlarmPanel(QWidget* parent = nullptr);

  // A new alarm ("4~"): added at the top.
  void AddAlarm(const AlarmRecord& record);
  // The result of a list command ("6~N"): replaces the rows.
  void ShowList(const std::vector<AlarmLine>& lines);
  // "10~N".
  void SetUnreadCount(int64_t count);
  // A line of status text under the list.
  void SetStatus(const QString& text);

  int rowCount() const { return list_->topLevelItemCount(); }
  QTreeWidget* list() const { return list_; }
  QString unreadText() const { return unread_->text(); }
  // IDs of the selected rows that carry one.
  std::vector<int> SelectedIds() const;

 signals:
  void listUnreadClicked();
  void listTodayClicked();
  void markReadClicked(std::vector<int> ids);
  void deleteClicked(std::vector<int> ids);
  void unreadCountClicked();

 private:
  void AddRow(int at, const QStringList& cells, int id, bool unread);

  QTreeWidget* list_;
  QLabel* unread_;
  QLabel* status_;
};

}  // namespace rovikclient
