// The command endpoint in process: CDlgOperator over a store in a temp folder and a push channel
// that reaches no service, driven through its window by title as the video client drives it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <cstring>

#include "alarm/app/dlg_operator.h"
#include "alarm/push/push_channel.h"
#include "tests/alarm/app/monitor_harness.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"
#include "uikit/window_message.h"

using namespace rovik::alarm;

using namespace rovik::uikit;

using namespace monitortest;
using rovik::fixtures::ScopedEnv;
using rovik::fixtures::TempDir;
using rovik::platform::SendCopyData;

namespace {

constexpr std::size_t kBlock = 524288;

class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.Open(tmp_.Path().string());
    ASSERT_TRUE(store_.IsOpen());
    block_.assign(kBlock, 0x5A);
    op_ = std::make_unique<CDlgOperator>(nullptr, &store_, [this] {
      return std::make_unique<PushChannel>(&store_, PushServiceRequests::None());
    });
    op_->SetSharedBlock(block_.data(), block_.size());
    op_->SetQuitHandler([this] { ++quits_; });
    ASSERT_TRUE(op_->Create());
  }
  void TearDown() override {
    op_.reset();
    client_.Close();
  }

  int64_t Send(const std::string& text) {
    return SendCopyData("ROVIKALARM", 0, 0, text.data(), text.size());
  }
  int Insert(const std::string& time, const std::string& device = "door") {
    return store_.InsertAlarm(MakeAlarm("13800000000", device, time));
  }
  int AlarmCount() {
    AlarmList all;
    return store_.QueryAlarmsByTime(all, "0000-00-00 00:00:00", "9999-12-31 23:59:59");
  }

  TempDir tmp_{"rovik-endpoint-"};
  ScopedEnv run_{"ROVIK_RUNTIME_DIR", (tmp_.Path() / "run").string()};
  MdSQLite store_;
  std::vector<unsigned char> block_;
  std::unique_ptr<CDlgOperator> op_;
  ClientWindow client_;
  std::atomic<int> quits_{0};
};

TEST_F(EndpointTest, AnswersOneWhenThereIsNothingToDo) {
  EXPECT_TRUE(rovik::platform::FindWindowByTitle("ROVIKALARM"));
  EXPECT_EQ(Send(""), 1);
  EXPECT_EQ(Send("~5"), 1);
  EXPECT_EQ(Send("99~x"), 1);
  EXPECT_EQ(Send("4~"), 1);
  EXPECT_EQ(Send(std::string(40, '7') + "~1"), 1);
  EXPECT_EQ(Send("3"), 1);   // code without "~"
  EXPECT_EQ(Send("7~"), 1);  // empty argument: nothing done, success
  EXPECT_EQ(Send("5~"), 1);
  EXPECT_EQ(quits_.load(), 0);
  EXPECT_EQ(Send("0~"), 1);
  EXPECT_EQ(quits_.load(), 1);
}

TEST_F(EndpointTest, ListUnreadIntoSharedBlockAndTellClient) {
  int a = Insert("2015-03-01 08:00:00", "door");
  Insert("2015-03-01 09:00:00", "gas");
  Insert("2015-03-02 10:00:00", "smoke");
  int read = Insert("2015-03-02 11:00:00", "water");
  ASSERT_GT(a, 0);
  ASSERT_TRUE(store_.MarkAlarmRead(read));
  ASSERT_TRUE(client_.Open());

  EXPECT_EQ(Send("5~00"), 1);
  EXPECT_EQ(client_.Messages(), std::vector<std::string>{"6~3"});  // sent before the answer
  auto lines = ListLines(block_.data(), block_.size());
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_EQ(line.back(), u'|');
  // The block past the text is cleared.
  EXPECT_EQ(block_[kBlock - 1], 0);

  client_.Clear();
  EXPECT_EQ(Send("5~2015-03-02"), 1);
  EXPECT_EQ(client_.Messages(), std::vector<std::string>{"6~2"});
  EXPECT_EQ(ListLines(block_.data(), block_.size()).size(), 2u);

  // No alarms that day: 6~0, and the block keeps what it had.
  client_.Clear();
  std::vector<unsigned char> before = block_;
  EXPECT_EQ(Send("5~2016-01-01"), 1);
  EXPECT_EQ(client_.Messages(), std::vector<std::string>{"6~0"});
  EXPECT_EQ(block_, before);

  // A text that is no day at all lists nothing and harms nothing.
  client_.Clear();
  EXPECT_EQ(Send("5~' OR 1=1 --"), 1);
  EXPECT_EQ(client_.Messages(), std::vector<std::string>{"6~0"});
  EXPECT_EQ(AlarmCount(), 4);
}

TEST_F(EndpointTest, ListDoesNothingWithoutClientWindowOrBlock) {
  Insert("2015-03-01 08:00:00");
  EXPECT_EQ(Send("5~00"), 1);
  EXPECT_EQ(block_[0], 0x5A);  // untouched

  ASSERT_TRUE(client_.Open());
  op_->SetSharedBlock(nullptr, 0);
  EXPECT_EQ(Send("5~00"), 1);
  EXPECT_TRUE(client_.Messages().empty());
}

