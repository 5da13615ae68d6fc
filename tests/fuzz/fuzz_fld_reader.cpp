// ReadFldFile on any ".fld" file beside a send file. The first input byte
// picks the case of the ".fld" name; the rest is the file. The result must be
// the first line as the system reads it, and either a valid field list or one
// that ParseFieldList refuses cleanly.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using namespace pw;

using fuzz::Check;

struct Folder {
  Folder() : path(fs::temp_directory_path() / ("pw_fuzz_fld_" + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
    std::ofstream(path / "SEND.CSV") << "1,2\r\n";
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

// The system's reading of the first line, for lines of at most 64 KiB.
AnsiString Expected(std::string_view file) {
  AnsiString line(file.substr(0, file.find('\n')));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  line = LowerAscii(line);
  if (const std::size_t p = line.find("fields"); p != line.npos)
    line.erase(0, p + 6);
  else if (const std::size_t q = line.find("field"); q != line.npos)
    line.erase(0, q + 5);
  return TrimB(line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Folder folder;
  if (size < 1) return 0;
  static constexpr const char* kNames[] = {"SEND.fld", "SEND.FLD", "send.Fld", "SEND.fLd"};
  const fs::path fld = folder.path / kNames[data[0] % 4];
  const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
  {
    std::ofstream out(fld, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
  }

  const AnsiString list = ReadFldFile(folder.path / "SEND.CSV");
  fs::remove(fld);

  if (file.substr(0, file.find('\n')).size() <= 64 * 1024) Check(list == Expected(file), "the first line, read");
  Check(list.find('\n') == list.npos, "one line");
  Check(list == TrimB(list), "no surrounding blanks");

  FieldLayout layout;
  layout.iNFields = 3;
  const std::int32_t total = ParseFieldList(list, layout);
  if (total == 0) {
    Check(layout.iNFields == 0, "a refused list has no fields");
    return 0;
  }
  Check(layout.iNFields >= 1 && layout.iNFields <= kMaxFields, "1 to 256 fields");
  std::int32_t sum = 0;
  AnsiString canonical;
  for (std::int32_t i = 0; i < layout.iNFields; ++i) {
    Check(layout.Field[i].Start == sum, "each field starts where the last ended");
    Check(layout.Field[i].Width >= 1 && layout.Field[i].Width <= kMaxFieldWidth, "widths of 1 to 8192");
    sum += layout.Field[i].Width;
    canonical += (i ? " " : "") + std::to_string(layout.Field[i].Width);
  }
  Check(sum == total && total <= kMaxRecordLength, "the widths add up to the record length");
  FieldLayout again;
  Check(ParseFieldList(canonical, again) == total && again.iNFields == layout.iNFields, "the widths read back");
  return 0;
}
