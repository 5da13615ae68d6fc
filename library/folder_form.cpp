// The folder picker's model.
#include "library/folder_form.h"

#include <utility>

#include "library/settings_store.h"

namespace pw {

namespace {

constexpr std::size_t kNetHoodChars = 256;

// The first \p n characters of the UTF-8 text \p s.
std::string_view LeftChars(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t chars = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;  // a continuation byte
    if (chars++ == n) break;
  }
  return s.substr(0, i);
}

bool IsNetworkPath(std::string_view path) { return path.starts_with("\\\\"); }

}  // namespace

std::string NetHoodPath(std::string_view selectedPath) {
  constexpr std::string_view kNetHood = "\\NetHood\\";
  const std::size_t at = selectedPath.find(kNetHood);
  if (selectedPath.find("\\Documents and Settings\\") == std::string_view::npos || at == std::string_view::npos)
    return std::string(selectedPath);
  const std::string_view shortcut = LeftChars(selectedPath.substr(at + kNetHood.size()), kNetHoodChars);
  const std::size_t dash = shortcut.find(" - ");
  if (dash == std::string_view::npos) return std::string(selectedPath);
  std::string server(LeftChars(shortcut.substr(dash + 3), kNetHoodChars));
  if (!server.ends_with('\\')) server += '\\';
  return "\\\\" + server + std::string(shortcut.substr(0, dash));
}

TSetFolderForm::TSetFolderForm(FolderChoice& choice, std::string settingsFolder, const Alerts& alerts)
    : choice_(choice), settingsFolder_(std::move(settingsFolder)), alerts_(alerts) {}

void TSetFolderForm::FormCreate() {
  Caption = choice_.FolderKind == 1   ? folder_text::kLogCaption
            : choice_.FolderKind == 2 ? folder_text::kRxCaption
                                      : folder_text::kTxCaption;
  if (choice_.PickedFolder.empty()) choice_.PickedFolder = settingsFolder_;
  InitialSelection = IsNetworkPath(choice_.PickedFolder) ? std::string() : choice_.PickedFolder;
}

bool TSetFolderForm::OkButtonClick(std::string_view selectedTreePath) {
  const std::string path = WithTrailingSeparator(NetHoodPath(selectedTreePath));
  if (IsNetworkPath(path)) {
    alerts_.Error(folder_text::kErrorTitle, folder_text::kNetworkFolder);
    return false;
  }
  choice_.PickedFolder = path;
  Closed = true;
  return true;
}

void TSetFolderForm::CancellButtonClick() {
  choice_.PickedFolder.clear();
  Closed = true;
}

}  // namespace pw
