// The alarm popup's look and behaviour in a host that keeps the alarm list the way the monitor's
// popup window does: three unread alarms at start, paging with the slide, closing, new alarms
// while shown and while hidden, keys, the video client and the history browser.
#include "alarm/ui/dlg_operator_view.h"

#include "alarm/store/md_sqlite.h"
#include "alarm/ui/dlg_history.h"
#include "platform/module_path.h"
#include "tests/fixtures/temp_dir.h"

#include <QApplication>
#include <QScreen>
#include <QSet>
#include <QTest>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

using namespace rovik::alarm;

using namespace rovik::uikit;

namespace {

// The popup window's side: the list, the reload from the store and the new-alarm rule.
class Host : public QWidget {
 public:
  Host(MdSQLite& store) : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), m_store(store) {
    view = new CDlgOperatorView(this, alarms, &store);
    view->PlaceHidden();
  }
  void Reload() {
    alarms.clear();
    m_store.QueryUnread(alarms);
    if (alarms.empty())
      view->HideAlarms();
    else
      view->ShowAlarms();
  }
  void Arrive(const AlarmRecord& record) {
    if (view->IsShown()) {
      alarms.push_back(std::make_unique<AlarmRecord>(record));
      view->AlarmAdded();
    } else {
      Reload();
    }
  }
  AlarmList alarms;
  CDlgOperatorView* view;

 private:
  MdSQLite& m_store;
};

class PopupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Open(dir.Path().string());
    ASSERT_TRUE(store.IsOpen());
    host = std::make_unique<Host>(store);
  }

  AlarmRecord Record(int n, const char* type = "DS", const char* device = "Door") {
    AlarmRecord record{};
    std::snprintf(record.alarmTime, sizeof record.alarmTime, "2026-12-07 09:%02d:00", n);
    if (device) std::snprintf(record.deviceName, sizeof record.deviceName, "%s %d", device, n);
    std::snprintf(record.deviceType, sizeof record.deviceType, "%s", type);
    std::snprintf(record.account, sizeof record.account, "alice");
    const std::u16string name = u"Alice";
    std::copy(name.begin(), name.end(), record.userName);
    return record;
  }
  int Store(int n, const char* type = "DS", const char* device = "Door") {
    return store.InsertAlarm(Record(n, type, device));
  }
  void StartWith(int count) {
    for (int i = 1; i <= count; ++i) Store(i);
    host->Reload();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
  }
  void Click(int id) {
    CRWButton& b = host->view->Button(id);
    QTest::mouseClick(&b, Qt::LeftButton, {}, b.rect().center());
  }
  void WaitSlide() { QTRY_VERIFY_WITH_TIMEOUT(!host->view->IsSliding(), 2000); }
  QString ShownDevice() {
    const AlarmRecord& r = *host->alarms[static_cast<size_t>(host->view->AlarmIndex() - 1)];
    return QString::fromUtf8(r.deviceName);
  }

  rovik::fixtures::TempDir dir;
  MdSQLite store;
  std::unique_ptr<Host> host;
};

}  // namespace

TEST_F(PopupTest, StartsAtTheBottomRightWithTheOldest) {
  StartWith(3);
  const QRect area = host->screen()->availableGeometry();
  EXPECT_TRUE(host->isVisible());
  EXPECT_EQ(host->geometry(), QRect(area.right() + 1 - 310, area.bottom() + 1 - 208, 300, 198));
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(1/3)"));
  EXPECT_EQ(ShownDevice(), QStringLiteral("Door 1"));
  EXPECT_TRUE(host->view->Button(1008).isEnabled());
  EXPECT_FALSE(host->view->Button(1009).isEnabled());
  EXPECT_EQ(store.GetUnreadCount(), 3);  // showing alone marks nothing
}

TEST_F(PopupTest, NothingUnreadStaysHiddenAway) {
  host->Reload();
  EXPECT_FALSE(host->isVisible());
  EXPECT_FALSE(host->view->IsShown());
  EXPECT_EQ(host->x(), host->view->HomeRect().left() + 10000);
}

