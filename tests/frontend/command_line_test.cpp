// The option table: every kind of value, the command word, the checks across
// options, and the one-line reason for each kind of mistake.
#include "frontend/command_line.h"

#include <gtest/gtest.h>

namespace pw::cli {
namespace {

enum class Mode { kNone, kGet, kPut };

struct Fields {
  Mode mode = Mode::kNone;
  std::string port, log = "default.log";
  std::filesystem::path dir;
  std::uint32_t speed = 115200;
  std::uint64_t block = 0;
  std::uint8_t fill = 0x1A;
  bool csv = false, fast = false;
  int size = 0;
  std::string expect, expectFields;
  std::vector<std::string> words;
};

struct Parsed {
  OptionTable::Result result;
  std::string error;
  Fields f;
};

Parsed Parse(std::vector<std::string_view> args) {
  Parsed p;
  Fields& f = p.f;
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
  t.Add("--fast", Flag([&f] {
          f.fast = true;
          f.size = 256;
        }));
  t.Add("--expect", Text(f.expect)).Only({"get"});
  t.Add("--expect-fields", Text(f.expectFields)).Needs("--expect");
  t.Words(f.words);
  p.result = t.Parse(args, p.error);
  return p;
}

TEST(CommandLine, FillsEveryKindOfField) {
  const Parsed get = Parse({"get", "--port", "COM1", "--dir=/tmp/in", "--speed", "9600", "--fill", "00", "--csv",
                            "--log=", "--expect", "ITEM.CSV", "--expect-fields", "8,20", "a", "--fast", "b"});
  ASSERT_EQ(get.result, OptionTable::Result::kRun) << get.error;
  EXPECT_EQ(get.f.mode, Mode::kGet);
  EXPECT_EQ(get.f.port, "COM1");
  EXPECT_EQ(get.f.dir, "/tmp/in");
  EXPECT_EQ(get.f.speed, 9600u);
  EXPECT_EQ(get.f.fill, 0x00);
  EXPECT_TRUE(get.f.csv && get.f.fast);
  EXPECT_EQ(get.f.size, 256);
  EXPECT_EQ(get.f.log, "") << "allowed empty";
  EXPECT_EQ(get.f.expectFields, "8,20");
  EXPECT_EQ(get.f.words, (std::vector<std::string>{"a", "b"}));

  const Parsed put = Parse({"put", "--port", "p", "--block", "1099511627776", "--port", "q"});
  ASSERT_EQ(put.result, OptionTable::Result::kRun) << put.error;
  EXPECT_EQ(put.f.mode, Mode::kPut);
  EXPECT_EQ(put.f.block, std::uint64_t{1} << 40);
  EXPECT_EQ(put.f.port, "q") << "the last one counts";
  EXPECT_EQ(put.f.speed, 115200u) << "defaults stay";

  EXPECT_EQ(Parse({"--help"}).result, OptionTable::Result::kHelp);
  EXPECT_EQ(Parse({"fetch", "--speed", "12x", "-h"}).result, OptionTable::Result::kHelp) << "wherever it stands";
}

TEST(CommandLine, SaysWhatIsWrongInOneLine) {
  const std::vector<std::pair<std::vector<std::string_view>, std::string>> cases = {
      {{}, "say get or put"},
      {{"--port", "p"}, "say get or put"},
      {{"fetch"}, "the first word must be get or put, not fetch"},
      {{"put", "--port", "p", "--speed", "12x"}, "--speed: 12x is not a supported speed"},
      {{"put", "--port", "p", "--speed", "12345"}, "--speed: 12345 is not a supported speed"},
      {{"put", "--port", "p", "--block", "0"}, "--block: 0 is not a number from 1 to 1099511627776"},
      {{"put", "--port", "p", "--block", "99999999999999999999"},
       "--block: 99999999999999999999 is not a number from 1 to 1099511627776"},
      {{"put", "--port", "p", "--block=-1"}, "--block: -1 is not a number from 1 to 1099511627776"},
      {{"put", "--port", "p", "--fill", "FF"}, "--fill: FF is not one of 1A, 00"},
      {{"put", "--port", ""}, "--port: the value is empty"},
      {{"get", "--port", "p", "--dir", ""}, "--dir: the path is empty"},
      {{"put", "--port"}, "--port needs a value"},
      {{"put", "--port", "p", "--csv=1"}, "--csv takes no value"},
      {{"put", "--port", "p", "--frob"}, "unknown option --frob"},
      {{"put", "--port", "p", "--dir", "d"}, "--dir is for get only"},
      {{"put", "--port", "p", "--expect-fields", "8"}, "--expect-fields needs --expect"},
      {{"put"}, "--port is needed"},
      {{"get", "--port", "p"}, "get needs --dir"},
  };
  for (const auto& [args, why] : cases) {
    const Parsed p = Parse(args);
    EXPECT_EQ(p.result, OptionTable::Result::kError) << why;
    EXPECT_EQ(p.error, why);
  }

  // A table without words refuses them.
  std::string dir, error;
  OptionTable t;
  t.Add("--dir", Text(dir));
  EXPECT_EQ(t.Parse({"--dir", "d", "extra"}, error), OptionTable::Result::kError);
  EXPECT_EQ(error, "unexpected word extra");
}

}  // namespace
}  // namespace pw::cli
