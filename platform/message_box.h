// Modal message boxes. The flags and answers have the values of the Windows
// MessageBox function, so they pass through unchanged there.
#pragma once

#include <string_view>

namespace pw {

enum MessageBoxFlags : unsigned {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNo = 0x4,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
  kMbSetForeground = 0x10000,
  kMbTopMost = 0x40000,
};

enum MessageBoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  /// Shows \p text (UTF-8) under \p title (UTF-8) and returns the answer.
  virtual int Show(std::string_view title, std::string_view text, unsigned flags) = 0;
};

/// The system's message boxes: MessageBoxW on Windows; on Linux one line
/// "title: text" on standard error (line breaks in the text become blanks),
/// answered with the first button (OK or Yes).
MessageBoxes& SystemMessageBoxes();

/// An error box as the system shows every failure: error icon, foreground.
inline int ShowError(MessageBoxes& boxes, std::string_view title, std::string_view text) {
  return boxes.Show(title, text, kMbOk | kMbIconError | kMbSetForeground);
}

}  // namespace pw
