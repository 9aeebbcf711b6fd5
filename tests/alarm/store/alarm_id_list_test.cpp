#include "alarm/store/alarm_id_list.h"

#include <gtest/gtest.h>

using namespace rovik::alarm;

namespace {

using rovik::alarm::AlarmIdListToJson;
using rovik::alarm::ParseAlarmIdList;

TEST(AlarmIdList, PlainDecimalListsOnly) {
  std::vector<int64_t> ids{99};
  ASSERT_TRUE(ParseAlarmIdList("12,15,007", ids));
  EXPECT_EQ(ids, (std::vector<int64_t>{12, 15, 7}));
  std::string json;
  ASSERT_TRUE(AlarmIdListToJson("12,007", json));
  EXPECT_EQ(json, "[12,7]");
  ASSERT_TRUE(ParseAlarmIdList("999999999999999999", ids));
  for (const char* bad : {"", ",", "1,", "1;2", "1 ,2", "+1", "1e3", "9999999999999999999"}) {
    EXPECT_FALSE(ParseAlarmIdList(bad, ids)) << bad;
    EXPECT_TRUE(ids.empty());
  }
}

TEST(AlarmIdList, LongListsAreBounded) {
  std::string text = "1";
  for (std::size_t i = 1; i < rovik::alarm::kMaxAlarmIds; ++i) text += ",1";
  std::vector<int64_t> ids;
  EXPECT_TRUE(ParseAlarmIdList(text, ids));
  EXPECT_FALSE(ParseAlarmIdList(text + ",1", ids));
}

}  // namespace
