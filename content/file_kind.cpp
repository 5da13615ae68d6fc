// File kinds, by the extension of the terminal file name.
#include "content/file_kind.h"

#include <algorithm>

#include "content/received_file.h"
#include "platform/codepage.h"

namespace pw {

namespace {

struct SendRow {
  std::string_view ext;
  TFileType type;
  std::string_view text;  // UTF-8, shown after the name
};

// Tested in this order; a name in none of them is a DATA file. ".ZIP" is a
// raw send like the other raw kinds.
constexpr SendRow kSendRows[] = {
    {".PD4", TFileType::PD4, " ﾌﾟﾛｸﾞﾗﾑ送信"}, {".PD3", TFileType::PD3, " ﾌﾟﾛｸﾞﾗﾑ送信"},
    {".FN3", TFileType::FN3EX3, " ﾌﾟﾛｸﾞﾗﾑ送信"}, {".EX3", TFileType::FN3EX3, " ﾌﾟﾛｸﾞﾗﾑ送信"},
    {".LCS", TFileType::LCS, " LCSﾌｧｲﾙ送信"}, {".BMP", TFileType::BMP, " BMPﾌｧｲﾙ送信"},
    {".JPG", TFileType::JPG, " JPGﾌｧｲﾙ送信"}, {".WAV", TFileType::WAV, " WAVﾌｧｲﾙ送信"},
    {".ZIP", TFileType::ZIP, " ZIPﾌｧｲﾙ送信"}, {".CSV", TFileType::CSV, " ﾃﾞｰﾀ送信"},
};
constexpr std::string_view kDataSendText = " ﾃﾞｰﾀ送信";

struct RawRow {
  std::string_view ext;
  TFileType type;
};
constexpr RawRow kRawReceiveRows[] = {
    {".PD3", TFileType::PD3}, {".PD4", TFileType::PD4}, {".FN3", TFileType::FN3EX3},
    {".EX3", TFileType::FN3EX3}, {".LCS", TFileType::LCS}, {".BMP", TFileType::BMP},
    {".JPG", TFileType::JPG}, {".WAV", TFileType::WAV}, {".ZIP", TFileType::ZIP},
};

constexpr std::string_view kProgramReceiveText = " ﾌﾟﾛｸﾞﾗﾑ受信";
constexpr std::string_view kDataReceiveText = " ﾃﾞｰﾀ受信";
constexpr std::string_view kSettingsReceiveText = "業務設定受信";  // shown without the name

bool IsDigit(std::uint8_t b) { return b >= '0' && b <= '9'; }

}  // namespace

std::string_view FileTypeName(TFileType t) {
  static constexpr std::string_view kNames[] = {"DATA", "CSV", "PD3", "PD4", "FLD", "FN3EX3", "LCS", "BMP",
                                                "JPG", "WAV", "ZIP", "REQFILE", "ERROR", "NULL", "etc"};
  const auto i = static_cast<std::size_t>(t);
  return i < std::size(kNames) ? kNames[i] : std::string_view("?");
}

bool IsRecordKind(TFileType t) { return t == TFileType::DATA || t == TFileType::CSV; }

bool IsRawKind(TFileType t) {
  switch (t) {
    case TFileType::PD3:
    case TFileType::PD4:
    case TFileType::FN3EX3:
    case TFileType::LCS:
    case TFileType::BMP:
    case TFileType::JPG:
    case TFileType::WAV:
    case TFileType::ZIP:
      return true;
    default:
      return false;
  }
}

std::string_view FileExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == name.npos ? std::string_view() : name.substr(dot);
}

SendKind ChooseSendKind(std::string_view bhtFName) {
  const std::string_view ext = FileExtension(bhtFName);
  SendKind kind;
  std::string_view text = kDataSendText;
  for (const SendRow& row : kSendRows) {
    if (row.ext == ext) {
      kind.FileType = row.type;
      text = row.text;
      break;
    }
  }
  kind.FNameCaption = AnsiString(bhtFName) + ToAnsi(text);
  return kind;
}

std::int32_t SendRecordSize(TFileType t, std::int32_t recordLength) {
  if (recordLength <= 0) return 0;
  return t == TFileType::CSV ? recordLength + 2 : recordLength;
}

ReceiveKind ChooseReceiveKind(std::span<const std::uint8_t> headerData, bool csvFlg, std::string_view chkRcvFName,
                              std::string_view chkFields, FieldLayout& received) {
  ReceiveKind r;
  if (headerData.empty()) return r;
  if (headerData[0] == 0x00) {
    r.Verdict = HeaderVerdict::EndOfBatch;
    return r;
  }

  // The name: 1 to 12 bytes before the first 0x00.
  const auto nul = std::find(headerData.begin(), headerData.end(), std::uint8_t{0});
  const auto nameLen = static_cast<std::size_t>(nul - headerData.begin());
  if (nul == headerData.end() || nameLen < 1 || nameLen > 12) return r;
  r.BhtFName = UpperAscii(std::string_view(reinterpret_cast<const char*>(headerData.data()), nameLen));
  if (!IsPlainFileName(r.BhtFName)) return r;
  const std::string_view ext = FileExtension(r.BhtFName);

  // A field file is never held to the expected name.
  if (ext != ".FLD" && !chkRcvFName.empty() && r.BhtFName != chkRcvFName) {
    r.Verdict = HeaderVerdict::WrongFile;
    return r;
  }

  if (ext == ".PD4" || ext == ".PD3" || ext == ".FN3")
    r.FNameCaption = r.BhtFName + ToAnsi(kProgramReceiveText);
  else if (ext == ".BNF")
    r.FNameCaption = ToAnsi(kSettingsReceiveText);
  else
    r.FNameCaption = r.BhtFName + ToAnsi(kDataReceiveText);

  // The size: the first run of digits after the name, ended by a non-digit
  // within the block; it must be from 1 to 2^31 - 1.
  auto p = std::find_if(nul + 1, headerData.end(), IsDigit);
  auto q = std::find_if_not(p, headerData.end(), IsDigit);
  if (p == headerData.end() || q == headerData.end()) return r;
  if (!ParseDecimal(std::string_view(reinterpret_cast<const char*>(&*p), static_cast<std::size_t>(q - p)), r.fSize) ||
      r.fSize == 0) {
    r.fSize = 0;
    return r;
  }

  for (const RawRow& row : kRawReceiveRows) {
    if (row.ext == ext) {
      r.FileType = row.type;
      received.FieldsDat.clear();
      r.Verdict = HeaderVerdict::Accepted;
      return r;
    }
  }

  if (ext == ".FLD") {
    // The field file about to arrive replaces whatever the last one said.
    r.FileType = TFileType::FLD;
    received.Clear();
    r.Verdict = HeaderVerdict::Accepted;
    return r;
  }

  // A data file, accepted only right after its own field file.
  r.FileType = csvFlg || ext == ".CSV" ? TFileType::CSV : TFileType::DATA;
  if (r.BhtFName != received.ChkFName || received.iNFields == 0 || received.iRecords == 0 ||
      received.iRecSize0 == 0) {
    received.ChkFName.clear();
    return r;
  }
  if (!chkFields.empty() && chkFields != received.FieldsDat) {
    received.ChkFName.clear();
    r.Verdict = HeaderVerdict::OtherFields;
    return r;
  }
  r.Verdict = HeaderVerdict::Accepted;
  return r;
}

}  // namespace pw
