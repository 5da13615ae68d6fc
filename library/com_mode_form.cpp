// The communication settings dialog's model.
#include "library/com_mode_form.h"

#include <utility>

#include "common/ansi_string.h"

namespace pw {

namespace {

// \p value as the index of a list of \p count items; -1 (nothing selected) outside it.
int ListIndex(std::int32_t value, std::size_t count) {
  return value >= 0 && static_cast<std::size_t>(value) < count ? value : -1;
}

// A folder text the dialog accepts: not empty and not just a separator.
bool FolderGiven(std::string_view text) {
  return !text.empty() && text != "\\" && text != std::string_view(&kFolderSeparator, 1);
}

}  // namespace

TSetComModeForm::TSetComModeForm(SettingsStore& store, const Alerts& alerts, SerialOpener open)
    : store_(store), alerts_(alerts), open_(std::move(open)) {}

void TSetComModeForm::FormCreate() {
  if (!store_.ReadFile()) store_.ReadRegistry();
  const Settings& v = store_.Values();
  std::int32_t port = 0;
  if (!ParseDecimal(MidB(v.ComName, 4, 3), port)) port = 1;
  ComPortCB.index = ListIndex(port - 1, com_mode_text::kComPortItems.size());
  ComSpeedCB.index = v.ComSpeed == 115200 ? 0 : 1;
  DspRG.index = v.DspMode ? 0 : 1;
  RcvModeChk.checked = v.RcvMode == 1;
  WrModeCB.index = v.WrMode == 1 ? 1 : 0;
  CsvCheck.checked = v.CsvRcvDat;
  LastSpaceCheck.checked = v.LastSpace;
  DblQuotedChk.checked = v.DblQuoted;
  LogCheck.checked = v.LogEnable;
  LogPanel.visible = v.LogEnable;
  LogFileCombo.index = ListIndex(v.LogFileMode, com_mode_text::kLogFileItems.size());
  LogFileFolder.text = v.LogFolder;
  RxFolder.text = v.DefRxFolder;
  TxFolder.text = v.DefTxFolder;
  // Incomplete settings can only be left through "更新".
  if ((v.LogEnable && v.LogFolder.empty()) || v.DefRxFolder.empty() || v.DefTxFolder.empty()) CancelBtn.enabled = false;
}

char32_t TSetComModeForm::KeyPress0(char32_t) { return 0; }

void TSetComModeForm::LogCheckClick() { LogPanel.visible = LogCheck.checked; }

void TSetComModeForm::ComPortCBChange() {
  const int port = ComPortCB.index + 1;
  if (ChkComPort(port, alerts_, open_)) store_.Values().ComName = "COM" + std::to_string(port);
}

void TSetComModeForm::LogSanshouBtnClick() { Browse(1, LogFileFolder); }
void TSetComModeForm::RxSanshouBtnClick() { Browse(2, RxFolder); }
void TSetComModeForm::TxSanshouBtnClick() { Browse(3, TxFolder); }

void TSetComModeForm::Browse(std::int32_t kind, EditControl& edit) {
  Folder.FolderKind = kind;
  Folder.PickedFolder = edit.text;
  if (PickFolder) PickFolder(Folder);
  if (!Folder.PickedFolder.empty()) edit.text = Folder.PickedFolder;
}

bool TSetComModeForm::ChangeData() {
  if (!ChkComPort(ComPortCB.index + 1, alerts_, open_)) return false;

  std::string_view missing;
  if (LogCheck.checked && !FolderGiven(LogFileFolder.text)) {
    missing = com_mode_text::kEnterLogFolder;
    ActiveControl = Focus::LogFileFolder;
  } else if (!FolderGiven(RxFolder.text)) {
    missing = com_mode_text::kEnterRxFolder;
    ActiveControl = Focus::RxFolder;
  } else if (!FolderGiven(TxFolder.text)) {
    missing = com_mode_text::kEnterTxFolder;
    ActiveControl = Focus::TxFolder;
  }
  if (!missing.empty()) {
    alerts_.Boxes().Show(com_mode_text::kInputErrorTitle, missing,
                         kMbOk | kMbIconWarning | kMbTaskModal | kMbSetForeground);
    return false;
  }

  Settings& v = store_.Values();
  v.ComPort = ComPortCB.index + 1;
  v.ComSpeed = ComSpeedCB.index == 0 ? 115200 : 460800;
  v.RcvMode = RcvModeChk.checked ? 1 : 0;
  v.WrMode = WrModeCB.index == 1 ? 1 : 0;
  v.DspMode = DspRG.index == 0;
  v.CsvRcvDat = CsvCheck.checked;
  v.LastSpace = LastSpaceCheck.checked;
  v.DblQuoted = DblQuotedChk.checked;
  v.LogEnable = LogCheck.checked;
  v.LogFileMode = LogFileCombo.index;
  v.LogFolder = WithTrailingSeparator(LogFileFolder.text);
  v.DefRxFolder = WithTrailingSeparator(RxFolder.text);
  v.DefTxFolder = WithTrailingSeparator(TxFolder.text);
  return true;
}

void TSetComModeForm::UpDateBtnClick() {
  if (!ChangeData()) return;
  store_.WriteFile();  // a failure has shown its message; the dialog closes all the same
  CancelBtn.enabled = true;
  Close();
}

void TSetComModeForm::CancelBtnClick() { Close(); }

void TSetComModeForm::Close() {
  if (FormCloseQuery()) Closed = true;
}

}  // namespace pw
