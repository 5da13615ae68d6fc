// The folder picker TSetFolderForm, as a model without windows: its caption,
// the folder the tree starts at, and what its two buttons do with the shared
// FolderChoice. The view shows the shell folder tree and hands the model the
// path selected in it.
#pragma once

#include <string>
#include <string_view>

#include "library/com_mode_form.h"
#include "platform/message_box.h"

namespace pw {

/// Fixed texts of the picker (UTF-8).
namespace folder_text {
inline constexpr std::string_view kLogCaption = "通信履歴保存フォルダ設定";
inline constexpr std::string_view kRxCaption = "受信デフォルトフォルダ設定";
inline constexpr std::string_view kTxCaption = "送信デフォルトフォルダ設定";
inline constexpr std::string_view kOkButton = "ＯＫ";
inline constexpr std::string_view kCancellButton = "キャンセル";
inline constexpr std::string_view kErrorTitle = "ﾌｫﾙﾀﾞ設定ｴﾗｰ";
inline constexpr std::string_view kNetworkFolder = "ﾈｯﾄﾜｰｸ上のPCのﾌｫﾙﾀﾞは設定できません。";
}  // namespace folder_text

/// The path a selection in the shell tree stands for: a network-neighbourhood
/// shortcut "share - server" below "\Documents and Settings\...\NetHood\"
/// becomes "\\server\share"; any other path is returned unchanged.
std::string NetHoodPath(std::string_view selectedPath);

class TSetFolderForm {
 public:
  /// \p settingsFolder (UTF-8) is offered when \p choice offers nothing.
  TSetFolderForm(FolderChoice& choice, std::string settingsFolder, const Alerts& alerts);

  std::string Caption;
  /// The folder the tree selects on opening; empty for no selection.
  std::string InitialSelection;
  /// Set when the picker has closed.
  bool Closed = false;

  /// Caption by FolderKind; the offered folder, or the settings folder, is selected.
  void FormCreate();
  /// Takes \p selectedTreePath (UTF-8) as the chosen folder. A network path
  /// is refused with its message; returns whether the picker closed.
  bool OkButtonClick(std::string_view selectedTreePath);
  /// Nothing is chosen: PickedFolder becomes empty and the picker closes.
  void CancellButtonClick();

 private:
  FolderChoice& choice_;
  std::string settingsFolder_;
  const Alerts& alerts_;
};

}  // namespace pw
