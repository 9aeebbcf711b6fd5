#include "alarm/record/utf_text.h"

#include <gtest/gtest.h>

using namespace rovik::alarm;

namespace {

using namespace rovik;

TEST(UtfText, RoundTripsAndReplacesInvalidInput) {
  const std::string text = "Zoë 门 😀";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("😀").size(), 2u);
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xE9\x97"), u"\uFFFD\uFFFD");            // cut sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(UtfText, CopiesStopAtTheRoomWithoutSplittingCharacters) {
  char field[8];
  CopyField(field, "门门门", 7);  // 9 bytes: two characters fit
  EXPECT_EQ(FieldText(field), "门门");
  CopyField(field, "abcdefghij");  // room clamped to 7
  EXPECT_EQ(FieldText(field), "abcdefg");
  EXPECT_EQ(field[7], 0);
  char16_t name[4];
  CopyField(name, u"ab😀");  // the pair would need units 2 and 3; only 3 units of room
  EXPECT_EQ(FieldText(name), u"ab");
  CopyField(name, u"a😀x");
  EXPECT_EQ(FieldText(name), u"a😀");
}

TEST(UtfText, FieldTextNeverReadsPastTheField) {
  char full[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(FieldText(full), "abcd");
  char16_t units[2] = {u'x', u'y'};
  EXPECT_EQ(FieldText(units), u"xy");
}

}  // namespace
