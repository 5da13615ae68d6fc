// Windows: the communication settings dialog. Every control of TSetComModeForm
// at its place; each event copies the controls into the model, runs its
// handler and shows the model's state again.
#include <windows.h>

#include <commctrl.h>

#include <array>
#include <string>
#include <utility>

#include "library/win32/views.h"

namespace pw {

namespace {

namespace id = com_mode_id;
namespace text = com_mode_text;

constexpr int kClientWidth = 386, kClientHeight = 343;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kListHeight = 200;  // a drop-down list with its list open
constexpr int kCheckHeight = 17, kEditHeight = 20;

class ComModeDialog {
 public:
  ComModeDialog(TSetComModeForm& form, std::string settingsFolder, const Alerts& alerts)
      : form_(form), settingsFolder_(std::move(settingsFolder)), alerts_(alerts) {}

  void Run(HWND owner) {
    form_.FormCreate();
    Create(owner);
    Push();
    SetFocus(Item(id::ComPortCB));
    RunModal(hwnd_, owner, [this] { return form_.Closed; });
    DestroyWindow(hwnd_);
  }

 private:
  static const wchar_t* Class() {
    static const wchar_t* name = RegisterWindowClass(L"TSetComModeForm", ComModeDialog::Proc);
    return name;
  }

  void Create(HWND owner) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    const SIZE outer = OuterSize(kStyle, kExStyle, kClientWidth, kClientHeight);
    CreateWindowExW(kExStyle, Class(), Wide(text::kCaption).c_str(), kStyle, 0, 0, outer.cx, outer.cy,
                    IsWindow(owner) ? owner : nullptr, nullptr, ThisModule(), this);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
    CenterOnScreen(hwnd_);

    // In the order of the Tab key.
    Label(hwnd_, text::kComPortLabel, 8, 10);
    List(hwnd_, id::ComPortCB, 66, 6, 60, text::kComPortItems);
    Label(hwnd_, text::kComSpeedLabel, 150, 10);
    List(hwnd_, id::ComSpeedCB, 220, 6, 80, text::kComSpeedItems);
    const HWND dsp = MakePanel(hwnd_, PanelKind::FaceGroup, Wide(text::kDspRG), 8, 60, 185, 40, id::DspRG);
    Remember(dsp, id::DspRG);
    Remember(MakeChild(dsp, L"BUTTON", Wide(text::kDspItems[0]), BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 8, 16, 84,
                       kCheckHeight, id::DspShow, FormFont()),
             id::DspShow);
    Remember(MakeChild(dsp, L"BUTTON", Wide(text::kDspItems[1]), BS_AUTORADIOBUTTON, 96, 16, 84, kCheckHeight,
                       id::DspHide, FormFont()),
             id::DspHide);
    Check(hwnd_, id::CsvCheck, text::kCsvCheck, 10, 106);
    Check(hwnd_, id::LastSpaceCheck, text::kLastSpaceCheck, 150, 106);
    Check(hwnd_, id::DblQuotedChk, text::kDblQuotedChk, 10, 124);
    Check(hwnd_, id::RcvModeChk, text::kRcvModeChk, 10, 30);
    Label(hwnd_, text::kLabel5, 150, 32);
    List(hwnd_, id::WrModeCB, 260, 28, 60, text::kWrModeItems);

    const HWND group = MakePanel(hwnd_, PanelKind::LimeGroup, L"", 6, 150, 372, 74, id::LogGroup);
    Remember(group, id::LogGroup);
    Check(group, id::LogCheck, text::kLogCheck, 4, 2);
    const HWND panel = MakePanel(group, PanelKind::Lime, L"", 8, 18, 355, 49, id::LogPanel);
    Remember(panel, id::LogPanel);
    Label(panel, text::kLabel2, 0, 6);
    List(panel, id::LogFileCombo, 80, 0, 137, text::kLogFileItems);
    Label(panel, text::kLabel1, 0, 32);
    Edit(panel, id::LogFileFolder, 80, 26, 225);
    Button(panel, id::LogSanshouBtn, text::kBrowse, 310, 23, 40, 25);

    Label(hwnd_, text::kLabel3, 16, 230);
    Edit(hwnd_, id::RxFolder, 16, 246, 305);
    Button(hwnd_, id::RxSanshouBtn, text::kBrowse, 328, 244, 40, 25);
    Label(hwnd_, text::kLabel4, 16, 270);
    Edit(hwnd_, id::TxFolder, 17, 286, 305);
    Button(hwnd_, id::TxSanshouBtn, text::kBrowse, 328, 284, 40, 25);
    Button(hwnd_, id::UpDateBtn, text::kUpDateBtn, 298, 312, 80, 25);
    Button(hwnd_, id::CancelBtn, text::kCancelBtn, 8, 312, 80, 25);

