// The programs' titles, which every message box of a program carries, and the
// program's alerts made from one of them.
#pragma once

#include <string>
#include <string_view>

#include "platform/message_box.h"

namespace pw {

// UTF-8; the katakana of the last one are half-width, as the system shows them.
inline constexpr std::string_view kPortwickDllTitle = "Portwick.dll通信";
inline constexpr std::string_view kPortwickATitle = "PortwickA.exe通信";
inline constexpr std::string_view kTablinkTitle = "Tablink通信";
inline constexpr std::string_view kSetTablinkTitle = "Tablink転送ﾌｧｲﾙ設定";

/// The alerts a program makes once, at its start: the system's message boxes
/// under \p title (one of the titles above).
inline Alerts ProgramAlerts(std::string_view title, MessageBoxes& boxes = SystemMessageBoxes()) {
  return Alerts(boxes, std::string(title));
}

}  // namespace pw
