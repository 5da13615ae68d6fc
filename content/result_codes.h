// Result codes that every transfer ends with, their names and the texts the
// history log shows for them.
#pragma once

#include <cstdint>
#include <string_view>

namespace pw {

/// The codes a transfer can end with (the thread's ErrorNo). Codes 3, 4, 5
/// and 8 belong to the library's entry points and are never set by a transfer.
namespace result {
inline constexpr std::int32_t NormalEnd = 0;
inline constexpr std::int32_t Cancelled = 1;
inline constexpr std::int32_t Aborted = 2;
inline constexpr std::int32_t NoSendFile = 6;
inline constexpr std::int32_t FieldFileError = 7;
inline constexpr std::int32_t SendDataError = 9;
inline constexpr std::int32_t FileAccessError = 12;
inline constexpr std::int32_t TimeOut = 13;
inline constexpr std::int32_t CommError = 14;
inline constexpr std::int32_t RcvFieldDataError = 15;
inline constexpr std::int32_t RcvDataError = 16;
inline constexpr std::int32_t RcvBufReadError = 17;
inline constexpr std::int32_t SendBufWriteError = 18;
inline constexpr std::int32_t WrongRcvFile = 19;
inline constexpr std::int32_t FieldMismatch = 20;
}  // namespace result

/// The name of \p code ("NormalEnd", "FieldFileError", ...), or
/// "UnexpectedError" for a code outside the table.
std::string_view ResultName(std::int32_t code);

/// The history log's text for \p code, as UTF-8 ("正常終了", ...);
/// "想定外のエラー" for any code outside the table.
std::string_view ResultLogText(std::int32_t code);

}  // namespace pw
