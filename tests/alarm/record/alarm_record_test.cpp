#include "alarm/record/alarm_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "alarm/record/utf_text.h"

using namespace rovik::alarm;

namespace {

using rovik::alarm::FieldText;

// Runs a test body with TZ set, restoring the previous zone afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

AlarmRecord Fill(std::string_view topic, std::string_view payload) {
  AlarmRecord r;
  ClearRecord(r);
  rovik::alarm::CopyField(r.userName, u"张三");
  FillRecordFromMessage(r, topic, payload.data(), payload.size());
  return r;
}

bool DeviceFieldsEmpty(const AlarmRecord& r) {
  return r.ipcId[0] == 0 && r.ipcName[0] == 0 && r.deviceName[0] == 0 && r.deviceType[0] == 0 &&
         r.alarmTime[0] == 0;
}

// A clock the test moves by hand.
struct FakeClock {
  SystemTime now{2015, 3, 1, 0, 0, 0, 0};
  UtcClock Clock() {
    return [this] { return now; };
  }
  void At(int second, int ms = 0) {
    now.minute = second / 60;
    now.second = second % 60;
    now.milliseconds = ms;
  }
};

TEST(AlarmRecordLayout, FieldsLieAtTheirOffsetsAndNameIsUtf16le) {
  AlarmRecord r;
  ClearRecord(r);
  r.id = 0x01020304;
  rovik::alarm::CopyField(r.userName, u"A门");
  const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
  EXPECT_EQ(bytes[0], 0x04);
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_EQ(bytes[728], 'A');
  EXPECT_EQ(bytes[729], 0);
  EXPECT_EQ(bytes[730], 0xE8);  // U+95E8, low byte first
  EXPECT_EQ(bytes[731], 0x95);
  ClearRecord(r);
  for (std::size_t i = 0; i < sizeof r; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST(FillRecordFromMessage, TheUtcPlus8ExampleGivesItsLocalTime) {
  ScopedTimeZone zone("CST-8");
  const AlarmRecord r =
      Fill("13800000000", R"({"ipcId":"A1","deviceType":"DS","almTime":1425168000,"other":[1,2]})");
  EXPECT_EQ(FieldText(r.account), "13800000000");
  EXPECT_EQ(FieldText(r.ipcId), "A1");
  EXPECT_EQ(FieldText(r.deviceType), "DS");
  EXPECT_EQ(FieldText(r.alarmTime), "2015-03-01 08:00:00");
  EXPECT_EQ(FieldText(r.userName), u"张三");
  EXPECT_EQ(AlarmTypeName(FieldText(r.deviceType)), u"门磁打开");
  EXPECT_EQ(r.id, 0);
  EXPECT_EQ(r.state, 0);
}

TEST(FillRecordFromMessage, ZoneChangesAreHonouredAndRealTimesAreCut) {
  {
    ScopedTimeZone zone("UTC0");
    EXPECT_EQ(FieldText(Fill("t", R"({"almTime":1425168000.9})").alarmTime), "2015-03-01 00:00:00");
  }
  ScopedTimeZone zone("CST-8");
  EXPECT_EQ(FieldText(Fill("t", R"({"almTime":1425168000})").alarmTime), "2015-03-01 08:00:00");
}

TEST(FillRecordFromMessage, PayloadsWithoutAlarmDataKeepOnlyAccountAndName) {
  const std::vector<std::string> payloads = {
      R"({"errno":1,"ipcId":"A1","deviceType":"DS"})",
      "not json at all",
      "{}",
      R"(["ipcId","A1"])",
      R"({"ipcId":"A1")",  // cut short
      std::string(R"({"ipcId":"A1","pad":")") + std::string(kMaxAlarmPayload, 'x') + "\"}",
      std::string(200, '[') + std::string(200, ']'),
  };
  for (const std::string& p : payloads) {
    const AlarmRecord r = Fill("13800000000", p);
    EXPECT_TRUE(DeviceFieldsEmpty(r)) << p.substr(0, 60);
    EXPECT_EQ(FieldText(r.account), "13800000000");
    EXPECT_EQ(FieldText(r.userName), u"张三");
  }
  // errno 0 (or absent, or not a number) still carries the alarm.
  EXPECT_EQ(FieldText(Fill("a", R"({"errno":0,"ipcId":"A1"})").ipcId), "A1");
  EXPECT_EQ(FieldText(Fill("a", R"({"errno":"1","ipcId":"A1"})").ipcId), "A1");
}

TEST(FillRecordFromMessage, WrongTypesAndNullsCountAsAbsent) {
  const AlarmRecord r = Fill(
      "a",
      R"({"ipcId":12,"ipcName":null,"deviceName":["x"],"deviceType":{"a":1},"almTime":"1425168000"})");
  EXPECT_TRUE(DeviceFieldsEmpty(r));
  const AlarmRecord big = Fill("a", R"({"almTime":1e300,"deviceName":"ok"})");
  EXPECT_EQ(FieldText(big.alarmTime), "");
  EXPECT_EQ(FieldText(big.deviceName), "ok");
}

TEST(FillRecordFromMessage, LongTextsAreCutAtTheRoomOnCharacterBoundaries) {
  // 40 bytes of topic: 30 kept. ipcName of 100 three-byte characters: 84 characters (252 bytes).
  std::string name;
  for (int i = 0; i < 100; ++i) name += "门";
  const std::string topic(40, '7');
  const AlarmRecord r = Fill(topic, R"({"ipcName":")" + name +
                                        R"(","deviceType":"DSDSDSDSDSDSDSDSDS",)"
                                        R"("ipcId":"a\u0000b","deviceName":")" +
                                        std::string(300, 'd') + "\"}");
  EXPECT_EQ(FieldText(r.account), std::string(30, '7'));
  EXPECT_EQ(FieldText(r.ipcName).size(), 252u);
  EXPECT_EQ(FieldText(r.ipcName), name.substr(0, 252));
  EXPECT_EQ(FieldText(r.deviceType), "DSDSDSDSDSDSDS");
  EXPECT_EQ(FieldText(r.ipcId), "a");
  EXPECT_EQ(FieldText(r.deviceName), std::string(254, 'd'));
  EXPECT_EQ(r.deviceName[254], 0);
  EXPECT_EQ(r.deviceName[255], 0);
}

