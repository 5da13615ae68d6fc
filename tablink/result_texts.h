// The server's result codes beyond the transfer's own, and the texts its
// history log shows for every code.
#pragma once

#include <cstdint>
#include <string_view>

namespace pw::tablink {

namespace code {
inline constexpr std::int32_t RefusedReceive = 19;  ///< the terminal sends a kind that is never received
inline constexpr std::int32_t RefusedSend = 20;     ///< the terminal asks for a kind that is never sent
inline constexpr std::int32_t NotForReceive = 21;
inline constexpr std::int32_t NotForSend = 22;
inline constexpr std::int32_t NoSendFields = 23;
inline constexpr std::int32_t TableOpen = 24;
inline constexpr std::int32_t CannotAdd = 25;
inline constexpr std::int32_t CannotUpdate = 26;
inline constexpr std::int32_t CannotDelete = 27;
inline constexpr std::int32_t CannotEdit = 28;
inline constexpr std::int32_t AppendFailed = 29;
inline constexpr std::int32_t SetFieldFailed = 30;
inline constexpr std::int32_t PostFailed = 31;
inline constexpr std::int32_t CloseFailed = 32;
inline constexpr std::int32_t CommitFailed = 33;
inline constexpr std::int32_t MoveFailed = 34;
inline constexpr std::int32_t ClearFailed = 35;
inline constexpr std::int32_t TableDataError = 36;
}  // namespace code

/// The log's text for \p code (UTF-8); "想定外のエラー" for a code without one.
std::string_view ResultText(std::int32_t code);

}  // namespace pw::tablink
