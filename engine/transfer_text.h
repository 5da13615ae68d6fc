// Texts a transfer shows on its label and stop button (UTF-8).
#pragma once

#include <string_view>

namespace pw::transfer_text {
inline constexpr std::string_view kSend = "送信";
inline constexpr std::string_view kWaitReceive = "受信待ち";
inline constexpr std::string_view kAbort = "中断";
inline constexpr std::string_view kEnd = "終了";
inline constexpr std::string_view kSendStart = " 送信開始";
inline constexpr std::string_view kSending = " 送信中";
inline constexpr std::string_view kSendEnd = " 送信終了";
}  // namespace pw::transfer_text
