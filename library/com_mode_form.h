// The communication settings dialog TSetComModeForm, as a model without
// windows: the state of each control the handlers read or change, and the
// handlers themselves. A Win32 view creates the controls with the texts below,
// copies the user's changes into these states before it calls a handler, and
// shows the states afterwards; PortwickA's "-SET" sets the same states from
// its command line.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/com_port.h"
#include "library/settings_store.h"
#include "platform/message_box.h"

namespace pw {

/// Fixed texts of the dialog (UTF-8).
namespace com_mode_text {
inline constexpr std::string_view kCaption = "通信モード設定";
inline constexpr std::string_view kFontName = "ＭＳ Ｐゴシック";
inline constexpr std::string_view kComPortLabel = "通信ポート";
inline constexpr std::array<std::string_view, 9> kComPortItems = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                                                  "COM6", "COM7", "COM8", "COM9"};
inline constexpr std::string_view kComSpeedLabel = "通信スピード";
inline constexpr std::array<std::string_view, 2> kComSpeedItems = {"115.2kbps", "460.8kbps"};
inline constexpr std::string_view kRcvModeChk = "連続受信";
inline constexpr std::string_view kLabel5 = "受信データ書き込み";
inline constexpr std::array<std::string_view, 2> kWrModeItems = {"上書き", "追加"};
inline constexpr std::string_view kDspRG = "通信状態表示";
inline constexpr std::array<std::string_view, 2> kDspItems = {"表示する", "表示しない"};
inline constexpr std::string_view kCsvCheck = "ｶﾝﾏ区切りﾃﾞｰﾀ受信";
inline constexpr std::string_view kLastSpaceCheck = "ｶﾝﾏ区切り受信末尾ｽﾍﾟｰｽをﾃﾞｰﾀとする";
inline constexpr std::string_view kDblQuotedChk = "ｶﾝﾏ区切りﾃﾞｰﾀを引用符（”）で括る";
inline constexpr std::string_view kLogCheck = "通信履歴を保存する";
inline constexpr std::string_view kLabel2 = "保存ファイル名";
inline constexpr std::array<std::string_view, 3> kLogFileItems = {"日ごとに別名で保存", "月ごとに別名で保存",
                                                                  "年ごとに別名で保存"};
inline constexpr std::string_view kLabel1 = "保存フォルダ";
inline constexpr std::string_view kBrowse = "参照";
inline constexpr std::string_view kLabel3 = "受信デフォルトフォルダ";
inline constexpr std::string_view kLabel4 = "送信デフォルトフォルダ";
inline constexpr std::string_view kUpDateBtn = "更新";
inline constexpr std::string_view kCancelBtn = "キャンセル";

inline constexpr std::string_view kInputErrorTitle = "入力エラー";
inline constexpr std::string_view kEnterLogFolder = "通信履歴保存フォルダ名を入力してください。";
inline constexpr std::string_view kEnterRxFolder = "受信デフォルトフォルダ名を入力してください。";
inline constexpr std::string_view kEnterTxFolder = "送信デフォルトフォルダ名を入力してください。";
}  // namespace com_mode_text

/// The pair the settings dialog shares with the folder picker.
struct FolderChoice {
  std::int32_t FolderKind = 0;  ///< 1 log folder, 2 default receive folder, 3 default send folder
  std::string PickedFolder;     ///< offered on opening; chosen on return, empty after cancelling
};

/// Shows the folder picker modally over \p choice (the view supplies it).
using FolderPicker = std::function<void(FolderChoice& choice)>;

/// A drop-down list or a radio group: the selected item, -1 for none.
struct ListControl {
  int index = -1;
};
struct CheckControl {
  bool checked = false;
};
struct EditControl {
  std::string text;  ///< UTF-8
};
struct PanelControl {
  bool visible = false;
};
struct ButtonControl {
  bool enabled = true;
};

class TSetComModeForm {
 public:
  /// The controls that can take the focus from a handler.
  enum class Focus { None, LogFileFolder, RxFolder, TxFolder };

  /// \p alerts carries the program's title (ChkComPort's message); \p open
  /// opens a port for that test.
  TSetComModeForm(SettingsStore& store, const Alerts& alerts, SerialOpener open = OpenSerialDevice);

  ListControl ComPortCB;   ///< 0..8: COM1..COM9
  ListControl ComSpeedCB;  ///< 0 115200, 1 460800
  CheckControl RcvModeChk;
  ListControl WrModeCB;  ///< 0 overwrite, 1 append
  ListControl DspRG;     ///< 0 show, 1 do not show
  CheckControl CsvCheck;
  CheckControl LastSpaceCheck;
  CheckControl DblQuotedChk;
  CheckControl LogCheck;
  PanelControl LogPanel;     ///< visible while LogCheck is checked
  ListControl LogFileCombo;  ///< the log period: 0 a day, 1 a month, 2 a year
  EditControl LogFileFolder;
  EditControl RxFolder;
  EditControl TxFolder;
  ButtonControl CancelBtn;

  /// The edit a handler gave the focus to.
  Focus ActiveControl = Focus::None;
  /// Set when the dialog has closed.
  bool Closed = false;
  /// Shared with the folder picker; the view supplies the picker itself.
  FolderChoice Folder;
  FolderPicker PickFolder;

  /// Reads the settings file, or the registry when that fails (writing
  /// nothing), and fills the controls from the settings.
  void FormCreate();
  /// Whether the dialog may close now.
  bool FormCloseQuery() const { return CancelBtn.enabled; }
  /// Every typed character is dropped: returns the character to pass on, 0.
  static char32_t KeyPress0(char32_t key);
  void LogCheckClick();
  /// Tests the chosen port; when it opens, the port name in memory becomes its name at once.
  void ComPortCBChange();
  void LogSanshouBtnClick();
  void RxSanshouBtnClick();
  void TxSanshouBtnClick();
  /// Validates the controls and applies them to the settings in memory.
  bool ChangeData();
  /// ChangeData, then the settings file is written and the dialog closes.
  void UpDateBtnClick();
  /// Closes the dialog; nothing is applied.
  void CancelBtnClick();

 private:
  void Browse(std::int32_t kind, EditControl& edit);
  void Close();

  SettingsStore& store_;
  const Alerts& alerts_;
  SerialOpener open_;
};

}  // namespace pw
