// Windows: what the library's windows share, and the dialogs themselves.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "library/com_mode_form.h"
#include "library/settings_store.h"
#include "platform/message_box.h"

namespace pw {

/// The module the library's code lies in (the DLL, or a test program).
HMODULE ThisModule();

/// The window procedure of a class whose object comes with CreateWindowEx's
/// last argument: the object keeps its handle in hwnd_ and handles every
/// message in Handle(msg, wp, lp). The class makes this a friend.
template <class Window>
LRESULT CALLBACK ObjectWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  return self->Handle(msg, wp, lp);
}

/// Registers the window class \p name of this module with \p proc, the arrow
/// cursor and \p background (a button-face form by default); returns \p name.
const wchar_t* RegisterWindowClass(const wchar_t* name, WNDPROC proc,
                                   HBRUSH background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                                   HICON icon = nullptr);
/// The icon of the programs' main and progress windows.
inline HICON ApplicationIcon() { return LoadIconW(nullptr, IDI_APPLICATION); }

/// A font of \p points points on the screen, Shift-JIS character set.
HFONT PointFont(const wchar_t* face, int points);

/// The font of every window of the library, "ＭＳ Ｐゴシック" 9 pt.
HFONT FormFont();

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
/// A window's text.
std::wstring WindowText(HWND window);

/// A visible child window at \p x, \p y, \p w × \p h in \p parent's client area, in \p font.
HWND MakeChild(HWND parent, const wchar_t* cls, std::wstring_view text, DWORD style, int x, int y, int w, int h, int id,
               HFONT font, DWORD exStyle = 0);

/// Panels hold controls: they pass their children's notifications on to
/// their parent and fill their background with their colour. A group also
/// draws the etched frame of a group box with its title.
enum class PanelKind { Face, Lime, FaceGroup, LimeGroup };
HWND MakePanel(HWND parent, PanelKind kind, std::wstring_view title, int x, int y, int w, int h, int id);

/// The text's width and height in \p font.
SIZE TextSize(HFONT font, std::wstring_view text);

/// The outer size of a window of \p style and \p exStyle around a client
/// area of \p w × \p h.
SIZE OuterSize(DWORD style, DWORD exStyle, int w, int h);
/// Moves \p window to the centre of the screen.
void CenterOnScreen(HWND window);

/// WM_SETCURSOR: the hand over any of \p controls. True when it was set.
bool HandCursorOver(WPARAM cursorWindow, std::initializer_list<HWND> controls);

/// Shows \p window and runs its modal loop, the owner disabled, until
/// \p closed is true or WM_QUIT comes (posted again for the caller's loop).
/// The caller destroys the window.
void RunModal(HWND window, HWND owner, const std::function<bool()>& closed);

/// Control ids of the communication settings dialog.
namespace com_mode_id {
enum : int {
  ComPortCB = 100,
  ComSpeedCB,
  RcvModeChk,
  WrModeCB,
  DspRG,  // the group; its two buttons follow
  DspShow,
  DspHide,
  CsvCheck,
  LastSpaceCheck,
  DblQuotedChk,
  LogGroup,
  LogCheck,
  LogPanel,
  LogFileCombo,
  LogFileFolder,
  LogSanshouBtn,
  RxFolder,
  RxSanshouBtn,
  TxFolder,
  TxSanshouBtn,
  UpDateBtn,
  CancelBtn,
  Label = 200,  // labels take the ids from here on
};
}  // namespace com_mode_id

/// Control ids of the folder picker.
namespace folder_id {
enum : int { ShellTreeView1 = 100, Panel1, Panel2, OkButton, CancellButton };
}  // namespace folder_id

/// The communication settings dialog over \p store, modal, owned by \p owner,
/// with the folder picker behind its browse buttons; returns when it has closed.
void RunComModeDialog(SettingsStore& store, const Alerts& alerts, HWND owner);

/// The folder picker over \p choice, modal, owned by \p owner; \p settingsFolder
/// (UTF-8) is offered when \p choice offers nothing.
void RunFolderDialog(FolderChoice& choice, const std::string& settingsFolder, const Alerts& alerts, HWND owner);

}  // namespace pw
