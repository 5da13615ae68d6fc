// Throughput and peak memory of the record conversions over a large file:
// text lines to record blocks (send) and record blocks to text lines
// (receive). Usage: content_bench [megabytes] [folder]
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

#include "content/field_file.h"
#include "content/record_conversion.h"

namespace {

using Clock = std::chrono::steady_clock;

// Peak resident memory of the process so far, in MiB.
double PeakMiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// A comma-separated file of about \p bytes: lines of five values, some
// quoted, some longer and some shorter than their fields.
std::int64_t WriteCsv(const std::filesystem::path& p, std::int64_t bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  std::string chunk;
  std::int64_t lines = 0, written = 0;
  while (written < bytes) {
    chunk.clear();
    for (int i = 0; i < 4096; ++i, ++lines) {
      chunk += "4901234" + std::to_string(100000 + lines % 900000) + ",\"ITEM NAME " + std::to_string(lines % 977) +
               "\"," + std::to_string(lines % 10000) + ",2026/01/08,A LONGER REMARK THAT IS CUT TO ITS WIDTH\r\n";
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    written += static_cast<std::int64_t>(chunk.size());
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const std::int64_t mb = argc > 1 ? std::atoll(argv[1]) : 200;
  const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  const fs::path csv = dir / "pw_bench_in.csv", records = dir / "pw_bench_records.dat",
                 lines = dir / "pw_bench_out.csv";

  std::printf("generating %lld MB of text in %s\n", static_cast<long long>(mb), dir.string().c_str());
  const std::int64_t nLines = WriteCsv(csv, mb * 1000 * 1000);
  const double inMB = static_cast<double>(fs::file_size(csv)) / 1e6;
  const double baseline = PeakMiB();

  // Send: text to record blocks, the blocks written to a file as the terminal
  // would store them.
  pw::FieldLayout layout;
  const std::int32_t recLen = pw::ParseFieldList("13 20 5 10 30", layout);
  pw::CsvBlockReader reader;
  if (!reader.Open(csv, layout, true)) return 1;
  const std::int64_t fSize = nLines * (recLen + 2);
  const std::int64_t blocks = (fSize + 1023) / 1024;
  std::ofstream recOut(records, std::ios::binary | std::ios::trunc);
  std::array<std::uint8_t, pw::kBlockData> block;
  auto t0 = Clock::now();
  for (std::int64_t i = 0; i < blocks; ++i) {
    const std::size_t n = reader.ReadCsvBlock(block);
    recOut.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
  }
  recOut.close();
  const double sendSec = std::chrono::duration<double>(Clock::now() - t0).count();
  const double sendPeak = PeakMiB();

  // Receive: the record file in 1024-byte blocks back to comma-separated lines.
  pw::FieldLayout rl;
  const std::string fld = "file\tX.CSV\r\nsize\t" + std::to_string(fSize) + "\r\nrecords\t" + std::to_string(nLines) +
                          "\r\nfields\t13 20 5 10 30\r\n";
  if (fSize > INT32_MAX) {
    std::printf("the record file is larger than a transfer can announce; use fewer megabytes\n");
    return 1;
  }
  if (!pw::ParseFieldFile(fld, rl)) return 1;
  pw::RecordReceiver receiver;
  if (!receiver.Open(lines, rl, pw::TFileType::CSV, false, true)) return 1;
  std::ifstream recIn(records, std::ios::binary);
  t0 = Clock::now();
  while (recIn.read(reinterpret_cast<char*>(block.data()), block.size()) || recIn.gcount() > 0) {
    const auto n = static_cast<std::size_t>(recIn.gcount());
    receiver.AddBlock(std::span<const std::uint8_t>(block.data(), n));
  }
  receiver.Close();
  const double rcvSec = std::chrono::duration<double>(Clock::now() - t0).count();
  const double rcvPeak = PeakMiB();

  const double recMB = static_cast<double>(fs::file_size(records)) / 1e6;
  const double outMB = static_cast<double>(fs::file_size(lines)) / 1e6;
  std::printf("lines: %lld, record length %d\n", static_cast<long long>(nLines), recLen);
  std::printf("text to records (ReadCsvBlock): %.1f MB text -> %.1f MB records in %.2f s: %.0f MB/s (of text)\n", inMB,
              recMB, sendSec, inMB / sendSec);
  std::printf("records to text (RecordReceiver): %.1f MB records -> %.1f MB text in %.2f s: %.0f MB/s (of records)\n",
              recMB, outMB, rcvSec, recMB / rcvSec);
  std::printf("peak memory: %.1f MiB after generating, %.1f MiB after sending, %.1f MiB after receiving\n", baseline,
              sendPeak, rcvPeak);
  std::printf("records received: %d of %lld\n", receiver.TmpRecordNo(), static_cast<long long>(nLines));

  fs::remove(csv);
  fs::remove(records);
  fs::remove(lines);
  return receiver.TmpRecordNo() == nLines ? 0 : 2;
}
