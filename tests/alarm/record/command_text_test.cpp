// Command texts as the endpoint reads them.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "alarm/record/command_text.h"

using namespace rovik::alarm;

namespace {

CommandText parse(const std::string& text) { return ParseCommandText(text.data(), text.size()); }

TEST(CommandText, CodeAndArgument) {
  auto c = parse("7~12,15");
  EXPECT_TRUE(c.hasCode);
  EXPECT_EQ(c.code, 7);
  EXPECT_EQ(c.argument, "12,15");
  c = parse("3");  // no "~": the whole text is the code
  EXPECT_TRUE(c.hasCode);
  EXPECT_EQ(c.code, 3);
  EXPECT_EQ(c.argument, "");
  c = parse("2~0~a&b&c~d");  // only the first "~" splits
  EXPECT_EQ(c.code, 2);
  EXPECT_EQ(c.argument, "0~a&b&c~d");
  c = parse("9~");
  EXPECT_EQ(c.code, 9);
  EXPECT_EQ(c.argument, "");
}

TEST(CommandText, NothingToActOn) {
  EXPECT_FALSE(ParseCommandText(nullptr, 0).hasCode);
  EXPECT_FALSE(ParseCommandText("", 0).hasCode);
  EXPECT_FALSE(parse("~5").hasCode);
  EXPECT_FALSE(parse(std::string(1000, '~')).hasCode);
  // The text ends at the first zero byte, as in the receiver's zero-terminated copy.
  EXPECT_FALSE(parse(std::string("\0"
                                 "5~00",
                                 5))
                   .hasCode);
  auto c = parse(std::string("5~00\0junk", 9));
  EXPECT_EQ(c.code, 5);
  EXPECT_EQ(c.argument, "00");
}

TEST(CommandText, CodeReadAsAtoiWithinBounds) {
  EXPECT_EQ(parse("abc~x").code, 0);  // no digits: code 0
  EXPECT_EQ(parse(" 12~").code, 12);
  EXPECT_EQ(parse("-3~").code, -3);
  EXPECT_EQ(parse("5x~00").code, 5);
  EXPECT_EQ(parse(std::string(40, '9') + "~").code, INT_MAX);
  EXPECT_EQ(parse("-" + std::string(40, '9')).code, INT_MIN);
  EXPECT_EQ(parse("2147483647~").code, INT_MAX);
  EXPECT_EQ(parse("2147483648~").code, INT_MAX);
  // Only the first 31 characters of the code count.
  EXPECT_EQ(ReadCode(std::string(30, '0') + "12"), 1);
  EXPECT_TRUE(parse(std::string(5000, '0') + "~9").hasCode);
  EXPECT_EQ(parse(std::string(5000, '0') + "~9").code, 0);
}

TEST(AccountList, ReplaceOrAddAndSkipShortElements) {
  auto list = ParseAccountList("0~13800000000&pw&Demo user");
  EXPECT_TRUE(list.enough);
  EXPECT_TRUE(list.replace);
  ASSERT_EQ(list.users.size(), 1u);
  EXPECT_STREQ(list.users[0]->account, "13800000000");
  EXPECT_STREQ(list.users[0]->password, "pw");
  EXPECT_STREQ(list.users[0]->name, "Demo user");

  list = ParseAccountList("1~a&b~c&d&e&extra~~f&g&h");
  EXPECT_TRUE(list.enough);
  EXPECT_FALSE(list.replace);
  ASSERT_EQ(list.users.size(), 2u);  // "a&b" skipped, the next one intact
  EXPECT_STREQ(list.users[0]->account, "c");
  EXPECT_STREQ(list.users[0]->name, "e");
  EXPECT_STREQ(list.users[1]->account, "f");

  EXPECT_FALSE(ParseAccountList("0").enough);
  EXPECT_FALSE(ParseAccountList("").enough);
  EXPECT_FALSE(ParseAccountList("~~0~~").enough);
  list = ParseAccountList("0~x&y");
  EXPECT_TRUE(list.enough);  // acted on: the stored accounts are replaced by none
  EXPECT_TRUE(list.users.empty());
}

TEST(AccountList, LongTextsAreCutToTheirFieldsOnCharacterBoundaries) {
  std::string name;
  for (int i = 0; i < 200; ++i) name += "报";  // 600 bytes
  auto list =
      ParseAccountList("0~" + std::string(100, '1') + "&" + std::string(300, 'p') + "&" + name);
  ASSERT_EQ(list.users.size(), 1u);
  const UserRecord& u = *list.users[0];
  EXPECT_EQ(std::strlen(u.account), 31u);
  EXPECT_EQ(std::strlen(u.password), 255u);
  EXPECT_EQ(std::strlen(u.name), 255u);  // 85 whole characters
  EXPECT_EQ(std::string(u.name), name.substr(0, 255));
}

TEST(ClientText, Format) {
  EXPECT_EQ(ClientCommandText(6, 3), "6~3");
  EXPECT_EQ(ClientCommandText(10, 0), "10~0");
}

}  // namespace
