// The workbook store's throughput and peak memory: a received file of many
// records stored into an .xlsx sheet through the table store (append, then
// overwrite), and the rows sent back as records.
// Usage: workbook_bench [records] [folder]
#include <sys/resource.h>
#include <zip.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "content/field_file.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "tablink/stores.h"
#include "tablink/stores/workbook_store.h"

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;
using namespace pw;
using namespace pw::tablink;

// Processor seconds (user and system) of the process so far: the machine
// may be busy with other work, which wall time would count.
double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  const auto sec = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return sec(ru.ru_utime) + sec(ru.ru_stime);
}

double PeakMiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

struct NoBoxes : MessageBoxes {
  int Show(std::string_view, std::string_view text, unsigned) override {
    std::fprintf(stderr, "box: %.*s\n", static_cast<int>(text.size()), text.data());
    return kIdOk;
  }
};

// A workbook of two sheets: Items with a header of five columns, Other with
// a few cells that must come through unchanged.
bool MakeWorkbook(const fs::path& file) {
  static const char* parts[][2] = {
      {"[Content_Types].xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
       "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
       "ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" "
       "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/><Override "
       "PartName=\"/xl/worksheets/sheet1.xml\" "
       "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/><Override "
       "PartName=\"/xl/worksheets/sheet2.xml\" "
       "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>"},
      {"_rels/.rels",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
       "Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook "
       "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
       "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet "
       "name=\"Items\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Other\" sheetId=\"2\" "
       "r:id=\"rId2\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
       "Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" "
       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
       "Target=\"worksheets/sheet2.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
       "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><dimension ref=\"A1:E1\"/><sheetData><row "
       "r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Code</t></is></c><c r=\"B1\" "
       "t=\"inlineStr\"><is><t>Name</t></is></c><c r=\"C1\" t=\"inlineStr\"><is><t>Qty</t></is></c><c r=\"D1\" "
       "t=\"inlineStr\"><is><t>Date</t></is></c><c r=\"E1\" "
       "t=\"inlineStr\"><is><t>Remark</t></is></c></row></sheetData></worksheet>"},
      {"xl/worksheets/sheet2.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
       "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row r=\"1\"><c "
       "r=\"A1\"><v>1</v></c></row></sheetData></worksheet>"},
  };
  std::error_code ec;
  fs::remove(file, ec);
  int err = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_EXCL, &err);
  if (!z) return false;
  for (const auto& p : parts) {
    zip_source_t* s = zip_source_buffer(z, p[1], std::strlen(p[1]), 0);
    if (!s || zip_file_add(z, p[0], s, 0) < 0) return false;
  }
  return zip_close(z) == 0;
}

// The size of the sheet's part as stored, uncompressed.
double PartMiB(const fs::path& file) {
  int err = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_RDONLY, &err);
  zip_stat_t st;
  const bool ok = z && zip_stat(z, "xl/worksheets/sheet1.xml", 0, &st) == 0;
  if (z) zip_discard(z);
  return ok ? static_cast<double>(st.size) / (1024.0 * 1024.0) : -1;
}

Definition ItemsDefinition() {
  Definition d;
  d.BhtFile = "ITEM.DAT";
  d.SaveName = "Items";
  d.FieldCount = 5;
  for (int i = 0; i < 5; ++i) d.FieldMap[static_cast<std::size_t>(i)] = i + 1;
  d.FieldWidths = "13 20 5 10 30";
  return d;
}

// \p n records of "13 20 5 10 30" with CR LF: codes with leading zeros,
// every fourth name in Japanese.
std::string Records(std::int64_t n) {
  const AnsiString japanese = ToAnsi("商品名テスト");
  std::string out;
  out.reserve(static_cast<std::size_t>(n) * 80);
  for (std::int64_t i = 0; i < n; ++i) {
    out += "00" + ZeroPad(4901234000000 + i, 11);
    out += FitB(i % 4 == 0 ? japanese : "ITEM NAME " + std::to_string(i % 977), 20);
    out += FitB(std::to_string(i % 10000), 5);
    out += "2026/01/08";
    out += FitB("A LONGER REMARK, CUT", 30);
    out += "\r\n";
  }
  return out;
}

