// Comma text to records, as a send converts it, against the plain reference
// conversion. The first input bytes choose the widths, the quote flag and the
// size of the reads from the file (so a read can end at any place of a
// line); the rest is the text.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "content/field_file.h"
#include "content/record_conversion.h"
#include "tests/content/csv_reference.h"

namespace {

namespace fs = std::filesystem;
using namespace pw;

const fs::path& File() {
  static const fs::path path = fs::path(fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
                               ("pw_fuzz_csv_" + std::to_string(::getpid()) + ".csv");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t nFields = 1 + data[0] % 4;
  if (size < 3 + nFields) return 0;
  const bool dblQuot = data[1] & 1;
  const std::size_t chunk = 1 + data[1] / 2 + data[2];  // 1 to 383 bytes a read
  std::vector<std::size_t> widths;
  std::string list;
  for (std::size_t i = 0; i < nFields; ++i) {
    const std::size_t w = 1 + data[3 + i] % 40 + (data[3 + i] >= 250 ? 1100 : 0);  // some records pass a block
    widths.push_back(w);
    list += (i ? " " : "") + std::to_string(w);
  }
  const std::string text(reinterpret_cast<const char*>(data) + 3 + nFields, size - 3 - nFields);
  std::ofstream(File(), std::ios::binary | std::ios::trunc) << text;

  FieldLayout layout;
  if (ParseFieldList(list, layout) == 0) std::abort();
  CsvBlockReader reader;
  if (!reader.Open(File(), layout, dblQuot, chunk)) std::abort();
  const std::string expected = test::ReferenceRecords(text, widths, dblQuot);
  std::string out;
  std::array<std::uint8_t, kBlockData> block;
  for (std::size_t n = kBlockData; n == kBlockData && out.size() <= expected.size();) {
    n = reader.ReadCsvBlock(block);
    out.append(reinterpret_cast<const char*>(block.data()), n);
    for (std::size_t i = n; i < kBlockData; ++i)
      if (block[i] != 0) std::abort();
  }
  if (out != expected) {
    std::fprintf(stderr, "records differ from the reference: %zu bytes against %zu\n", out.size(), expected.size());
    std::abort();
  }
  return 0;
}
