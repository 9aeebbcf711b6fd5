// The history browser against a real alarm store in a temporary folder: what it lists, marking
// one row or one page read, keeping its rows, its keys, closing and dragging.
#include "alarm/ui/dlg_history.h"

#include "alarm/record/alarm_record.h"
#include "alarm/store/md_sqlite.h"
#include "tests/fixtures/temp_dir.h"
#include "uikit/window_message.h"

#include <QApplication>
#include <QTest>

#include <sqlite3.h>

#include <gtest/gtest.h>

using namespace rovik::alarm;

using namespace rovik::uikit;

namespace {

// The popup's side of the browser's messages: 3030 marks the listed alarms read, 3028 is noted.
class FakePopup : public QWidget {
 public:
  explicit FakePopup(MdSQLite& store) : m_store(store) {}
  std::vector<QString> markRequests;
  int closedCount = 0;
  bool answerMarkRead = true;

 protected:
  bool event(QEvent* e) override {
    switch (rovik::uikit::WindowMessageEvent::MessageOf(e)) {
      case rovik::uikit::kMsgMarkAlarmsRead: {
        auto* m = static_cast<rovik::uikit::WindowMessageEvent*>(e);
        markRequests.push_back(m->text());
        m->result = answerMarkRead && m_store.MarkAlarmsRead(m->text().toStdString()) ? 1 : 0;
        return true;
      }
      case rovik::uikit::kMsgHistoryClosed:
        ++closedCount;
        return true;
      default:
        return QWidget::event(e);
    }
  }

 private:
  MdSQLite& m_store;
};

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Open(dir.Path().string());
    ASSERT_TRUE(store.IsOpen());
    popup = std::make_unique<FakePopup>(store);
    history = new CDlgHistory(popup.get(), &store);
  }

  // Stores an alarm at "2026-12-07 10:MM:00" (minute = n, so later n is newer); returns its ID.
  int Add(int n, const char* device = "Front door") {
    AlarmRecord record{};
    std::snprintf(record.alarmTime, sizeof record.alarmTime, "2026-12-07 %02d:%02d:00", 8 + n / 60,
                  n % 60);
    std::snprintf(record.deviceName, sizeof record.deviceName, "%s %d", device, n);
    std::snprintf(record.deviceType, sizeof record.deviceType, "DS");
    std::snprintf(record.account, sizeof record.account, "alice");
    std::snprintf(record.ipcName, sizeof record.ipcName, "Hall");
    std::snprintf(record.ipcId, sizeof record.ipcId, "IPC1");
    const std::u16string name = u"Alice";
    std::copy(name.begin(), name.end(), record.userName);
    return store.InsertAlarm(record);
  }

  void Sql(const std::string& statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(MdSQLite::DatabasePath(dir.Path().string()).c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  void Show() {
    history->LoadHistory();
    history->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(history));
  }

  QStringList PageTexts() {
    QStringList texts;
    for (const GridRow& row : history->Grid().CurrentPageRows()) texts << row.text;
    return texts;
  }

  void ClickRow(int id) {
    const GridRow* row = history->Grid().RowById(id);
    ASSERT_NE(row, nullptr);
    QTest::mouseClick(&history->Grid(), Qt::LeftButton, {}, QPoint(300, row->rect.center().y()));
    QCoreApplication::sendPostedEvents();
  }

  void ClickLink(const QRect& link) {
    history->Grid().repaint();
    QTest::mouseClick(&history->Grid(), Qt::LeftButton, {}, link.center());
    QCoreApplication::sendPostedEvents();
  }

  rovik::fixtures::TempDir dir;
  MdSQLite store;
  std::unique_ptr<FakePopup> popup;
  CDlgHistory* history = nullptr;
};

}  // namespace

TEST_F(HistoryTest, WindowAndGridSetUp) {
  Show();
  EXPECT_EQ(history->size(), QSize(700, 565));
  EXPECT_EQ(history->Grid().geometry(), QRect(2, 26, 696, 537));
  EXPECT_EQ(history->CloseButton().geometry(), QRect(672, 0, 26, 26));
  EXPECT_EQ(history->Grid().m_nColumns, 11);
  EXPECT_TRUE(history->Grid().m_bRowNumbers);
  const QImage shot = history->grab().toImage();
  EXPECT_EQ(QColor(shot.pixel(300, 3)), QColor(17, 104, 179));   // title image, first row
  EXPECT_EQ(QColor(shot.pixel(1, 300)), QColor(238, 238, 238));  // margin
}

TEST_F(HistoryTest, ListsTodayAndUnreadNewestFirst) {
  const int oldUnread = Add(1);
  const int todayRead = Add(2);
  const int yesterdayRead = Add(3);
  ASSERT_TRUE(store.MarkAlarmRead(todayRead));
  ASSERT_TRUE(store.MarkAlarmRead(yesterdayRead));
  Sql("update Alarm set Alarm_RecvTime = '2000-01-01 10:00:00' where Alarm_ID in (" +
      std::to_string(oldUnread) + "," + std::to_string(yesterdayRead) + ")");
  Show();
  const QStringList rows = PageTexts();
  ASSERT_EQ(rows.size(), 2);
  const QString type = QString::fromStdU16String(std::u16string(AlarmTypeName("DS")));
  EXPECT_TRUE(rows[0].startsWith(
      QStringLiteral("2026-12-07 08:02:00~%1~Front door 2~Hall~Alice~").arg(type)));
  EXPECT_TRUE(rows[0].endsWith(QStringLiteral("~alice~IPC1~%1~已读").arg(todayRead)));
  EXPECT_EQ(rows[1],
            QStringLiteral("2026-12-07 08:01:00~%1~Front door 1~Hall~Alice~~alice~IPC1~%2~未读")
                .arg(type)
                .arg(oldUnread));
  EXPECT_TRUE(history->Grid().m_bActionLink);
  EXPECT_EQ(history->Grid().m_strAction, QStringLiteral("本页已知"));
  EXPECT_EQ(history->Grid().m_nSelectedId, 0);
}