TEST(DuplicateRule, KeyJoinsAccountDeviceAndType) {
  AlarmRecord r = Fill("138", R"({"deviceName":"前门","deviceType":"DS"})");
  EXPECT_EQ(MakeDuplicateKey(r), "138~前门~DS");
  ClearRecord(r);
  EXPECT_EQ(MakeDuplicateKey(r), "~~");
}

TEST(DuplicateRule, RepeatsRenewTheTimeUntilATenSecondGap) {
  FakeClock clock;
  std::string lastTopic, lastKey;
  SystemTime lastTime;
  const auto accept = [&](std::string_view topic, std::string_view key) {
    return AcceptAlarm(topic, key, lastTopic, lastKey, lastTime, clock.Clock());
  };
  clock.At(0);
  EXPECT_TRUE(accept("138", "138~door~DS"));
  clock.At(5);
  EXPECT_FALSE(accept("138", "138~door~DS"));
  clock.At(14);  // 14 s after the first, 9 after the dropped one
  EXPECT_FALSE(accept("138", "138~door~DS"));
  // The same sensor on another account's topic, and another sensor, are not repeats.
  clock.At(15);
  EXPECT_TRUE(accept("139", "139~door~DS"));
  EXPECT_TRUE(accept("138", "138~door~DS"));
  clock.At(24);
  EXPECT_FALSE(accept("138", "138~door~DS"));
  clock.At(34);  // ten seconds without a repeat
  EXPECT_TRUE(accept("138", "138~door~DS"));
  EXPECT_EQ(lastTopic, "138");
}

