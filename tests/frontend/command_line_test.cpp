// The option table: every kind of value, the command word, the checks across
// options, and the one-line reason for each kind of mistake.
#include "frontend/command_line.h"

#include <gtest/gtest.h>

namespace pw::cli {
namespace {

enum class Mode { kNone, kGet, kPut };

struct Fields {
  Mode mode = Mode::kNone;
  std::string port, log = "default.log", expect, expectFields;
  std::filesystem::path dir;
  std::uint32_t speed = 115200;
  std::uint64_t block = 0;
  std::uint8_t fill = 0x1A;
  bool csv = false;
  std::vector<std::string> words;
};

OptionTable::Result Parse(std::vector<std::string_view> args, Fields& f, std::string& error) {
  OptionTable t;
  t.Commands(f.mode, {{"get", Mode::kGet}, {"put", Mode::kPut}});
  t.Add("--port", Text(f.port)).Required();
  t.Add("--log", Text(f.log, true));
  t.Add("--dir", Path(f.dir)).Only({"get"}).RequiredFor("get");
  t.Add("--speed", Number(
                       f.speed, [](std::uint64_t v) { return v == 9600 || v == 115200; }, "a supported speed"));
  t.Add("--block", Number(f.block, 1, std::uint64_t{1} << 40)).Only({"put"});
  t.Add("--fill", Choice<std::uint8_t>(f.fill, {{"1A", 0x1A}, {"00", 0x00}}));
  t.Add("--csv", Flag(f.csv));
  t.Add("--expect", Text(f.expect));
  t.Add("--expect-fields", Text(f.expectFields)).Needs("--expect");
  t.Words(f.words);
  return t.Parse(args, error);
}

// bhtsim's and linesim's tests read their real tables; this adds what they lack.
TEST(CommandLine, FillsEveryKindOfField) {
  Fields f;
  std::string error;
  ASSERT_EQ(Parse({"get", "--port", "COM1", "--dir=/in", "--fill", "00", "--log=", "a", "--expect", "X",
                   "--expect-fields", "8,20", "--port", "COM2", "b"},
                  f, error),
            OptionTable::Result::kRun)
      << error;
  EXPECT_EQ(f.mode, Mode::kGet);
  EXPECT_EQ(f.port, "COM2") << "the last one counts";
  EXPECT_EQ(f.dir, "/in");
  EXPECT_EQ(f.fill, 0x00);
  EXPECT_EQ(f.log, "");
  EXPECT_EQ(f.words, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Parse({"fetch", "--speed", "12x", "-h"}, f, error), OptionTable::Result::kHelp) << "wherever it stands";
}

TEST(CommandLine, SaysWhatIsWrongInOneLine) {
  const std::vector<std::pair<std::vector<std::string_view>, std::string>> cases = {
      {{"--port", "p"}, "say get or put"},
      {{"fetch"}, "the first word must be get or put, not fetch"},
      {{"put", "--port", "p", "--speed", "12x"}, "--speed: 12x is not a supported speed"},
      {{"put", "--port", "p", "--block", "0"}, "--block: 0 is not a number from 1 to 1099511627776"},
      {{"put", "--port", "p", "--block=99999999999999999999"},
       "--block: 99999999999999999999 is not a number from 1 to 1099511627776"},
      {{"put", "--port", "p", "--fill", "FF"}, "--fill: FF is not one of 1A, 00"},
      {{"put", "--port", ""}, "--port: the value is empty"},
      {{"put", "--port"}, "--port needs a value"},
      {{"put", "--port", "p", "--csv=1"}, "--csv takes no value"},
      {{"put", "--port", "p", "--frob"}, "unknown option --frob"},
      {{"put", "--port", "p", "--dir", "d"}, "--dir is for get only"},
      {{"put", "--port", "p", "--expect-fields", "8"}, "--expect-fields needs --expect"},
      {{"put"}, "--port is needed"},
      {{"get", "--port", "p"}, "get needs --dir"},
  };
  for (const auto& [args, why] : cases) {
    Fields f;
    std::string error;
    EXPECT_EQ(Parse(args, f, error), OptionTable::Result::kError) << why;
    EXPECT_EQ(error, why);
  }
  std::string dir, error;
  OptionTable t;
  t.Add("--dir", Text(dir));
  EXPECT_EQ(t.Parse({"--dir", "d", "extra"}, error), OptionTable::Result::kError);
  EXPECT_EQ(error, "unexpected word extra");
}

}  // namespace
}  // namespace pw::cli
