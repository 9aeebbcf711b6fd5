#include "tools/rovikclient/alarm_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

#include "alarm/record/utf_text.h"

using namespace rovik::alarm;

namespace rovikclient {
namespace {

enum Column { kTime, kType, kDevice, kCamera, kUser, kState, kId, kColumns };

QString FromUtf8Field(const char* field, std::size_t size) {
  const std::string_view text = rovik::alarm::FieldText(field, size);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FromUtf16(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

AlarmPanel::AlarmPanel(QWidget* parent)
    : QWidget(parent),
      list_(new QTreeWidget(this)),
      unread_(new QLabel(this)),
      status_(new QLabel(this)) {
  list_->setColumnCount(kColumns);
  list_->setHeaderLabels({QStringLiteral("报警时间"), QStringLiteral("类型"),
                          QStringLiteral("设备"), QStringLiteral("摄像头"), QStringLiteral("用户"),
                          QStringLiteral("状态"), QStringLiteral("ID")});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

  auto* buttons = new QHBoxLayout;
  auto addButton = [&](const QString& text, auto slot) {
    auto* button = new QPushButton(text, this);
    connect(button, &QPushButton::clicked, this, slot);
    buttons->addWidget(button);
    return button;
  };
  addButton(QStringLiteral("未读报警"), [this] {
    emit listUnreadClicked();
  })->setObjectName(QStringLiteral("listUnread"));
  addButton(QStringLiteral("今日报警"), [this] {
    emit listTodayClicked();
  })->setObjectName(QStringLiteral("listToday"));
  addButton(QStringLiteral("标为已读"), [this] {
    emit markReadClicked(SelectedIds());
  })->setObjectName(QStringLiteral("markRead"));
  addButton(QStringLiteral("删除"), [this] {
    emit deleteClicked(SelectedIds());
  })->setObjectName(QStringLiteral("delete"));
  addButton(QStringLiteral("刷新未读数"), [this] {
    emit unreadCountClicked();
  })->setObjectName(QStringLiteral("unreadCount"));
  buttons->addStretch();
  buttons->addWidget(unread_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(buttons);
  layout->addWidget(list_, 1);
  layout->addWidget(status_);
  SetUnreadCount(0);
}

void AlarmPanel::AddRow(int at, const QStringList& cells, int id, bool unread) {
  auto* item = new QTreeWidgetItem(cells);
  item->setData(kId, Qt::UserRole, id);
  if (unread) {
    QFont bold = item->font(kTime);
    bold.setBold(true);
    for (int c = 0; c < kColumns; ++c) item->setFont(c, bold);
  }
  list_->insertTopLevelItem(at, item);
}

void AlarmPanel::AddAlarm(const AlarmRecord& r) {
  const QStringList cells = {
      FromUtf8Field(r.alarmTime, sizeof r.alarmTime),
      FromUtf16(AlarmTypeName(rovik::alarm::FieldText(r.deviceType, sizeof r.deviceType))),
      FromUtf8Field(r.deviceName, sizeof r.deviceName),
      FromUtf8Field(r.ipcName, sizeof r.ipcName),
      FromUtf16(rovik::alarm::FieldText(r.userName, sizeof r.userName / sizeof r.userName[0])),
      r.state == 0 ? QStringLiteral("未读") : QStringLiteral("已读"),
      QString::number(r.id)};
  AddRow(0, cells, r.id, r.state == 0);
}

void AlarmPanel::ShowList(const std::vector<AlarmLine>& lines) {
  list_->clear();
  int row = 0;
  for (const AlarmLine& l : lines) {
    AddRow(row++,
           {FromUtf16(l.alarmTime), FromUtf16(l.typeName), FromUtf16(l.deviceName),
            FromUtf16(l.ipcName), FromUtf16(l.userName),
            l.unread ? QStringLiteral("未读") : QStringLiteral("已读"), QString::number(l.id)},
           l.id, l.unread);
  }
}

void AlarmPanel::SetUnreadCount(int64_t count) {
  unread_->setText(QStringLiteral("未读报警：%1").arg(count));
}

void AlarmPanel::SetStatus(const QString& text) { status_->setText(text); }

std::vector<int> AlarmPanel::SelectedIds() const {
  std::vector<int> ids;
  for (QTreeWidgetItem* item : list_->selectedItems()) {
    const int id = item->data(kId, Qt::UserRole).toInt();
    if (id > 0) ids.push_back(id);
  }
  return ids;
}

}  // namespace rovikclient