// A backlog delivered in one burst (all arriving within a second) is judged by the alarms' own
// times; arrival time decides only where an alarm carries none.
TEST(DuplicateRule, OwnAlarmTimesDecideWhenBothCarryOne) {
  struct Case {
    const char* key;
    const char* alarmTime;
    int arrival;  // seconds on the fake clock
    bool accepted;
  };
  const Case cases[] = {
      {"138~front~DS", "2015-03-01 22:13:00", 0, true},
      {"138~front~DS", "2015-03-01 22:23:00", 0, true},  // ten minutes later, same burst
      {"138~front~DS", "2015-03-01 22:33:00", 0, true},
      {"138~back~DS", "2015-03-01 22:43:00", 0, true},
      {"138~front~DS", "2015-03-01 22:53:00", 1, true},
      {"138~front~DS", "2015-03-01 22:53:05", 30,
       false},  // fired again within 10 s of its own time
      {"138~front~DS", "2015-03-01 22:53:14", 31, false},  // 9 s after the dropped one
      {"138~front~DS", "2015-03-01 22:53:24", 32, true},
      {"138~front~DS", "", 33, false},  // no own time: arrival, 1 s apart
      {"138~front~DS", "not a time", 50, true},
  };
  FakeClock clock;
  RepeatState last;
  for (const Case& c : cases) {
    clock.At(c.arrival);
    EXPECT_EQ(AcceptAlarm("138", c.key, c.alarmTime, last, clock.Clock()), c.accepted)
        << c.key << " " << c.alarmTime;
  }
  int64_t seconds = 0;
  EXPECT_TRUE(AlarmTimeSeconds("1970-01-02 00:00:01", seconds));
  EXPECT_EQ(seconds, 86401);
  EXPECT_FALSE(AlarmTimeSeconds("2015-02-30 00:00:00", seconds));
}

TEST(DuplicateRule, EmptyLastValuesNeverMakeADuplicate) {
  FakeClock clock;
  std::string lastTopic, lastKey;
  SystemTime lastTime;
  EXPECT_TRUE(AcceptAlarm("", "", lastTopic, lastKey, lastTime, clock.Clock()));
  EXPECT_TRUE(AcceptAlarm("", "", lastTopic, lastKey, lastTime, clock.Clock()));
}

TEST(ElapsedSeconds, WholeSecondsWithoutMillisecondsAndStoredTimeRenewed) {
  FakeClock clock;
  SystemTime stored{2015, 3, 1, 0, 0, 0, 900};
  clock.At(9, 800);  // 8.9 s of real time, but the seconds differ by 9
  EXPECT_EQ(ElapsedSeconds(stored, clock.Clock()), 9);
  EXPECT_EQ(stored.second, 9);
  EXPECT_EQ(stored.milliseconds, 800);
  clock.At(0);
  EXPECT_EQ(ElapsedSeconds(stored, clock.Clock()), -9);
  // Across a day, a month and a leap day.
  stored = SystemTime{2016, 2, 28, 23, 59, 59, 0};
  clock.now = SystemTime{2016, 3, 1, 0, 0, 1, 0};
  EXPECT_EQ(ElapsedSeconds(stored, clock.Clock()), 86400 + 2);
  // Before 1899-12-30 the scale stays continuous.
  stored = SystemTime{1899, 12, 29, 23, 59, 50, 0};
  clock.now = SystemTime{1899, 12, 30, 0, 0, 5, 0};
  EXPECT_EQ(ElapsedSeconds(stored, clock.Clock()), 15);
}

TEST(ElapsedSeconds, InvalidTimesGiveZero) {
  FakeClock clock;
  SystemTime never;  // all zero: not a date
  EXPECT_EQ(ElapsedSeconds(never, clock.Clock()), 0);
  SystemTime feb30{2015, 2, 30, 0, 0, 0, 0};
  EXPECT_EQ(ElapsedSeconds(feb30, clock.Clock()), 0);
  EXPECT_EQ(feb30.day, 1);  // renewed all the same
}

TEST(AlarmTypeName, ExactCodesOnly) {
  EXPECT_EQ(AlarmTypeName("DS"), u"门磁打开");
  EXPECT_EQ(AlarmTypeName("EB"), u"紧急按钮");
  EXPECT_EQ(AlarmTypeName("GA"), u"瓦斯泄露");
  EXPECT_EQ(AlarmTypeName("PD"), u"红外报警");
  EXPECT_EQ(AlarmTypeName("SF"), u"火灾烟雾");
  EXPECT_EQ(AlarmTypeName("WA"), u"漏水报警");
  EXPECT_EQ(AlarmTypeName("MA"), u"移动报警器");
  EXPECT_EQ(AlarmTypeName("ds"), u"有报警");
  EXPECT_EQ(AlarmTypeName("DSX"), u"有报警");
  EXPECT_EQ(AlarmTypeName(""), u"有报警");
  char16_t buffer[16];
  std::memset(buffer, 0xFF, sizeof buffer);
  AlarmTypeName("MA", buffer, 16);
  EXPECT_EQ(std::u16string_view(buffer), u"移动报警器");
}

