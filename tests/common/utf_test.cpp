// UTF-8 and UTF-16.
#include "common/utf.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

TEST(Utf, RoundTripsJapaneseAndAstralCharacters) {
  const std::string text = "正常終了 ﾃﾞｰﾀ送信 \xF0\x9F\x98\x80";
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide.substr(0, 4), u"正常終了");
  EXPECT_EQ(wide[wide.size() - 2], 0xD83D);  // a surrogate pair
  EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("A\xFF" "B"), u"A\uFFFDB");
  EXPECT_EQ(Utf8ToUtf16("\xE6\xAD"), u"\uFFFD\uFFFD");  // truncated at the end
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace pw
