// Windows: PortwickA's windows, over their models.
#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "portwicka/main_form.h"
#include "portwicka/set_fld_form.h"

namespace pw {

/// Control ids of the field settings dialog.
namespace set_fld_id {
enum : int { FldSE = 100, SetBtn, CancelBtn, SendFileLB, Label1, Label2, Label3, Label4, Label5 };
}  // namespace set_fld_id

/// The window property that marks PortwickA's own main window: its caption
/// names the port, so the caption alone cannot tell another instance.
inline constexpr const wchar_t* kMainWindowMark = L"PortwickA";

/// The main window of \p form, of the class "TMainForm", visible.
std::unique_ptr<MainFormWindow> MakeMainWindow(TMainForm& form);
/// The window handle of a window made by MakeMainWindow.
HWND MainWindowHandle(MainFormWindow& window);

/// The field settings dialog over \p form (SendFile and FldFile set), modal,
/// owned by \p owner; returns when it has closed.
void RunSetFldDialog(TSetFldForm& form, HWND owner);

/// The send file dialog, opening in \p folder: the chosen file, or nothing when cancelled.
std::optional<std::filesystem::path> PickSendFile(const std::filesystem::path& folder, HWND owner);

/// The whole program on the parameters of its command line; returns the exit code.
int RunWindowsPortwickA();

}  // namespace pw