AlarmRecord SampleRecord() {
  AlarmRecord r;
  ClearRecord(r);
  r.id = 42;
  rovik::alarm::CopyField(r.account, "138");
  rovik::alarm::CopyField(r.ipcId, "A1");
  rovik::alarm::CopyField(r.ipcName, "客厅");
  rovik::alarm::CopyField(r.deviceName, "前|门~");
  rovik::alarm::CopyField(r.deviceType, "GA");
  rovik::alarm::CopyField(r.alarmTime, "2015-03-01 08:00:00");
  rovik::alarm::CopyField(r.userName, u"张三");
  return r;
}

TEST(FormatAlarmLine, TenFieldsInOrderSeparatorsInFieldsFullWidth) {
  AlarmRecord r = SampleRecord();
  EXPECT_EQ(FormatAlarmLine(r, false),
            u"2015-03-01 08:00:00~瓦斯泄露~前｜门～~客厅~张三~~138~A1~42~未读");
  r.state = 1;
  rovik::alarm::CopyField(r.readTime, "2015-03-02 09:00:00");
  EXPECT_EQ(FormatAlarmLine(r, true),
            u"2015-03-01 08:00:00~瓦斯泄露~前｜门～~客厅~张三~2015-03-02 09:00:00~138~A1~42~已读|");
}

TEST(WriteAlarmList, LinesFollowEachOtherAndRecordsAreFreed) {
  std::vector<unsigned char> block(kAlarmListBlockSize, 0xAA);
  AlarmList list;
  for (int i = 0; i < 3; ++i) {
    list.push_back(std::make_unique<AlarmRecord>(SampleRecord()));
    list.back()->id = i + 1;
  }
  EXPECT_EQ(WriteAlarmList(list, block.data()), 3u);
  for (const auto& slot : list) EXPECT_EQ(slot, nullptr);
  std::u16string expected;
  for (int i = 1; i <= 3; ++i) {
    AlarmRecord r = SampleRecord();
    r.id = i;
    expected += FormatAlarmLine(r, true);
  }
  std::u16string text;
  for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(block[i] | (block[i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  EXPECT_EQ(text, expected);
  EXPECT_EQ(block.back(), 0);  // the rest of the block was cleared
}

TEST(WriteAlarmList, CutBeforeTheFirstLineThatDoesNotFit) {
  AlarmRecord r = SampleRecord();
  rovik::alarm::CopyField(r.ipcName, std::string(254, 'n'));
  rovik::alarm::CopyField(r.deviceName, std::string(254, 'd'));
  const std::size_t lineBytes = FormatAlarmLine(r, true).size() * 2;
  const std::size_t fitting = kAlarmListMaxBytes / lineBytes;
  AlarmList list;
  for (std::size_t i = 0; i < fitting + 5; ++i) list.push_back(std::make_unique<AlarmRecord>(r));
  std::vector<unsigned char> block(kAlarmListBlockSize, 0xAA);
  EXPECT_EQ(WriteAlarmList(list, block.data()), fitting);
  // The text ends with a complete line and its "|", then zeros to the end.
  const std::size_t end = fitting * lineBytes;
  EXPECT_EQ(block[end - 2], '|');
  EXPECT_EQ(block[end - 1], 0);
  for (std::size_t i = end; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(list[fitting], nullptr);  // the first line that did not fit was taken and freed
  EXPECT_NE(list[fitting + 1], nullptr);
}

TEST(SplitText, NonEmptyPiecesAppended) {
  std::vector<std::string> list{"kept"};
  EXPECT_EQ(SplitText("1~~a&b&c~", "~", list), 3);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "1", "a&b&c"}));
  std::vector<std::string> pieces;
  const std::string longPiece(4095, 'x');
  EXPECT_EQ(SplitText("a&&" + longPiece + "&&" + std::string(4094, 'y') + "&&b", "&&", pieces), 3);
  EXPECT_EQ(pieces[1].size(), 4094u);
  EXPECT_EQ(SplitText("", "~", pieces), 3);
  EXPECT_EQ(SplitText("abc", "", pieces), 4);
}

}  // namespace
