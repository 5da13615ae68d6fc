// ChooseReceiveKind on a header block's data (128 or 1024 bytes). The first
// input bytes choose the flags, the expected name and fields and the last
// field file's layout; the rest is the header's data.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "content/field_file.h"
#include "content/file_kind.h"
#include "content/received_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace pw;

using fuzz::Check;

constexpr std::string_view kExpected[] = {"ITEM.DAT", "ITEM.CSV", "PROG.PD3", "ITEM.FLD", "A", "ITEM.dat"};
constexpr std::string_view kFields[] = {"8 20 5", "1", "10 10", "8  20"};

bool IsRawExtension(std::string_view ext) {
  for (std::string_view e : {".PD3", ".PD4", ".FN3", ".EX3", ".LCS", ".BMP", ".JPG", ".WAV", ".ZIP"})
    if (ext == e) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t flags = data[0], choice = data[1];
  data += 2;
  size -= 2;
  const bool large = flags & 1, csvFlg = flags & 2;
  const std::string_view chkRcvFName = flags & 4 ? kExpected[choice % std::size(kExpected)] : "";
  const std::string_view chkFields = flags & 8 ? kFields[(choice >> 4) % std::size(kFields)] : "";

  std::vector<std::uint8_t> header(data, data + std::min(size, large ? std::size_t{1024} : std::size_t{128}));
  header.resize(large ? 1024 : 128, 0);
  const auto nul = std::find(header.begin(), header.end(), std::uint8_t{0});
  const std::string rawName(header.begin(), nul);

  // The last field file: none, or one that announced this header's data file.
  FieldLayout received;
  if (flags & 16) {
    received.ChkFName = UpperAscii(rawName);
    received.iNFields = 1;
    received.Field[0] = {0, 4};
    received.iRecSize = 4;
    received.iRecSize0 = 4;
    received.iRecords = 3;
    received.ChkSize = 12;
    received.FieldsDat = flags & 32 ? std::string(chkFields) : "4";
  }
  const FieldLayout before = received;

  const ReceiveKind k = ChooseReceiveKind(header, csvFlg, chkRcvFName, chkFields, received);

  Check((header[0] == 0) == (k.Verdict == HeaderVerdict::EndOfBatch), "an empty name, and only that, ends the batch");
  Check(k.Verdict != HeaderVerdict::FileError, "ChooseReceiveKind never gives FileError");
  if (k.Verdict == HeaderVerdict::Refuse || k.Verdict == HeaderVerdict::EndOfBatch) return 0;

  // Accepted, WrongFile, OtherFields: the name was read and checked.
  Check(!k.BhtFName.empty() && k.BhtFName.size() <= 12, "a name of 1 to 12 bytes");
  Check(k.BhtFName == UpperAscii(rawName), "the name is the header's, in upper case");
  Check(IsPlainFileName(k.BhtFName), "a plain file name");
  const std::string_view ext = FileExtension(k.BhtFName);

  if (k.Verdict == HeaderVerdict::WrongFile) {
    Check(!chkRcvFName.empty() && chkRcvFName != k.BhtFName && ext != ".FLD", "wrong file only against another name");
    return 0;
  }
  Check(!k.FNameCaption.empty(), "a caption once the name is taken");
  Check(k.fSize > 0, "a positive size");
  if (k.Verdict == HeaderVerdict::OtherFields) {
    Check(!chkFields.empty() && chkFields != before.FieldsDat, "other fields only against other fields");
    Check(received.ChkFName.empty(), "other fields forget the field file");
    return 0;
  }

  // Accepted.
  if (IsRawExtension(ext)) {
    Check(IsRawKind(k.FileType), "a raw extension is a raw kind");
    Check(received.FieldsDat.empty(), "a raw file clears the fields");
  } else if (ext == ".FLD") {
    Check(k.FileType == TFileType::FLD, "a field file");
    Check(received.iNFields == 0 && received.ChkFName.empty() && received.iRecords == 0,
          "a field file clears the layout");
  } else {
    Check(IsRecordKind(k.FileType), "other names are records");
    Check((k.FileType == TFileType::CSV) == (csvFlg || ext == ".CSV"), "CSV by flag or extension");
    Check(before.ChkFName == k.BhtFName && before.iNFields > 0 && before.iRecords > 0,
          "a data file only right after its own field file");
    Check(chkFields.empty() || chkFields == before.FieldsDat, "the expected fields");
    Check(chkRcvFName.empty() || chkRcvFName == k.BhtFName, "the expected name");
  }
  return 0;
}