TEST_F(EndpointTest, MarkReadDeleteAndUnreadCountReachTheClient) {
  int a = Insert("2015-03-01 08:00:00");
  int b = Insert("2015-03-01 09:00:00");
  int c = Insert("2015-03-01 10:00:00");
  ASSERT_TRUE(client_.Open());

  EXPECT_EQ(Send("7~" + std::to_string(a) + "," + std::to_string(b)), 1);
  EXPECT_EQ(store_.GetUnreadCount(), 1);
  EXPECT_TRUE(client_.WaitFor("10~1", 5s));  // from the push thread

  client_.Clear();
  EXPECT_EQ(Send("8~" + std::to_string(c)), 1);
  EXPECT_EQ(AlarmCount(), 2);
  EXPECT_TRUE(client_.WaitFor("10~0", 5s));

  client_.Clear();
  EXPECT_EQ(Send("9~"), 1);
  EXPECT_TRUE(client_.WaitFor("10~0", 5s));
}

TEST_F(EndpointTest, HostileTextsChangeNothing) {
  Insert("2015-03-01 08:00:00");
  Insert("2015-03-01 09:00:00");
  ASSERT_TRUE(client_.Open());
  EXPECT_EQ(Send("7~1;DELETE FROM Alarm"), 0);
  EXPECT_EQ(Send("8~1) OR (1=1"), 0);
  EXPECT_EQ(Send("8~1,,2"), 0);
  EXPECT_EQ(Send(std::string("7~1\xff\xfe,2", 8)), 0);
  EXPECT_EQ(store_.GetUnreadCount(), 2);
  EXPECT_EQ(AlarmCount(), 2);
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 31);
  EXPECT_EQ(Send(binary), 1);
  std::string tildes(4 * 1024 * 1024 - 2, '~');
  EXPECT_EQ(Send(tildes), 1);
  EXPECT_EQ(Send("2~" + tildes), 1);
  EXPECT_EQ(AlarmCount(), 2);
  EXPECT_EQ(quits_.load(), 0);
}

TEST_F(EndpointTest, AccountsWaitForTheMqttClient) {
  // The channel reaches no broker here, so it never has a client: code 2 is ignored.
  UserList before;
  store_.LoadUsers(before);
  EXPECT_EQ(Send("2~0~13800000000&pw&Demo"), 1);
  UserList after;
  store_.LoadUsers(after);
  EXPECT_EQ(after.size(), before.size());
}

TEST_F(EndpointTest, AlarmMessagesFromPushThreadAndHistory) {
  rovik::uikit::WindowMessageEvent none(rovik::uikit::kMsgAlarmArrived, 0);
  QCoreApplication::sendEvent(op_.get(), &none);
  EXPECT_EQ(none.result, -1);

  int a = Insert("2015-03-01 08:00:00");
  int b = Insert("2015-03-01 09:00:00");
  AlarmRecord posted = MakeAlarm("13800000000", "not used", "2015-03-01 10:00:00");
  rovik::uikit::WindowMessageEvent arrived(rovik::uikit::kMsgAlarmArrived,
                                           reinterpret_cast<std::intptr_t>(&posted));
  QCoreApplication::sendEvent(op_.get(), &arrived);
  EXPECT_EQ(arrived.result, 0);
  // Hidden: the popup reloads the unread alarms from the store; the posted record is not used.
  ASSERT_EQ(op_->Alarms().size(), 2u);
  for (const auto& r : op_->Alarms()) EXPECT_STRNE(r->deviceName, "not used");

  rovik::uikit::WindowMessageEvent mark(rovik::uikit::kMsgMarkAlarmsRead, 0,
                                        QString::number(a) + "," + QString::number(b));
  QCoreApplication::sendEvent(op_.get(), &mark);
  EXPECT_EQ(mark.result, 1);
  EXPECT_EQ(store_.GetUnreadCount(), 0);
  rovik::uikit::WindowMessageEvent empty(rovik::uikit::kMsgMarkAlarmsRead, 0, QString());
  QCoreApplication::sendEvent(op_.get(), &empty);
  EXPECT_EQ(empty.result, 0);
  rovik::uikit::WindowMessageEvent bad(rovik::uikit::kMsgMarkAlarmsRead, 0,
                                       QStringLiteral("1 OR 1"));
  QCoreApplication::sendEvent(op_.get(), &bad);
  EXPECT_EQ(bad.result, 0);

  QWidget history;
  history.show();
  op_->SetHistory(&history);
  rovik::uikit::WindowMessageEvent closed(rovik::uikit::kMsgHistoryClosed);
  QCoreApplication::sendEvent(op_.get(), &closed);
  EXPECT_FALSE(history.isVisible());
  EXPECT_TRUE(op_->Alarms().empty());  // reloaded: nothing unread any more
}

}  // namespace
