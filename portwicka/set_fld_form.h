// The field settings dialog TSetFldForm, as a model without windows: it
// writes the field file of a data file picked for sending. A view copies the
// edit's text into FldSE, filtering each key through FldSEKeyPress, and calls
// the handlers; the Linux front end reads the edit's text from the terminal.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/message_box.h"

namespace pw {

/// Fixed texts of the dialog (UTF-8).
namespace set_fld_text {
inline constexpr std::string_view kCaption = "フィールド設定";
inline constexpr std::string_view kLabel2 = "送信ファイル";
inline constexpr std::string_view kLabel1 = "のフィールド情報を設定してください";
inline constexpr std::string_view kLabel3 = "例） 商品ｺｰﾄﾞ(半角13桁) ,";
inline constexpr std::string_view kLabel4 = " 商品名(半角20桁) , 数量(半角4)の場合";
inline constexpr std::string_view kLabel5 = "13,20,4";
inline constexpr std::string_view kSetBtn = "設定";
inline constexpr std::string_view kCancelBtn = "取消";
inline constexpr std::string_view kFontName = "Tahoma";
inline constexpr std::string_view kSaved = "フィールド情報を保存します。";
inline constexpr std::string_view kSetErrorTitle = "設定エラー";
inline constexpr std::string_view kSetAgain = "フィールド情報を再設定してください";
inline constexpr std::string_view kFileErrorTitle = "ファイル エラー";
inline constexpr std::string_view kCannotOpen = "ファイルをオープンできません。";
}  // namespace set_fld_text

class TSetFldForm {
 public:
  /// The edit's longest text.
  static constexpr std::size_t kMaxLength = 256;
  /// The largest field width.
  static constexpr int kMaxWidth = 8192;

  explicit TSetFldForm(MessageBoxes& boxes) : boxes_(boxes) {}

  std::filesystem::path SendFile;  ///< the PC file
  std::filesystem::path FldFile;   ///< the field file to write
  std::string FldSE;               ///< the edit's text
  std::string SendFileLB;          ///< the label with the send file's name (UTF-8)
  bool EditFocused = false;        ///< a handler gave the edit the focus
  bool Closed = false;             ///< the dialog has closed

  void FormCreate() { FldSE.clear(); }
  void FormShow();
  /// The key that reaches the edit: digits, "," and backspace; 0 for every other.
  static char32_t FldSEKeyPress(char32_t key);
  /// Checks the edit and writes the field file (see the messages above).
  void SetBtnClick();
  void CancelBtnClick() { Closed = true; }

  /// True for a field list the dialog saves: widths from 1 to 8192 between single commas.
  static bool ValidFieldList(std::string_view text);

 private:
  MessageBoxes& boxes_;
};

}  // namespace pw