    form_.PickFolder = [this](FolderChoice& choice) { PickFolder(choice); };
  }

  void Label(HWND parent, std::string_view caption, int x, int y) {
    const std::wstring t = Wide(caption);
    const SIZE size = TextSize(FormFont(), t);
    MakeChild(parent, L"STATIC", t, SS_LEFT | SS_NOPREFIX, x, y, size.cx, size.cy, labels_++, FormFont());
  }
  template <std::size_t N>
  void List(HWND parent, int controlId, int x, int y, int w, const std::array<std::string_view, N>& items) {
    const HWND list = MakeChild(parent, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_GROUP, x, y,
                                w, kListHeight, controlId, FormFont());
    for (std::string_view item : items)
      SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
    SetWindowSubclass(list, &ComModeDialog::ListKeys, 0, 0);
    Remember(list, controlId);
  }
  void Check(HWND parent, int controlId, std::string_view caption, int x, int y) {
    const std::wstring t = Wide(caption);
    const int w = TextSize(FormFont(), t).cx + GetSystemMetrics(SM_CXMENUCHECK) + 8;
    Remember(MakeChild(parent, L"BUTTON", t, BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, x, y, w, kCheckHeight, controlId,
                       FormFont()),
             controlId);
  }
  void Edit(HWND parent, int controlId, int x, int y, int w) {
    Remember(MakeChild(parent, L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, x, y, w, kEditHeight, controlId,
                       FormFont(), WS_EX_CLIENTEDGE),
             controlId);
  }
  void Button(HWND parent, int controlId, std::string_view caption, int x, int y, int w, int h) {
    Remember(MakeChild(parent, L"BUTTON", Wide(caption), BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, x, y, w, h, controlId,
                       FormFont()),
             controlId);
  }

  void Remember(HWND control, int controlId) { items_[static_cast<std::size_t>(controlId - id::ComPortCB)] = control; }
  HWND Item(int controlId) const { return items_[static_cast<std::size_t>(controlId - id::ComPortCB)]; }

  // Typed characters go through KeyPress0, which drops them.
  static LRESULT CALLBACK ListKeys(HWND list, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    if (msg == WM_CHAR) {
      const char32_t key = TSetComModeForm::KeyPress0(static_cast<char32_t>(wp));
      if (key == 0) return 0;
      wp = key;
    } else if (msg == WM_NCDESTROY) {
      RemoveWindowSubclass(list, &ComModeDialog::ListKeys, 0);
    }
    return DefSubclassProc(list, msg, wp, lp);
  }