TEST_F(PopupTest, NextPagesTowardsTheNewestSlidingFromTheRightAndMarksRead) {
  StartWith(3);
  Click(1008);
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(2/3)"));
  EXPECT_TRUE(host->view->IsSliding());
  EXPECT_EQ(host->view->SlideDirection(), CDlgOperatorView::kLeft);
  const QRect home = host->view->ContentRect();
  EXPECT_EQ(host->view->IncomingRect(), home.translated(300, 0));
  Click(1008);  // ignored while sliding
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(2/3)"));
  QTRY_COMPARE_WITH_TIMEOUT(host->view->IncomingRect().left(), 150, 1000);  // first step: half way
  WaitSlide();
  EXPECT_EQ(host->view->ContentRect(), home);
  EXPECT_EQ(ShownDevice(), QStringLiteral("Door 2"));
  EXPECT_EQ(host->view->TypeText(),
            QString::fromStdU16String(std::u16string(AlarmTypeName("DS"))) + "!");
  EXPECT_EQ(store.GetUnreadCount(), 2);

  Click(1008);
  WaitSlide();
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(3/3)"));
  EXPECT_EQ(ShownDevice(), QStringLiteral("Door 3"));
  EXPECT_EQ(store.GetUnreadCount(), 1);
  EXPECT_FALSE(host->view->Button(1008).isEnabled());
  EXPECT_TRUE(host->view->Button(1009).isEnabled());

  Click(1009);
  EXPECT_EQ(host->view->SlideDirection(), CDlgOperatorView::kRight);
  WaitSlide();
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(2/3)"));
}

TEST_F(PopupTest, CloseHidesMarksReadAndANewAlarmBringsItBack) {
  StartWith(3);
  Click(1001);
  EXPECT_FALSE(host->isVisible());
  EXPECT_FALSE(host->view->IsShown());
  EXPECT_EQ(store.GetUnreadCount(), 2);  // the oldest, on show, is read now

  AlarmRecord fresh = Record(7);
  fresh.id = Store(7);
  host->Arrive(fresh);
  EXPECT_TRUE(host->isVisible());
  EXPECT_EQ(host->geometry().topLeft(), host->view->HomeRect().topLeft());
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(1/3)"));
  EXPECT_EQ(ShownDevice(), QStringLiteral("Door 2"));
}

TEST_F(PopupTest, NewAlarmWhileShownSlidesUpAsFirstOfMore) {
  StartWith(3);
  Click(1008);
  WaitSlide();
  Store(8);
  AlarmRecord arriving = Record(8);  // as the push channel posts it: ID 0
  host->Arrive(arriving);
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(1/4)"));
  EXPECT_EQ(host->view->SlideDirection(), CDlgOperatorView::kUp);
  EXPECT_EQ(host->view->IncomingRect(),
            host->view->ContentRect().translated(0, host->view->ContentRect().height()));
  WaitSlide();
  EXPECT_EQ(ShownDevice(), QStringLiteral("Door 8"));

  // Marking the ID-0 copy read changes nothing stored: it is listed again at the next reload.
  Click(1001);
  host->Reload();
  bool listed = false;
  for (const auto& r : host->alarms)
    listed = listed || QString::fromUtf8(r->deviceName) == QStringLiteral("Door 8");
  EXPECT_TRUE(listed);
}

TEST_F(PopupTest, UnknownTypeAndNoDevice) {
  Store(1, "ZZ", nullptr);
  host->Reload();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
  EXPECT_EQ(host->view->TypeText(), QStringLiteral("有报警!"));
  const QImage shot = host->grab().toImage();
  QSet<QRgb> content;
  for (int y = 90; y < 150; ++y)
    for (int x = 0; x < 300; ++x) content.insert(shot.pixel(x, y) & 0xFFFFFF);
  EXPECT_FALSE(content.contains(0xF2F2F2));  // no detail panel without a device
}

