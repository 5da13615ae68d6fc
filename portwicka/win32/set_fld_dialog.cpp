// Windows: the field settings dialog TSetFldForm. The edit's keys pass the
// model's filter; the buttons call its handlers, which show their own boxes.
#include <windows.h>

#include <commdlg.h>
#include <imm.h>

#include <string>

#include "library/win32/views.h"
#include "platform/codepage.h"
#include "portwicka/win32/views.h"

namespace pw {

namespace {

constexpr int kClientWidth = 363, kClientHeight = 196;
constexpr COLORREF kYellow = RGB(255, 255, 0);

HBRUSH YellowBrush() {
  static const HBRUSH brush = CreateSolidBrush(kYellow);
  return brush;
}

class SetFldDialog {
 public:
  SetFldDialog(TSetFldForm& form, HWND owner) : form_(form) {
    static const wchar_t* cls = RegisterClassOnce();
    // A dialog frame without title-bar buttons, centred on the desktop.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    const SIZE outer = OuterSize(style, exStyle, kClientWidth, kClientHeight);
    hwnd_ = CreateWindowExW(exStyle, cls, Wide(set_fld_text::kCaption).c_str(), style, 0, 0, outer.cx, outer.cy,
                            IsWindow(owner) ? owner : nullptr, nullptr, ThisModule(), this);
    CenterOnScreen(hwnd_);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
    static const HFONT big = PointFont(L"ＭＳ Ｐゴシック", 14);
    static const HFONT tahoma = PointFont(Wide(set_fld_text::kFontName).c_str(), 14);
    using namespace set_fld_id;
    const auto label = [&](std::string_view text, int x, int y, int w, int h, int id, HFONT font) {
      return MakeChild(hwnd_, L"STATIC", Wide(text), SS_LEFT | SS_NOPREFIX, x, y, w, h, id, font);
    };
    label(set_fld_text::kLabel2, 12, 10, 128, 22, Label2, big);
    sendFileLB_ = label("", 142, 10, 212, 22, SendFileLB, big);
    label(set_fld_text::kLabel1, 12, 38, 340, 16, Label1, FormFont());
    label(set_fld_text::kLabel3, 12, 64, 340, 16, Label3, FormFont());
    label(set_fld_text::kLabel4, 12, 80, 340, 16, Label4, FormFont());
    label(set_fld_text::kLabel5, 12, 96, 340, 16, Label5, FormFont());
    edit_ = MakeChild(hwnd_, L"EDIT", L"", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, 12, 118, 339, 28, FldSE, tahoma,
                      WS_EX_CLIENTEDGE);
    SendMessageW(edit_, EM_LIMITTEXT, TSetFldForm::kMaxLength, 0);
    ImmAssociateContext(edit_, nullptr);  // the input method stays off
    FilterEditKeys();
    setBtn_ = MakeChild(hwnd_, L"BUTTON", Wide(set_fld_text::kSetBtn), BS_PUSHBUTTON | WS_TABSTOP, 186, 158, 75, 27,
                        SetBtn, FormFont());
    cancelBtn_ = MakeChild(hwnd_, L"BUTTON", Wide(set_fld_text::kCancelBtn), BS_PUSHBUTTON | WS_TABSTOP, 276, 158, 75,
                           27, CancelBtn, FormFont());
    form_.FormCreate();
    SetWindowTextW(edit_, Wide(form_.FldSE).c_str());
    form_.FormShow();
    SetWindowTextW(sendFileLB_, Wide(form_.SendFileLB).c_str());
  }

  ~SetFldDialog() {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }

  HWND Handle() const { return hwnd_; }
  void Focus() { SetFocus(edit_); }

 private:
  static const wchar_t* RegisterClassOnce() { return RegisterWindowClass(L"TSetFldForm", SetFldDialog::Proc, YellowBrush()); }

  // The edit's own procedure, with FldSEKeyPress in front of its characters.
  void FilterEditKeys() {
    SetWindowLongPtrW(edit_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    editProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SetFldDialog::EditProc)));
  }

  static LRESULT CALLBACK EditProc(HWND edit, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<SetFldDialog*>(GetWindowLongPtrW(edit, GWLP_USERDATA));
    if (msg == WM_CHAR && TSetFldForm::FldSEKeyPress(static_cast<char32_t>(wp)) == 0) return 0;
    return CallWindowProcW(self->editProc_, edit, msg, wp, lp);
  }

  void SetBtnClick() {
    form_.FldSE = Utf8(WindowText(edit_));
    form_.EditFocused = false;
    form_.SetBtnClick();
    if (form_.EditFocused && !form_.Closed) SetFocus(edit_);
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) == set_fld_id::SetBtn) SetBtnClick();
        if (HIWORD(wp) == BN_CLICKED && (LOWORD(wp) == set_fld_id::CancelBtn || LOWORD(wp) == IDCANCEL))
          form_.CancelBtnClick();
        return 0;
      case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(wp), kYellow);
        return reinterpret_cast<LRESULT>(YellowBrush());
      case WM_SETCURSOR:
        if (HandCursorOver(wp, {setBtn_, cancelBtn_})) return TRUE;
        return DefWindowProcW(hwnd_, msg, wp, lp);
      case WM_CLOSE:
        form_.CancelBtnClick();
        return 0;
      default:
        return DefWindowProcW(hwnd_, msg, wp, lp);
    }
  }

  friend LRESULT CALLBACK ObjectWindowProc<SetFldDialog>(HWND, UINT, WPARAM, LPARAM);
  static constexpr WNDPROC Proc = &ObjectWindowProc<SetFldDialog>;

  TSetFldForm& form_;
  HWND hwnd_ = nullptr;
  HWND edit_ = nullptr, sendFileLB_ = nullptr, setBtn_ = nullptr, cancelBtn_ = nullptr;
  WNDPROC editProc_ = nullptr;
};

}  // namespace

void RunSetFldDialog(TSetFldForm& form, HWND owner) {
  form.Closed = false;
  SetFldDialog dialog(form, owner);
  dialog.Focus();
  RunModal(dialog.Handle(), owner, [&form] { return form.Closed; });
}

std::optional<std::filesystem::path> PickSendFile(const std::filesystem::path& folder, HWND owner) {
  std::wstring file(MAX_PATH * 4, L'\0');
  const std::wstring initial = folder.wstring();
  static const wchar_t kFilter[] = L"*.*\0*.*\0";
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = IsWindow(owner) ? owner : nullptr;
  ofn.lpstrFilter = kFilter;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = initial.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  file.resize(wcslen(file.c_str()));
  return std::filesystem::path(file);
}

}  // namespace pw