struct Timing {
  double wall = -1, cpu = -1;
};

// Receives \p records into Items; the time taken, -1 on failure.
Timing Receive(TableConnection& conn, const std::string& records, std::int64_t n, bool append) {
  const Definition def = ItemsDefinition();
  FieldLayout f;
  f.iRecSize = ParseFieldList(def.FieldWidths, f);
  f.iRecSize0 = f.iRecSize + 2;
  f.iRecords = static_cast<std::int32_t>(n);
  NoBoxes boxes;
  Alerts alerts{boxes, "bench"};
  const StoreSettings settings{kSaveExcel, {}, append, {}};
  std::unique_ptr<RecordSink> sink;
  const auto t0 = Steady::now();
  const double c0 = CpuSeconds();
  if (OpenTableReceive(conn, settings, def, ReceiveLayout(f, def), alerts, sink) != 0) return {};
  for (std::size_t at = 0; at < records.size(); at += kBlockData) {
    const std::size_t len = std::min(kBlockData, records.size() - at);
    sink->Write(std::span(reinterpret_cast<const std::uint8_t*>(records.data()) + at, len));
  }
  AnsiString stored;
  if (sink->Finish(stored) != 0) return {};
  return {std::chrono::duration<double>(Steady::now() - t0).count(), CpuSeconds() - c0};
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 100000;
  const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  const fs::path book = dir / "pw_bench_book.xlsx";
  if (!MakeWorkbook(book)) {
    std::fprintf(stderr, "cannot make %s\n", book.c_str());
    return 1;
  }
  std::string why;
  auto conn = OpenWorkbook(book, why);
  if (!conn) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  const std::string records = Records(n);
  const double recordsMiB = static_cast<double>(records.size()) / (1024.0 * 1024.0);
  const double baseline = PeakMiB();
  std::printf("%lld records (%.1f MiB) into %s; baseline peak %.1f MiB with the records in memory\n",
              static_cast<long long>(n), recordsMiB, book.c_str(), baseline);

  const auto report = [&](const char* what, const Timing& t, double peak) {
    std::printf("%-40s %6.3f s (processor %6.3f s): %7.0f rows/s (processor %7.0f rows/s); peak +%.1f MiB\n", what,
                t.wall, t.cpu, static_cast<double>(n) / t.wall, static_cast<double>(n) / t.cpu, peak - baseline);
  };
  const Timing append = Receive(*conn, records, n, true);
  report("receive, appended to a header-only sheet", append, PeakMiB());
  std::printf("  the sheet's part %.1f MiB, the workbook %.1f MiB\n", PartMiB(book),
              static_cast<double>(fs::file_size(book)) / (1024.0 * 1024.0));
  const Timing overwrite = Receive(*conn, records, n, false);
  report("receive, overwriting those rows", overwrite, PeakMiB());

  SendJob job;
  const auto t0 = Steady::now();
  const double c0 = CpuSeconds();
  if (PrepareTableSend(*conn, ItemsDefinition(), "ITEM.DAT", job) != 0) return 1;
  std::array<std::uint8_t, kBlockData> block;
  bool same = true;  // compared block by block, so that no copy adds to the peak
  std::size_t at = 0;
  for (std::int32_t i = 0; i < job.iEndBlock; ++i) {
    const std::size_t len = job.Source->ReadBlock(block);
    same = same && records.compare(at, len, reinterpret_cast<const char*>(block.data()), len) == 0;
    at += len;
  }
  same = same && at == records.size();
  report("send", {std::chrono::duration<double>(Steady::now() - t0).count(), CpuSeconds() - c0}, PeakMiB());
  if (!same) std::printf("  the records sent differ from those received\n");
  job.Source.reset();
  ReleaseTable(*conn);
  if (!std::getenv("PW_BENCH_KEEP")) fs::remove(book);
  return append.wall < 0 || overwrite.wall < 0 || !same;
}