TEST_F(HistoryTest, PagesTwentyRows) {
  for (int i = 1; i <= 41; ++i) Add(i);
  Show();
  EXPECT_EQ(history->Grid().m_nRowsPerPage, 20);
  EXPECT_EQ(history->Grid().m_nPageCount, 3);
}

TEST_F(HistoryTest, RowClickMarksOnlyThatRowRead) {
  const int first = Add(1);
  Add(2);
  Show();
  ClickRow(2);  // the older alarm, listed second
  EXPECT_EQ(store.GetUnreadCount(), 1);
  const QStringList rows = PageTexts();
  EXPECT_TRUE(rows[0].endsWith(QStringLiteral("~未读")));
  EXPECT_TRUE(rows[1].endsWith(QStringLiteral("~%1~已读").arg(first)));
  AlarmList unread;
  ASSERT_EQ(store.QueryUnread(unread), 1);
  EXPECT_NE(unread[0]->id, first);

  // Clicking it again (after another row) changes nothing more.
  AlarmList all;
  store.QueryTodayAndUnread(all);
  const std::string readTime = all[1]->readTime;
  ClickRow(1);
  EXPECT_EQ(store.GetUnreadCount(), 0);
  ClickRow(2);
  EXPECT_EQ(PageTexts()[1], rows[1]);
  EXPECT_TRUE(popup->markRequests.empty());
}

TEST_F(HistoryTest, DeviceNameWithTheSeparatorStillFindsTheAlarm) {
  Add(1);
  const int tricky = Add(2, "Back~door~9");
  Show();
  ClickRow(1);
  AlarmList unread;
  ASSERT_EQ(store.QueryUnread(unread), 1);
  EXPECT_NE(unread[0]->id, tricky);
  EXPECT_TRUE(PageTexts()[0].endsWith(QStringLiteral("~%1~已读").arg(tricky)));
}

TEST_F(HistoryTest, PageNoteMarksOnlyThePageShown) {
  for (int i = 1; i <= 23; ++i) Add(i);
  Show();
  CCustomSelStatic& grid = history->Grid();
  ClickLink(grid.m_rcNext);
  ASSERT_EQ(grid.m_nPage, 1);
  ClickLink(grid.m_rcAction);
  ASSERT_EQ(popup->markRequests.size(), 1u);
  EXPECT_EQ(popup->markRequests[0], QStringLiteral("3,2,1"));
  for (const QString& text : PageTexts())
    EXPECT_TRUE(text.endsWith(QStringLiteral("~已读"))) << text.toStdString();
  EXPECT_EQ(store.GetUnreadCount(), 20);
  ClickLink(grid.m_rcPrev);
  for (const QString& text : PageTexts())
    EXPECT_TRUE(text.endsWith(QStringLiteral("~未读"))) << text.toStdString();
}

TEST_F(HistoryTest, RefusedPageNoteLeavesTheRows) {
  Add(1);
  Show();
  popup->answerMarkRead = false;
  ClickLink(history->Grid().m_rcAction);
  ASSERT_EQ(popup->markRequests.size(), 1u);
  EXPECT_TRUE(PageTexts()[0].endsWith(QStringLiteral("~未读")));
}

TEST_F(HistoryTest, NothingToListKeepsThePreviousRows) {
  Add(1);
  Add(2);
  Show();
  ASSERT_EQ(PageTexts().size(), 2);
  Sql("delete from Alarm");
  history->LoadHistory();
  EXPECT_EQ(PageTexts().size(), 2);
  EXPECT_EQ(history->Grid().m_nRowCount, 2);
}

TEST_F(HistoryTest, KeysNeverCloseAndArrowsMoveTheSelection) {
  for (int i = 1; i <= 3; ++i) Add(i);
  Show();
  history->activateWindow();
  history->setFocus();
  QTest::keyClick(history, Qt::Key_Escape);
  QTest::keyClick(history, Qt::Key_Return);
  QTest::keyClick(history, Qt::Key_Enter);
  EXPECT_TRUE(history->isVisible());
  QTest::keyClick(history, Qt::Key_Down);
  EXPECT_EQ(history->Grid().m_nSelectedId, 1);
  QTest::keyClick(history, Qt::Key_Right);
  EXPECT_EQ(history->Grid().m_nSelectedId, 2);
  QTest::keyClick(history, Qt::Key_Up);
  QTest::keyClick(history, Qt::Key_Left);
  EXPECT_EQ(history->Grid().m_nSelectedId, 3);  // wrapped from the first to the last
  EXPECT_EQ(store.GetUnreadCount(), 3);         // moving marks nothing read
}

TEST_F(HistoryTest, CloseButtonTellsThePopupAndStaysOpen) {
  Show();
  QTest::mouseClick(&history->CloseButton(), Qt::LeftButton, {}, QPoint(13, 13));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(popup->closedCount, 1);
  EXPECT_TRUE(history->isVisible());
}

TEST_F(HistoryTest, DraggedByItsTitleBar) {
  Show();
  const QPoint before = history->pos();
  QTest::mousePress(history, Qt::LeftButton, {}, QPoint(100, 10));
  QTest::mouseMove(history, QPoint(140, 30));
  QTest::mouseRelease(history, Qt::LeftButton, {}, QPoint(140, 30));
  EXPECT_EQ(history->pos(), before + QPoint(40, 20));
}
