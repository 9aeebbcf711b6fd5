// The popup as the monitor runs it: CDlgOperator with its look, over a store in a temporary
// folder and a push channel that reaches no service. Alarms arrive as the push thread posts them.
#include "alarm/app/dlg_operator.h"
#include "alarm/push/push_channel.h"
#include "alarm/store/md_sqlite.h"
#include "alarm/ui/dlg_history.h"
#include "alarm/ui/dlg_operator_view.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"
#include "uikit/window_message.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

using namespace rovik::alarm;

using namespace rovik::uikit;

namespace {

class PopupEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Open(dir.Path().string());
    ASSERT_TRUE(store.IsOpen());
  }
  void Start() {
    popup = std::make_unique<CDlgOperator>(nullptr, &store, [this] {
      return std::make_unique<PushChannel>(&store, PushServiceRequests::None());
    });
    popup->SetQuitHandler([] {});
    ASSERT_TRUE(popup->Create());
    view = popup->findChild<CDlgOperatorView*>();
    ASSERT_NE(view, nullptr);
  }
  AlarmRecord Record(int n) {
    AlarmRecord record{};
    std::snprintf(record.alarmTime, sizeof record.alarmTime, "2026-12-07 09:%02d:00", n);
    std::snprintf(record.deviceName, sizeof record.deviceName, "Door %d", n);
    std::snprintf(record.deviceType, sizeof record.deviceType, "EB");
    std::snprintf(record.account, sizeof record.account, "alice");
    return record;
  }
  void Post(const AlarmRecord& record) {
    rovik::uikit::WindowMessageEvent arrived(rovik::uikit::kMsgAlarmArrived,
                                             reinterpret_cast<std::intptr_t>(&record));
    QCoreApplication::sendEvent(popup.get(), &arrived);
  }
  void Click(int id) {
    CRWButton& b = view->Button(id);
    QTest::mouseClick(&b, Qt::LeftButton, {}, b.rect().center());
  }

  rovik::fixtures::TempDir dir;
  rovik::fixtures::ScopedEnv run{"ROVIK_RUNTIME_DIR", (dir.Path() / "run").string()};
  MdSQLite store;
  std::unique_ptr<CDlgOperator> popup;
  CDlgOperatorView* view = nullptr;
};

}  // namespace

TEST_F(PopupEndpointTest, UnreadAtStartAreShownAtOnce) {
  for (int i = 1; i <= 3; ++i) store.InsertAlarm(Record(i));
  Start();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(popup.get()));
  const QRect area = popup->screen()->availableGeometry();
  EXPECT_EQ(popup->geometry(), QRect(area.right() + 1 - 310, area.bottom() + 1 - 208, 300, 198));
  EXPECT_EQ(popup->windowTitle(), QStringLiteral("ROVIKALARM"));
  EXPECT_EQ(view->Caption(), QStringLiteral("Rovik警报(1/3)"));
  EXPECT_EQ(view->TypeText(), QStringLiteral("紧急按钮!"));
}

TEST_F(PopupEndpointTest, AlarmsWhileShownAndWhileHidden) {
  Start();
  EXPECT_FALSE(popup->isVisible());
  AlarmRecord first = Record(1);
  first.id = store.InsertAlarm(first);
  Post(first);  // hidden: reloaded from the store
  EXPECT_TRUE(popup->isVisible());
  EXPECT_EQ(view->Caption(), QStringLiteral("Rovik警报(1/1)"));

  AlarmRecord second = Record(2);
  second.id = store.InsertAlarm(second);
  Post(second);  // shown: appended, slides up
  EXPECT_EQ(view->Caption(), QStringLiteral("Rovik警报(1/2)"));
  EXPECT_EQ(view->SlideDirection(), CDlgOperatorView::kUp);
  QTRY_VERIFY_WITH_TIMEOUT(!view->IsSliding(), 2000);

  Click(1001);
  EXPECT_FALSE(popup->isVisible());
  EXPECT_EQ(store.GetUnreadCount(), 1);  // the arrival on show carried its store ID
  rovik::uikit::WindowMessageEvent closed(rovik::uikit::kMsgHistoryClosed);
  QCoreApplication::sendEvent(popup.get(), &closed);  // reload: the first still unread
  EXPECT_TRUE(popup->isVisible());
  EXPECT_EQ(view->Caption(), QStringLiteral("Rovik警报(1/1)"));
}

// A burst stored before the popup took its first arrival: the reload brings them all, and the
// later arrivals of the burst add no copies.
TEST_F(PopupEndpointTest, ABurstAppearsOnceEach) {
  Start();
  std::vector<AlarmRecord> burst;
  for (int n = 1; n <= 3; ++n) {
    burst.push_back(Record(n));
    burst.back().id = store.InsertAlarm(burst.back());
  }
  for (const AlarmRecord& record : burst) Post(record);
  ASSERT_EQ(popup->Alarms().size(), 3u);
  EXPECT_EQ(view->Caption(), QStringLiteral("Rovik警报(1/3)"));
  Click(1001);  // marks the alarm on show read
  EXPECT_EQ(store.GetUnreadCount(), 2);
}

TEST_F(PopupEndpointTest, HistoryPageNoteGoesThroughThePopup) {
  for (int i = 1; i <= 3; ++i) store.InsertAlarm(Record(i));
  Start();
  Click(1005);
  auto* history = popup->findChild<CDlgHistory*>();
  ASSERT_NE(history, nullptr);
  EXPECT_TRUE(history->isVisible());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(history));
  history->Grid().grab();  // painted: the footer links are placed
  QTest::mouseClick(&history->Grid(), Qt::LeftButton, {}, history->Grid().m_rcAction.center());
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(store.GetUnreadCount(), 0);
  QTest::mouseClick(&history->CloseButton(), Qt::LeftButton, {}, QPoint(13, 13));
  QCoreApplication::sendPostedEvents();
  EXPECT_FALSE(history->isVisible());
  EXPECT_FALSE(popup->isVisible());  // reloaded: nothing unread
}