  int Selected(int controlId) const { return static_cast<int>(SendMessageW(Item(controlId), CB_GETCURSEL, 0, 0)); }
  bool Checked(int controlId) const { return SendMessageW(Item(controlId), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  std::string EditText(int controlId) const { return Utf8(WindowText(Item(controlId))); }

  void Select(int controlId, int index) { SendMessageW(Item(controlId), CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
  void SetCheck(int controlId, bool checked) {
    SendMessageW(Item(controlId), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  void SetEditText(int controlId, const std::string& utf8) {
    if (EditText(controlId) != utf8) SetWindowTextW(Item(controlId), Wide(utf8).c_str());
  }

  // The controls into the model.
  void Pull() {
    form_.ComPortCB.index = Selected(id::ComPortCB);
    form_.ComSpeedCB.index = Selected(id::ComSpeedCB);
    form_.RcvModeChk.checked = Checked(id::RcvModeChk);
    form_.WrModeCB.index = Selected(id::WrModeCB);
    form_.DspRG.index = Checked(id::DspShow) ? 0 : Checked(id::DspHide) ? 1 : -1;
    form_.CsvCheck.checked = Checked(id::CsvCheck);
    form_.LastSpaceCheck.checked = Checked(id::LastSpaceCheck);
    form_.DblQuotedChk.checked = Checked(id::DblQuotedChk);
    form_.LogCheck.checked = Checked(id::LogCheck);
    form_.LogFileCombo.index = Selected(id::LogFileCombo);
    form_.LogFileFolder.text = EditText(id::LogFileFolder);
    form_.RxFolder.text = EditText(id::RxFolder);
    form_.TxFolder.text = EditText(id::TxFolder);
  }

  // The model onto the controls.
  void Push() {
    Select(id::ComPortCB, form_.ComPortCB.index);
    Select(id::ComSpeedCB, form_.ComSpeedCB.index);
    SetCheck(id::RcvModeChk, form_.RcvModeChk.checked);
    Select(id::WrModeCB, form_.WrModeCB.index);
    SetCheck(id::DspShow, form_.DspRG.index == 0);
    SetCheck(id::DspHide, form_.DspRG.index == 1);
    SetCheck(id::CsvCheck, form_.CsvCheck.checked);
    SetCheck(id::LastSpaceCheck, form_.LastSpaceCheck.checked);
    SetCheck(id::DblQuotedChk, form_.DblQuotedChk.checked);
    SetCheck(id::LogCheck, form_.LogCheck.checked);
    ShowWindow(Item(id::LogPanel), form_.LogPanel.visible ? SW_SHOWNA : SW_HIDE);
    Select(id::LogFileCombo, form_.LogFileCombo.index);
    SetEditText(id::LogFileFolder, form_.LogFileFolder.text);
    SetEditText(id::RxFolder, form_.RxFolder.text);
    SetEditText(id::TxFolder, form_.TxFolder.text);
    EnableWindow(Item(id::CancelBtn), form_.CancelBtn.enabled);
    if (form_.ActiveControl != TSetComModeForm::Focus::None) {
      const int focus = form_.ActiveControl == TSetComModeForm::Focus::LogFileFolder ? id::LogFileFolder
                        : form_.ActiveControl == TSetComModeForm::Focus::RxFolder    ? id::RxFolder
                                                                                     : id::TxFolder;
      SetFocus(Item(focus));
      form_.ActiveControl = TSetComModeForm::Focus::None;
    }
    // The modal loop looks at Closed after each message it gets.
    if (form_.Closed) PostMessageW(hwnd_, WM_NULL, 0, 0);
  }

  template <class Handler>
  void Forward(Handler handler) {
    Pull();
    (form_.*handler)();
    Push();
  }

  void PickFolder(FolderChoice& choice) { RunFolderDialog(choice, settingsFolder_, alerts_, hwnd_); }

  void Command(int controlId, int code) {
    switch (controlId) {
      case id::ComPortCB:
        if (code == CBN_SELCHANGE) Forward(&TSetComModeForm::ComPortCBChange);
        return;
      case id::LogCheck:
        if (code == BN_CLICKED) Forward(&TSetComModeForm::LogCheckClick);
        return;
      case id::LogSanshouBtn:
        if (code == BN_CLICKED) Forward(&TSetComModeForm::LogSanshouBtnClick);
        return;
      case id::RxSanshouBtn:
        if (code == BN_CLICKED) Forward(&TSetComModeForm::RxSanshouBtnClick);
        return;
      case id::TxSanshouBtn:
        if (code == BN_CLICKED) Forward(&TSetComModeForm::TxSanshouBtnClick);
        return;
      case id::UpDateBtn:
        if (code == BN_CLICKED) Forward(&TSetComModeForm::UpDateBtnClick);
        return;
      case id::CancelBtn:
        if (code == BN_CLICKED) Forward(&TSetComModeForm::CancelBtnClick);
        return;
      default:
        return;
    }
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_COMMAND:
        Command(LOWORD(wp), HIWORD(wp));
        return 0;
      case WM_CLOSE:
        if (form_.FormCloseQuery()) {
          form_.Closed = true;
          PostMessageW(hwnd_, WM_NULL, 0, 0);
        }
        return 0;
      case WM_SETCURSOR:
        if (HandCursorOver(wp, {Item(id::UpDateBtn), Item(id::CancelBtn)})) return TRUE;
        break;
      default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
  }

  friend LRESULT CALLBACK ObjectWindowProc<ComModeDialog>(HWND, UINT, WPARAM, LPARAM);
  static constexpr WNDPROC Proc = &ObjectWindowProc<ComModeDialog>;

  TSetComModeForm& form_;
  const std::string settingsFolder_;
  const Alerts& alerts_;
  HWND hwnd_ = nullptr;
  std::array<HWND, id::CancelBtn - id::ComPortCB + 1> items_{};
  int labels_ = id::Label;
};

}  // namespace

void RunComModeDialog(SettingsStore& store, const Alerts& alerts, HWND owner) {
  TSetComModeForm form(store, alerts);
  ComModeDialog(form, Utf8FromPath(store.SettingsFolder()), alerts).Run(owner);
}

}  // namespace pw
