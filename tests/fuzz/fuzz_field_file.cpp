// A received field file's text, read whole (ParseFieldFile) and as blocks
// gathered by FieldFileCollector: both must agree, an accepted layout must
// hold together, and writing it out again (FieldHeader) must read back the same.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "content/field_file.h"
#include "content/received_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace pw;

using fuzz::Check;

bool SameLayout(const FieldLayout& a, const FieldLayout& b) {
  if (a.iNFields != b.iNFields || a.iRecSize != b.iRecSize || a.iRecSize0 != b.iRecSize0 || a.iRecords != b.iRecords ||
      a.ChkSize != b.ChkSize || a.ChkFName != b.ChkFName || a.FieldsDat != b.FieldsDat)
    return false;
  for (std::int32_t i = 0; i < a.iNFields; ++i)
    if (a.Field[i].Start != b.Field[i].Start || a.Field[i].Width != b.Field[i].Width) return false;
  return true;
}

bool NamesRawKind(std::string_view name) {
  for (std::string_view e : {".LCS", ".BMP", ".JPG", ".WAV", ".ZIP"})
    if (name.find(e) != name.npos) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  FieldLayout whole;
  whole.iNFields = 7;  // anything left from before must go
  const bool valid = ParseFieldFile(text, whole);

  // The same text as it arrives: 128-byte blocks (the collector keeps up to 64 KiB).
  FieldFileCollector collector;
  collector.Begin();
  for (std::size_t off = 0; off < size; off += 128)
    collector.AddBlock(std::span<const std::uint8_t>(data + off, std::min<std::size_t>(128, size - off)));
  FieldLayout gathered;
  const bool gatheredValid = collector.Finish(gathered);
  if (size <= 64 * 1024) {
    Check(gatheredValid == valid, "the collector reads what ParseFieldFile reads");
    Check(SameLayout(gathered, whole), "the collector's layout is ParseFieldFile's");
  }

  if (!valid) {
    Check(SameLayout(whole, FieldLayout{}), "a refused field file leaves an empty layout");
    return 0;
  }

  Check(!whole.ChkFName.empty() && !whole.FieldsDat.empty(), "a name and a field list");
  Check(whole.ChkSize > 0 && whole.iRecords > 0, "a positive size and record count");
  Check(whole.iNFields >= 0 && whole.iNFields <= kMaxFields, "at most 256 fields");
  std::int64_t sum = 0;
  for (std::int32_t i = 0; i < whole.iNFields; ++i) {
    Check(whole.Field[i].Start == sum, "each field starts where the last ended");
    Check(whole.Field[i].Width >= 0 && whole.Field[i].Width <= kMaxRecordUnit, "a width within a record unit");
    sum += whole.Field[i].Width;
  }
  Check(sum == whole.iRecSize && sum <= kMaxRecordUnit, "the widths add up to the record size");
  if (NamesRawKind(whole.ChkFName)) {
    Check(whole.iRecSize0 == whole.iRecSize, "a raw kind's unit is the record");
  } else {
    Check(static_cast<std::int64_t>(whole.iRecords) * whole.iRecSize0 == whole.ChkSize,
          "the size is records times units");
    Check(whole.iRecSize <= whole.iRecSize0 && whole.iRecSize0 <= whole.iRecSize + 2,
          "a unit is the record and at most a CR LF");
    Check(whole.iRecSize0 > 0 && whole.iRecSize0 <= kMaxRecordUnit, "a unit of 1 to 65537 bytes");
  }

  // Written out as a terminal writes it, it reads back the same (for a list
  // of numbers: a list holding the word "fields" would read differently).
  if (whole.FieldsDat.find_first_not_of("0123456789 ") != AnsiString::npos) return 0;
  FieldLayout again;
  const AnsiString rewritten =
      FieldHeader(whole.ChkFName, whole.ChkSize, whole.iRecords, whole.iNFields, whole.FieldsDat);
  Check(ParseFieldFile(rewritten, again), "a written field file is valid");
  Check(SameLayout(again, whole), "a written field file reads back the same");
  return 0;
}
