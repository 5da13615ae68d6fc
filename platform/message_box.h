// Modal message boxes. The flags and answers have the values of the Windows
// MessageBox function, so they pass through unchanged there.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace pw {

enum MessageBoxFlags : unsigned {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNo = 0x4,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
  kMbTaskModal = 0x2000,
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

/// The message boxes of one program: each carries the program's title, which
/// is set once ("Portwick.dll通信", "PortwickA.exe通信", ...), unless a box
/// has a caption of its own.
class Alerts {
 public:
  Alerts(MessageBoxes& boxes, std::string title) : boxes_(boxes), title_(std::move(title)) {}

  const std::string& Title() const { return title_; }
  MessageBoxes& Boxes() const { return boxes_; }

  /// An error box under the program's title.
  int Error(std::string_view text) const { return ShowError(boxes_, title_, text); }
  /// An error box under a caption of its own.
  int Error(std::string_view caption, std::string_view text) const { return ShowError(boxes_, caption, text); }
  /// Any box under the program's title.
  int Show(std::string_view text, unsigned flags) const { return boxes_.Show(title_, text, flags); }

 private:
  MessageBoxes& boxes_;
  std::string title_;
};

}  // namespace pw
