// The result-code table: one row per code a transfer can end with.
#include "content/result_codes.h"

namespace pw {

namespace {

struct ResultRow {
  std::int32_t code;
  std::string_view name;
  std::string_view logText;
};

constexpr ResultRow kResults[] = {
    {result::NormalEnd, "NormalEnd", "正常終了"},
    {result::Cancelled, "Cancelled", "取消"},
    {result::Aborted, "Aborted", "中断"},
    {result::NoSendFile, "NoSendFile", "送信ファイルが無い"},
    {result::FieldFileError, "FieldFileError", "ﾌｨｰﾙﾄﾞﾌｧｲﾙ(ﾃﾞｰﾀ)ｴﾗｰ"},
    {result::SendDataError, "SendDataError", "送信データエラー"},
    {result::FileAccessError, "FileAccessError", "ファイルアクセスエラー"},
    {result::TimeOut, "TimeOut", "タイムアウト"},
    {result::CommError, "CommError", "通信エラー"},
    {result::RcvFieldDataError, "RcvFieldDataError", "受信ﾌｨｰﾙﾄﾞﾃﾞｰﾀｴﾗｰ"},
    {result::RcvDataError, "RcvDataError", "受信データエラー"},
    {result::RcvBufReadError, "RcvBufReadError", "受信ﾊﾞｯﾌｧ読み取りｴﾗｰ"},
    {result::SendBufWriteError, "SendBufWriteError", "送信ﾊﾞｯﾌｧ書き込みｴﾗｰ"},
    {result::WrongRcvFile, "WrongRcvFile", "受信ﾌｧｲﾙが違います"},
    {result::FieldMismatch, "FieldMismatch", "指定ﾌｨｰﾙﾄﾞと違います"},
};

constexpr ResultRow kUnexpected{-1, "UnexpectedError", "想定外のエラー"};

const ResultRow& Find(std::int32_t code) {
  for (const ResultRow& row : kResults)
    if (row.code == code) return row;
  return kUnexpected;
}

}  // namespace

std::string_view ResultName(std::int32_t code) { return Find(code).name; }

std::string_view ResultLogText(std::int32_t code) { return Find(code).logText; }

}  // namespace pw
