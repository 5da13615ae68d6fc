// Sizes and the field-file text of a send.
#include "content/send_plan.h"

#include <limits>
#include <system_error>

#include "content/record_conversion.h"
#include "content/result_codes.h"

namespace pw {

namespace {

constexpr std::int64_t kMaxSize = std::numeric_limits<std::int32_t>::max();

}  // namespace

std::int32_t MeasureSendFile(const std::filesystem::path& txFName, TFileType type, std::int32_t iRecSize,
                             SendSizes& sizes) {
  sizes = SendSizes{};
  std::int64_t size = 0;
  std::int64_t records = 0;
  if (type == TFileType::CSV) {
    if (iRecSize <= 0) return result::FieldFileError;
    if (!CountTextLines(txFName, records)) return result::FileAccessError;
    size = records * iRecSize;  // at most 2^63 / 65537 lines: no overflow
  } else {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(txFName, ec)) return result::FileAccessError;
    const std::uintmax_t length = std::filesystem::file_size(txFName, ec);
    if (ec) return result::FileAccessError;
    if (length > static_cast<std::uintmax_t>(kMaxSize)) return result::SendDataError;
    size = static_cast<std::int64_t>(length);
    if (type == TFileType::DATA && iRecSize > 0) {
      // Records are taken to end in CR LF.
      const std::int64_t unit = std::int64_t{iRecSize} + 2;
      records = size / unit + (size % unit > 2 ? 1 : 0);
    }
  }
  if (size == 0 || size > kMaxSize) return result::SendDataError;
  sizes.fSize = static_cast<std::int32_t>(size);
  sizes.iRecords = static_cast<std::int32_t>(records);
  sizes.iEndBlock = static_cast<std::int32_t>((size + 1023) / 1024);
  return result::NormalEnd;
}

std::int32_t PlanSend(const std::filesystem::path& txFName, std::string_view bhtFName, std::string_view fieldsDat,
                      SendPlan& plan) {
  plan = SendPlan{};
  std::error_code ec;
  if (!std::filesystem::exists(txFName, ec)) return result::NoSendFile;

  const SendKind kind = ChooseSendKind(bhtFName);
  plan.FileType = kind.FileType;
  plan.FNameCaption = kind.FNameCaption;
  // The list as ParseFieldList reads it, without blanks and control bytes at
  // its ends; the field file carries the same text, so that a receiver (ours
  // too) reads the widths the records are made with.
  const AnsiString list = TrimB(fieldsDat);
  if (IsRecordKind(plan.FileType)) {
    plan.iRecSize = SendRecordSize(plan.FileType, ParseFieldList(list, plan.Layout));
    if (plan.iRecSize == 0) return result::FieldFileError;
  }

  if (const std::int32_t code = MeasureSendFile(txFName, plan.FileType, plan.iRecSize, plan.Sizes); code != 0)
    return code;

  if (IsRecordKind(plan.FileType))
    plan.FieldsDat = FieldHeader(bhtFName, plan.Sizes.fSize, plan.Sizes.iRecords, plan.Layout.iNFields, list);
  return result::NormalEnd;
}

}  // namespace pw
