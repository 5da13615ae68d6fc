// Photographs the windows for the documentation: run under Wine and Xvfb with
// COM1 and COM2 (./dev screenshots), it opens each window as a host or
// PortwickA would, copies it from the screen and writes progress_window.bmp,
// settings_dialog.bmp, folder_dialog.bmp, set_fld_form.bmp,
// portwicka_main.bmp and tablink_main.bmp into the current folder.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "library/portwick_library.h"
#include "library/win32/progress_window.h"
#include "library/win32/views.h"
#include "platform/codepage.h"
#include "portwicka/win32/views.h"
#include "tablink/definition_file.h"
#include "tablink/win32/views.h"
#include "tests/support/memory_registry.h"

namespace pw {
namespace {

namespace fs = std::filesystem;

// Message boxes on standard error: nothing may wait for a click here.
struct StderrBoxes : MessageBoxes {
  int Show(std::string_view title, std::string_view text, unsigned) override {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(), static_cast<int>(text.size()),
                 text.data());
    return kIdOk;
  }
};

// Writes what the screen shows of \p window as a 24-bit BMP file.
bool SaveWindow(HWND window, const char* file) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;  // bottom-up, as a BMP file holds it
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  std::string pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h), '\0');
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER head{};
  head.bfType = 0x4D42;  // "BM"
  head.bfOffBits = sizeof head + sizeof info;
  head.bfSize = head.bfOffBits + static_cast<DWORD>(pixels.size());
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&head), sizeof head);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  std::fprintf(stderr, "%s: %d x %d\n", file, w, h);
  return static_cast<bool>(out);
}

// What the next tick of the thread's timer does; the timer fires inside
// whichever loop runs the window (a dialog's, or the library's wait).
std::function<void()> next;

void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (next) std::exchange(next, nullptr)();
}

// Photographs the window of \p caption (and of the class \p cls, when given)
// about a second after the call, then runs \p then on it.
void PhotographLater(const char* caption, const char* file, std::function<void(HWND)> then,
                     const wchar_t* cls = nullptr) {
  next = [=] {
    const HWND window = FindWindowW(cls, Wide(caption).c_str());
    if (window == nullptr)
      std::fprintf(stderr, "no window %s\n", caption);
    else
      SaveWindow(window, file);
    then(window);
  };
  SetTimer(nullptr, 0, 1000, &Tick);
}

// Runs the thread's messages until a window ends the loop.
void RunLoop() {
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

void Close(HWND window) {
  if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
}

int Run() {
  const fs::path root = PathFromUtf8("C:\\Portwick");
  const fs::path folder = root / "Tessaly";
  for (const char* sub : {"受信", "送信", "履歴"}) fs::create_directories(root / PathFromUtf8(sub));
  fs::create_directories(folder);

  StderrBoxes boxes;
  const Alerts alerts(boxes, "Portwick.dll通信");
  test::MemoryRegistry registry;
  SettingsStore store(folder, registry, alerts);
  Settings& v = store.Values();
  v.ComSpeed = 115200;
  v.LogEnable = true;
  v.LogFileMode = 1;
  v.LogFolder = "C:\\Portwick\\履歴\\";
  v.DefRxFolder = "C:\\Portwick\\受信\\";
  v.DefTxFolder = "C:\\Portwick\\送信\\";
  if (!store.WriteFile()) return 1;

  PhotographLater("通信モード設定", "settings_dialog.bmp", Close);
  RunComModeDialog(store, alerts, nullptr);

  FolderChoice choice{2, v.DefRxFolder};
  PhotographLater("受信デフォルトフォルダ設定", "folder_dialog.bmp", Close);
  RunFolderDialog(choice, Utf8FromPath(folder), alerts, nullptr);

  // A receive that waits for the terminal on COM1, stopped after its picture.
  LibraryParts parts{SystemLibraryHost(), boxes, registry, SystemClock()};
  parts.settingsFolder = [&](const Alerts&) { return std::optional<fs::path>(folder); };
  PortwickLibrary library(parts);
  if (library.InitPortwick() != -1) return 1;
  const std::int32_t handle = library.OpenCom(0, "COM1", 115200);
  if (handle == -1) return 1;
  PhotographLater("COM1 115200 bps", "progress_window.bmp", [&](HWND) { library.BreakCom(handle); });
  std::optional<PortwickLibrary::Received> received;
  library.Receive(handle, "", 0, 0, received);
  library.CloseCom(handle);

  // PortwickA's field settings dialog, filled in, then cancelled.
  TSetFldForm fields(boxes);
  fields.SendFile = root / PathFromUtf8("送信") / "ITEM.CSV";
  fields.FldFile = root / PathFromUtf8("送信") / "ITEM.fld";
  next = [] {
    const HWND dialog = FindWindowW(L"TSetFldForm", nullptr);
    SetDlgItemTextW(dialog, set_fld_id::FldSE, L"13,20,4");
    PhotographLater("フィールド設定", "set_fld_form.bmp", Close, L"TSetFldForm");
  };
  SetTimer(nullptr, 0, 100, &Tick);
  RunSetFldDialog(fields, nullptr);

  // PortwickA's main window while a receive waits on COM1; its stop button
  // ends the receive, and the window's closing ends this loop.
  PortwickA app({alerts, registry, SystemClock(), OpenSerialDevice, {}, [&](const Alerts&) {
                   return std::optional<fs::path>(folder);
                 }});
  if (app.StartUp({"-R", "COM1", "115200", "0", "0"})) return 1;
  TMainForm form(app, SystemClock(), alerts, {});
  form.Attach(MakeMainWindow(form));
  ShowWindow(MainWindowHandle(form.Window()), SW_SHOWNORMAL);
  PhotographLater(
      "COM1 115200 bps", "portwicka_main.bmp", [&](HWND) { form.StopBtnClick(); }, L"TMainForm");
  RunLoop();

  // Tablink's main window, waiting on COM1 for the terminal with the received
  // files going to the receive folder; its stop button ends the loop. Its
  // class has PortwickA's name: PortwickA's has to go first.
  UnregisterClassW(L"TMainForm", ThisModule());
  tablink::DefinitionHeader header;
  header.VerStr = std::string(tablink::kVersionMarker);
  header.DataSource = ToAnsi(v.DefRxFolder);
  header.ComSpeed = 115200;
  const fs::path definitions = folder / std::string(tablink::kDefinitionFileName);
  tablink::Definition item;
  item.BhtFile = "ITEM.DAT";
  item.SaveName = "ITEM.CSV";
  {
    std::ofstream out(definitions, std::ios::binary);
    for (const tablink::Record& r : {tablink::EncodeHeader(header), tablink::EncodeDefinition(item)})
      out.write(reinterpret_cast<const char*>(r.data()), r.size());
  }
  tablink::Tablink server({.alerts = alerts,
                           .registry = registry,
                           .clock = SystemClock(),
                           .open = OpenSerialDevice,
                           .osVersion = GetOsVersion,
                           .alreadyRunning = {},
                           .definitions = definitions,
                           .connect = {}});
  if (server.StartUp()) return 1;
  const std::unique_ptr<tablink::TablinkWindow> window = tablink::MakeMainWindow(server, SystemClock(), alerts);
  ShowWindow(window->Handle(), SW_SHOWNORMAL);
  PhotographLater(
      "Tablink通信 COM1 115.2k", "tablink_main.bmp",
      [](HWND w) { PostMessageW(GetDlgItem(w, progress_id::StopBtn), BM_CLICK, 0, 0); }, L"TMainForm");
  RunLoop();
  return 0;
}

}  // namespace
}  // namespace pw

int main() { return pw::Run(); }
