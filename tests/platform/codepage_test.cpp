// The ANSI code page: the system's fixed texts have the byte lengths that the
// log and the line lay out.
#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

TEST(Codepage, FixedTextsHaveTheirShiftJisLengths) {
  struct Case {
    const char* text;
    std::size_t bytes;
  } cases[] = {
      {"正常終了", 8},           {"取消", 4},
      {"中断", 4},               {"送信ファイルが無い", 18},
      {"ﾌｨｰﾙﾄﾞﾌｧｲﾙ(ﾃﾞｰﾀ)ｴﾗｰ", 19}, {"送信データエラー", 16},
      {"ファイルアクセスエラー", 22}, {"タイムアウト", 12},
      {"通信エラー", 10},         {"受信ﾌｨｰﾙﾄﾞﾃﾞｰﾀｴﾗｰ", 17},
      {"受信データエラー", 16},   {"受信ﾊﾞｯﾌｧ読み取りｴﾗｰ", 20},
      {"送信ﾊﾞｯﾌｧ書き込みｴﾗｰ", 20}, {"受信ﾌｧｲﾙが違います", 18},
      {"指定ﾌｨｰﾙﾄﾞと違います", 20}, {"想定外のエラー", 14},
      {"件", 2},                 {"ﾊﾞｲﾄ", 4},
  };
  for (const auto& c : cases) EXPECT_EQ(ToAnsi(c.text).size(), c.bytes) << c.text;
}

TEST(Codepage, ConvertsToTheBytesWindowsUses) {
  EXPECT_EQ(ToAnsi("ITEM.CSV"), "ITEM.CSV");
  EXPECT_EQ(ToAnsi("ﾃﾞｰﾀ"), "\xC3\xDE\xB0\xC0");
  EXPECT_EQ(ToAnsi("正常"), "\x90\xB3\x8F\xED");
  // Code page 932 differs from plain Shift-JIS in these.
  EXPECT_EQ(ToAnsi("～"), "\x81\x60");  // FULLWIDTH TILDE
  EXPECT_EQ(ToAnsi("①"), "\x87\x40");   // an NEC extension
}

TEST(Codepage, RoundTripsAndReplacesWhatDoesNotConvert) {
  const std::string text = "ﾃﾞｰﾀ受信 業務設定受信";
  EXPECT_EQ(FromAnsi(ToAnsi(text)), text);
  EXPECT_EQ(ToAnsi("a\xF0\x9F\x98\x80" "b"), "a??b");  // no emoji in the code page: one ? per UTF-16 unit
  const std::string cut = FromAnsi("A\x81");  // a lead byte without its trail byte
  EXPECT_EQ(cut.substr(0, 1), "A");
  EXPECT_LE(cut.size(), 4u);
}

}  // namespace
}  // namespace pw
