// Windows: what the library's windows share.
#include "library/win32/views.h"

#include <algorithm>

#include "common/utf.h"

namespace pw {

namespace {

constexpr COLORREF kLime = RGB(0, 255, 0);

HBRUSH LimeBrush() {
  static const HBRUSH brush = CreateSolidBrush(kLime);
  return brush;
}

bool IsLime(PanelKind kind) { return kind == PanelKind::Lime || kind == PanelKind::LimeGroup; }
bool IsGroup(PanelKind kind) { return kind == PanelKind::FaceGroup || kind == PanelKind::LimeGroup; }

PanelKind KindOf(HWND panel) { return static_cast<PanelKind>(GetWindowLongPtrW(panel, GWLP_USERDATA)); }

void PaintPanel(HWND panel, HDC dc) {
  const PanelKind kind = KindOf(panel);
  RECT r;
  GetClientRect(panel, &r);
  FillRect(dc, &r, IsLime(kind) ? LimeBrush() : GetSysColorBrush(COLOR_BTNFACE));
  if (!IsGroup(kind)) return;
  // The etched frame of a group box, its top line through the middle of the title.
  const std::wstring title = WindowText(panel);
  r.top += TextSize(FormFont(), L"X").cy / 2;
  DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
  if (title.empty()) return;
  const HGDIOBJ old = SelectObject(dc, FormFont());
  SetBkColor(dc, IsLime(kind) ? kLime : GetSysColor(COLOR_BTNFACE));
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  SetBkMode(dc, OPAQUE);
  TextOutW(dc, 8, 0, title.c_str(), static_cast<int>(title.size()));
  SelectObject(dc, old);
}

LRESULT CALLBACK PanelProc(HWND panel, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NCCREATE:
      SetWindowLongPtrW(panel, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
      break;
    case WM_ERASEBKGND:
      PaintPanel(panel, reinterpret_cast<HDC>(wp));
      return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (IsLime(KindOf(panel))) {
        SetBkColor(reinterpret_cast<HDC>(wp), kLime);
        return reinterpret_cast<LRESULT>(LimeBrush());
      }
      return SendMessageW(GetParent(panel), msg, wp, lp);
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      return SendMessageW(GetParent(panel), msg, wp, lp);
    default:
      break;
  }
  return DefWindowProcW(panel, msg, wp, lp);
}

const wchar_t* PanelClass() {
  static const wchar_t* name = RegisterWindowClass(L"PortwickPanel", &PanelProc, nullptr);
  return name;
}

}  // namespace

const wchar_t* RegisterWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background, HICON icon) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = ThisModule();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  wc.hIcon = icon;
  RegisterClassExW(&wc);
  return name;
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

HFONT PointFont(const wchar_t* face, int points) {
  HDC dc = GetDC(nullptr);
  const int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(nullptr, dc);
  return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

HFONT FormFont() {
  static const HFONT font = PointFont(L"ＭＳ Ｐゴシック", 9);
  return font;
}

std::wstring Wide(std::string_view utf8) {
  const std::u16string s = Utf8ToUtf16(utf8);
  return std::wstring(s.begin(), s.end());
}

std::string Utf8(std::wstring_view wide) { return Utf16ToUtf8(std::u16string(wide.begin(), wide.end())); }

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

HWND MakeChild(HWND parent, const wchar_t* cls, std::wstring_view text, DWORD style, int x, int y, int w, int h, int id,
               HFONT font, DWORD exStyle) {
  const std::wstring t(text);
  HWND child = CreateWindowExW(exStyle, cls, t.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(), nullptr);
  if (font != nullptr) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

HWND MakePanel(HWND parent, PanelKind kind, std::wstring_view title, int x, int y, int w, int h, int id) {
  const std::wstring t(title);
  HWND panel = CreateWindowExW(WS_EX_CONTROLPARENT, PanelClass(), t.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x,
                               y, w, h, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(),
                               reinterpret_cast<void*>(static_cast<INT_PTR>(kind)));
  SendMessageW(panel, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
  return panel;
}

SIZE TextSize(HFONT font, std::wstring_view text) {
  HDC dc = GetDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return size;
}

SIZE OuterSize(DWORD style, DWORD exStyle, int w, int h) {
  RECT r{0, 0, w, h};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  return {r.right - r.left, r.bottom - r.top};
}

void CenterOnScreen(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - w) / 2);
  const int y = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - h) / 2);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool HandCursorOver(WPARAM cursorWindow, std::initializer_list<HWND> controls) {
  const HWND over = reinterpret_cast<HWND>(cursorWindow);
  if (std::find(controls.begin(), controls.end(), over) == controls.end()) return false;
  SetCursor(LoadCursorW(nullptr, IDC_HAND));
  return true;
}

void RunModal(HWND window, HWND owner, const std::function<bool()>& closed) {
  const bool disable = owner != nullptr && IsWindow(owner) && IsWindowEnabled(owner);
  if (disable) EnableWindow(owner, FALSE);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  SetForegroundWindow(window);
  MSG m;
  while (!closed()) {
    const BOOL got = GetMessageW(&m, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    if (got < 0) break;
    if (IsDialogMessageW(window, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  // The owner first, so that it is active again when this window goes.
  if (disable) EnableWindow(owner, TRUE);
  ShowWindow(window, SW_HIDE);
}

}  // namespace pw
