// Byte-wise text helpers: cuts and fills count bytes, never characters.
#include "common/ansi_string.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

// "ﾃｽﾄ表" in CP932: three one-byte katakana and one two-byte kanji.
const std::string kSjis = "\xC3\xBD\xC4\x95\x5C";

TEST(AnsiString, PartsCountBytes) {
  EXPECT_EQ(LeftB("ABCDEF", 3), "ABC");
  EXPECT_EQ(LeftB("AB", 5), "AB");
  EXPECT_EQ(MidB("ABCDEF", 2, 3), "BCD");
  EXPECT_EQ(MidB("ABCDEF", 5, 10), "EF");
  EXPECT_EQ(MidB("ABCDEF", 0, 2), "");
  EXPECT_EQ(MidB("ABCDEF", 7, 2), "");
  EXPECT_EQ(RightB("ABCDEF", 2), "EF");
  EXPECT_EQ(RightB("AB", 5), "AB");
  // A cut may split a double-byte character: only bytes count.
  EXPECT_EQ(LeftB(kSjis, 4), "\xC3\xBD\xC4\x95");
  EXPECT_EQ(RightB(kSjis, 1), "\x5C");
  EXPECT_EQ(MidB(kSjis, 4, 1), "\x95");
}

TEST(AnsiString, FitFillsWithBlanksThenCuts) {
  EXPECT_EQ(FitB("ITEM.CSV", 14), "ITEM.CSV      ");
  EXPECT_EQ(FitB("123456789012345", 14), "12345678901234");
  EXPECT_EQ(FitB("", 3), "   ");
  EXPECT_EQ(FitB(kSjis, 4), "\xC3\xBD\xC4\x95");
  EXPECT_EQ(FitB("x", 0), "");
}

TEST(AnsiString, ZeroPadLosesHighDigitsWhenWider) {
  EXPECT_EQ(ZeroPad(7, 3), "007");
  EXPECT_EQ(ZeroPad(115200, 6), "115200");
  EXPECT_EQ(ZeroPad(1234, 2), "34");
  EXPECT_EQ(ZeroPad(0, 4), "0000");
  EXPECT_EQ(ZeroPad(5, 0), "");
  EXPECT_EQ(ZeroPad(-12, 5), "-0012");
  EXPECT_EQ(ZeroPad(INT64_MIN, 4), "-808");
}

TEST(AnsiString, CaseChangesTouchAsciiLettersOnly) {
  EXPECT_EQ(UpperAscii("abc.pd4"), "ABC.PD4");
  // Trail bytes of double-byte characters may be ASCII letters; upper-casing
  // ASCII only keeps whole-byte semantics and leaves lead bytes alone.
  EXPECT_EQ(UpperAscii("\x83\x61z"), "\x83\x41Z");
  EXPECT_EQ(UpperAscii("\xB1\xB2"), "\xB1\xB2");
  EXPECT_EQ(LowerAscii("FIELDS 4,6"), "fields 4,6");
}

TEST(AnsiString, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(TrimB(" \t10 5\r\n"), "10 5");
  EXPECT_EQ(TrimB("\x01\x02"), "");
  EXPECT_EQ(TrimRightB("  AB \x1F "), "  AB");
}

TEST(AnsiString, ParseDecimalRefusesWhatDoesNotFit) {
  std::int32_t v = -1;
  EXPECT_TRUE(ParseDecimal("0", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(ParseDecimal("2147483647", v));
  EXPECT_EQ(v, 2147483647);
  EXPECT_FALSE(ParseDecimal("2147483648", v));
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(ParseDecimal("99999999999999999999", v));
  EXPECT_FALSE(ParseDecimal("", v));
  EXPECT_FALSE(ParseDecimal("12a", v));
  EXPECT_FALSE(ParseDecimal("-1", v));
  EXPECT_FALSE(ParseDecimal(" 1", v));
}

TEST(AnsiString, ParseDecimal64StopsAtTheLastValueThatFits) {
  std::uint64_t v = 1;
  EXPECT_TRUE(ParseDecimal("18446744073709551615", v));
  EXPECT_EQ(v, 18446744073709551615u);
  EXPECT_TRUE(ParseDecimal("0018446744073709551615", v)) << "leading zeros do not overflow";
  EXPECT_FALSE(ParseDecimal("18446744073709551616", v));
  EXPECT_EQ(v, 0u);
  EXPECT_FALSE(ParseDecimal("99999999999999999999", v));
  EXPECT_FALSE(ParseDecimal("1e3", v));
  EXPECT_FALSE(ParseDecimal("", v));
}

}  // namespace
}  // namespace pw