TEST_F(PopupTest, Look) {
  StartWith(1);
  const QImage shot = host->grab().toImage();
  EXPECT_EQ(QColor(shot.pixel(150, 5)), QColor(17, 104, 179));     // caption band
  EXPECT_EQ(QColor(shot.pixel(150, 27)), QColor(215, 215, 215));   // separator
  EXPECT_EQ(QColor(shot.pixel(150, 150)), QColor(242, 242, 242));  // detail panel
  EXPECT_EQ(QColor(shot.pixel(5, 190)), QColor(220, 235, 249));    // button band
  QSet<QRgb> top;
  for (int y = 28; y < 81; ++y)
    for (int x = 0; x < 300; ++x) top.insert(shot.pixel(x, y) & 0xFFFFFF);
  EXPECT_TRUE(top.contains(0xF77925));  // the type text in orange
  EXPECT_EQ(host->view->Button(1001).geometry(), QRect(274, 0, 26, 26));
  EXPECT_EQ(host->view->Button(1005).geometry(), QRect(200, 170, 90, 20));
  EXPECT_EQ(host->view->Button(1004).geometry(), QRect(100, 170, 90, 20));
  EXPECT_EQ(host->view->Button(1009).geometry(), QRect(15, 170, 20, 20));
  EXPECT_EQ(host->view->Button(1008).geometry(), QRect(40, 170, 20, 20));
}

TEST_F(PopupTest, EscapeAndEnterDoNothing) {
  StartWith(2);
  host->activateWindow();
  QTest::keyClick(host.get(), Qt::Key_Escape);
  QTest::keyClick(host.get(), Qt::Key_Return);
  QTest::keyClick(host.get(), Qt::Key_Enter);
  EXPECT_TRUE(host->isVisible());
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(1/2)"));
  EXPECT_EQ(store.GetUnreadCount(), 2);
}

TEST_F(PopupTest, OpenVideoStartsTheClientAndStaysHidden) {
  EXPECT_EQ(host->view->ClientPath(), rovik::platform::ProgramFolder() + "/RovikClient");
  StartWith(1);
  const auto marker = dir.Path() / "client-started";
  const auto client = dir.Path() / "RovikClient";
  {
    std::ofstream script(client);
    script << "#!/bin/sh\necho \"$#\" > '" << marker.string() << "'\n";
  }
  std::filesystem::permissions(client, std::filesystem::perms::owner_all);
  host->view->SetClientPath(client.string());
  Click(1004);
  EXPECT_FALSE(host->isVisible());
  EXPECT_TRUE(host->view->IsShown());
  QTRY_VERIFY_WITH_TIMEOUT(
      std::filesystem::exists(marker) && std::filesystem::file_size(marker) > 0, 5000);
  EXPECT_EQ(rovik::fixtures::ReadWholeFile(marker), "0\n");  // no arguments
  EXPECT_EQ(store.GetUnreadCount(), 1);

  // Later alarms join the hidden list; the popup does not come back by itself.
  AlarmRecord later = Record(9);
  later.id = Store(9);
  host->Arrive(later);
  EXPECT_FALSE(host->isVisible());
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(1/2)"));
}

TEST_F(PopupTest, OpenVideoShowsThePopupAgainWhenTheClientCannotStart) {
  StartWith(2);
  // Missing, then present but not executable: no client takes the alarms over, so the popup
  // must not stay hidden for the rest of the session.
  const auto client = dir.Path() / "RovikClient";
  host->view->SetClientPath(client.string());
  Click(1004);
  EXPECT_TRUE(host->isVisible());
  EXPECT_EQ(host->view->Caption(), QStringLiteral("Rovik警报(1/2)"));
  {
    std::ofstream script(client);
    script << "#!/bin/sh\nexit 0\n";
  }
  std::filesystem::permissions(
      client, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  Click(1004);
  EXPECT_TRUE(host->isVisible());
  EXPECT_TRUE(host->view->IsShown());
}

TEST_F(PopupTest, ViewRecordsOpensTheHistory) {
  StartWith(2);
  auto* history = new CDlgHistory(host.get(), &store);
  host->view->SetHistory(history);
  Click(1005);
  EXPECT_TRUE(history->isVisible());
  EXPECT_EQ(history->Grid().m_nRowCount, 2);
}
