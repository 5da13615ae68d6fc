// Windows: PortwickA as a program. The start-up refuses with its message and
// exit code 1; otherwise the settings dialog ("-SET") or the main window is
// the program, and the program ends with 0 when it has closed.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "frontend/program_alerts.h"
#include "library/win32/views.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "portwicka/win32/views.h"

namespace pw {

namespace {

// The parameters after the program's name, in UTF-8.
std::vector<std::string> Parameters() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; argv != nullptr && i < count; ++i) args.push_back(Utf8(argv[i]));
  LocalFree(argv);
  return args;
}

// Another PortwickA runs: a top-level "TMainForm" under the program's title,
// or one that bears PortwickA's mark. The program's own main window has the
// port and speed for its caption, so the title alone would never find it.
bool AlreadyRunning() {
  if (FindWindowW(L"TMainForm", Wide(kPortwickATitle).c_str()) != nullptr) return true;
  struct Search {
    bool found = false;
    static BOOL CALLBACK Each(HWND w, LPARAM p) {
      wchar_t cls[16] = {};
      GetClassNameW(w, cls, 16);
      if (lstrcmpW(cls, L"TMainForm") != 0 || GetPropW(w, kMainWindowMark) == nullptr) return TRUE;
      reinterpret_cast<Search*>(p)->found = true;
      return FALSE;
    }
  } search;
  EnumWindows(&Search::Each, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

int RunWindowsPortwickA() {
  const Alerts alerts = ProgramAlerts(kPortwickATitle);
  PortwickA app({alerts, SystemRegistry(), SystemClock(), OpenSerialDevice, AlreadyRunning, FindSettingsFolder});
  if (const std::optional<int> refused = app.StartUp(Parameters())) return *refused;
  if (app.Run().Mode == AMode::Settings) {
    RunComModeDialog(app.Store(), alerts, nullptr);
    return 0;
  }

  HWND mainWindow = nullptr;
  PortwickA::SendChoices choices;
  choices.pick = [&mainWindow](const std::filesystem::path& folder) { return PickSendFile(folder, mainWindow); };
  choices.askFields = [&alerts, &mainWindow](const std::filesystem::path& pc, const std::filesystem::path& fld) {
    TSetFldForm form(alerts.Boxes());
    form.SendFile = pc;
    form.FldFile = fld;
    RunSetFldDialog(form, mainWindow);
  };
  TMainForm form(app, SystemClock(), alerts, choices);
  form.Attach(MakeMainWindow(form));
  // Attach gave the window its place and caption; it shows from the start.
  mainWindow = MainWindowHandle(form.Window());
  ShowWindow(mainWindow, SW_SHOWNORMAL);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}

}  // namespace pw
