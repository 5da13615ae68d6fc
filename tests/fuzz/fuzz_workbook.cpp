// A workbook whose sheet and shared strings are whatever the input holds,
// the rest of the package well formed: opened as the server opens a sheet,
// its columns listed and every row read cell by cell, then a row appended
// and rolled back. Nothing may crash, hang or grow without bound, and a
// rolled-back workbook stays as it was.
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "tablink/stores/workbook_store.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using namespace pw::tablink;
using pw::fuzz::Check;

constexpr std::string_view kContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
    R"(<Default Extension="xml" ContentType="application/xml"/>)"
    R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
    R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
    R"(<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>)"
    R"(</Types>)";
constexpr std::string_view kRels =
    R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
    R"(</Relationships>)";
constexpr std::string_view kWorkbook =
    R"(<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)"
    R"(<sheet name="T" sheetId="1" r:id="rId1"/></sheets></workbook>)";
constexpr std::string_view kWorkbookRels =
    R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
    R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)"
    R"(</Relationships>)";

void Add(zip_t* z, const char* name, std::string_view data) {
  zip_source_t* s = zip_source_buffer(z, data.data(), data.size(), 0);
  Check(s && zip_file_add(z, name, s, ZIP_FL_OVERWRITE) >= 0, "the test workbook cannot be made");
}

/// The run's folder, removed when the fuzzer ends.
struct Scratch {
  Scratch() : dir(fs::temp_directory_path() / ("fuzz_workbook." + std::to_string(getpid()))) {
    fs::create_directories(dir);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The sheet's part, a zero byte, the shared strings.
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = std::min(input.find('\0'), input.size());
  const std::string sheet(input.substr(0, cut));
  const std::string strings(cut < input.size() ? input.substr(cut + 1) : std::string_view{});

  static const Scratch scratch;
  const fs::path book = scratch.dir / "book.xlsx";
  fs::remove(book);
  int err = 0;
  zip_t* z = zip_open(book.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  Check(z != nullptr, "the test workbook cannot be made");
  Add(z, "[Content_Types].xml", kContentTypes);
  Add(z, "_rels/.rels", kRels);
  Add(z, "xl/workbook.xml", kWorkbook);
  Add(z, "xl/_rels/workbook.xml.rels", kWorkbookRels);
  Add(z, "xl/worksheets/sheet1.xml", sheet);
  Add(z, "xl/sharedStrings.xml", strings);
  Check(zip_close(z) == 0, "the test workbook cannot be written");
  const std::string before = ReadAll(book);

  std::string why;
  std::unique_ptr<TableConnection> c = OpenWorkbook(book, why);
  if (!c) return 0;
  std::vector<pw::AnsiString> names;
  c->ListTables(names);
  c->ListColumns("T", names);
  Table& t = c->GetTable();
  t.SetTableName("T");
  if (t.Open() && t.First()) {
    const std::int64_t count = t.RecordCount();
    std::int64_t rows = 0;
    for (; !t.Eof() && rows <= count; ++rows) {
      pw::AnsiString v;
      for (std::int32_t i = 0; i < static_cast<std::int32_t>(names.size()) + 1; ++i) t.GetField(i, v);
      if (!t.Next()) break;
    }
    Check(rows <= count, "more rows read than the table counts");
  }
  t.Close();
  if (c->BeginTrans() && t.Open() && t.Append()) {
    t.SetField(0, "x");
    t.Post();
    t.Close();
    c->RollbackTrans();
    Check(ReadAll(book) == before, "a rolled-back workbook changed");
  }
  return 0;
}
