// The client's reading of the monitor's messages and of the shared alarm list, and the command
// texts it sends back.
#include "tools/rovikclient/monitor_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace rovik::alarm;

using namespace rovikclient;

namespace {

std::optional<MonitorMessage> Parse(const std::string& text) {
  return ParseMonitorMessage(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Writes UTF-16LE text into a block as the monitor does.
std::vector<uint8_t> Block(const std::u16string& text, std::size_t size = 4096) {
  std::vector<uint8_t> block(size, 0);
  for (std::size_t i = 0; i < text.size() && 2 * i + 1 < size; ++i) {
    block[2 * i] = static_cast<uint8_t>(text[i] & 0xff);
    block[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return block;
}

}  // namespace

TEST(MonitorMessages, CodesAndValues) {
  EXPECT_EQ(Parse("1~0")->kind, MonitorMessage::Kind::Connected);
  auto list = Parse("6~3");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->kind, MonitorMessage::Kind::ListReady);
  EXPECT_EQ(list->value, 3);
  auto unread = Parse("10~42");
  EXPECT_EQ(unread->kind, MonitorMessage::Kind::UnreadCount);
  EXPECT_EQ(unread->value, 42);
  EXPECT_EQ(Parse("10~x")->value, 0);
  EXPECT_EQ(Parse("77~whatever")->kind, MonitorMessage::Kind::Other);
}

TEST(MonitorMessages, TextsWithoutCodeAreIgnored) {
  EXPECT_FALSE(Parse(""));
  EXPECT_FALSE(Parse("~5"));
  EXPECT_FALSE(Parse("a~5"));
  EXPECT_FALSE(Parse(std::string(32, '1') + "~0"));
  EXPECT_TRUE(Parse(std::string(31, '1') + "~0"));
}

TEST(MonitorMessages, AlarmBlockIsTheRecordByteForByte) {
  AlarmRecord record;
  ClearRecord(record);
  record.id = 12;
  std::strcpy(record.deviceType, "DS");
  std::strcpy(record.deviceName, "门磁");
  record.userName[0] = u'张';
  std::string block = "4~";
  block.append(reinterpret_cast<const char*>(&record), sizeof record);
  block.push_back('\0');
  ASSERT_EQ(block.size(), 1243u);
  auto message = Parse(block);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->kind, MonitorMessage::Kind::Alarm);
  EXPECT_EQ(std::memcmp(&message->record, &record, sizeof record), 0);

  // A short or long block is not an alarm.
  EXPECT_FALSE(Parse(block.substr(0, 1242)));
  EXPECT_FALSE(Parse(block + "x"));
}

TEST(MonitorMessages, CommandTexts) {
  EXPECT_EQ(AccountsCommand({{"138", "pw", "Demo"}, {"139", "", "Two"}}),
            "2~0~138&pw&Demo~139&NULL&Two");
  EXPECT_EQ(AccountsCommand({}), "3~");
  // Separators inside a field cannot be carried: that account is left out.
  EXPECT_EQ(AccountsCommand({{"1~2", "pw", "n"}}), "3~");
  EXPECT_EQ(AccountsCommand({{"1", "p&w", "n"}, {"2", "pw", "n"}}), "2~0~2&pw&n");
  EXPECT_EQ(ListUnreadCommand(), "5~00");
  EXPECT_EQ(ListDayCommand(2015, 3, 1), "5~2015-03-01");
  EXPECT_EQ(MarkReadCommand({12, 15}), "7~12,15");
  EXPECT_EQ(DeleteCommand({3}), "8~3");
  EXPECT_EQ(UnreadCountCommand(), "9~");
}

TEST(MonitorMessages, SharedListLines) {
  const std::u16string text =
      u"2015-03-01 10:00:00~门磁~Door~Cam~张三~~138~ipc1~7~未读|"
      u"2015-03-01 09:00:00~烟感~Smoke~Cam~张三~2015-03-01 09:30:00~138~ipc1~6~已读|";
  auto block = Block(text);
  auto lines = ReadAlarmListBlock(block.data(), block.size(), 2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].alarmTime, u"2015-03-01 10:00:00");
  EXPECT_EQ(lines[0].typeName, u"门磁");
  EXPECT_EQ(lines[0].id, 7);
  EXPECT_TRUE(lines[0].unread);
  EXPECT_EQ(lines[1].readTime, u"2015-03-01 09:30:00");
  EXPECT_FALSE(lines[1].unread);

  // Only as many lines as announced.
  EXPECT_EQ(ReadAlarmListBlock(block.data(), block.size(), 1).size(), 1u);
  EXPECT_TRUE(ReadAlarmListBlock(block.data(), block.size(), 0).empty());
}

TEST(MonitorMessages, SharedListEdges) {
  // A "~" inside the device name stays in the device name.
  auto block = Block(u"t~type~Door~left~cam~user~~acct~ipc~9~未读|");
  auto lines = ReadAlarmListBlock(block.data(), block.size(), 5);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].deviceName, u"Door~left");
  EXPECT_EQ(lines[0].ipcName, u"cam");
  EXPECT_EQ(lines[0].id, 9);

  // A block filled to its end with no terminator is never read past its size.
  std::vector<uint8_t> full(64, 'a');
  EXPECT_TRUE(ReadAlarmListBlock(full.data(), full.size(), 3).empty());
  // An odd size leaves the last byte alone.
  auto odd = Block(u"a~b~c~d~e~f~g~h~1~未读|", 45);
  EXPECT_TRUE(ReadAlarmListBlock(odd.data(), odd.size(), 1).size() <= 1u);
}
