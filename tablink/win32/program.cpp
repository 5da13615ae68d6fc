// Windows: Tablink as a program. The start-up refuses with its message box
// and exit code 1; otherwise the main window is the program, and its closing
// ends it with the window's exit code.
#include <windows.h>

#include <optional>

#include "frontend/program_alerts.h"
#include "library/win32/views.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "tablink/stores/ado_store.h"
#include "tablink/stores/data_source.h"
#include "tablink/win32/views.h"

namespace pw::tablink {

namespace {

// Another Tablink is still starting: its main window has the program's title
// alone until its start timer puts the port and speed in the caption. One
// that runs on the same port is refused when it opens the port.
bool AlreadyRunning() {
  return FindWindowW(Wide(tablink_text::kMainWindowClass).c_str(), Wide(kTablinkTitle).c_str()) != nullptr;
}

}  // namespace

int RunWindowsTablink() {
  const Alerts alerts = ProgramAlerts(kTablinkTitle);
  Tablink app({.alerts = alerts,
               .registry = SystemRegistry(),
               .clock = SystemClock(),
               .open = OpenSerialDevice,
               .osVersion = GetOsVersion,
               .alreadyRunning = AlreadyRunning,
               .definitions = {},
               .connect =
                   [](std::int32_t saveType, const std::string& source) {
                     std::string why;
                     return ConnectDataSource(saveType, source, why);
                   },
               .adoObjects = AdoObjectsAvailable});
  if (const std::optional<int> refused = app.StartUp()) return *refused;

  const std::unique_ptr<TablinkWindow> window = MakeMainWindow(app, SystemClock(), alerts);
  ShowWindow(window->Handle(), SW_SHOWNORMAL);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return window->ExitCode();
}

}  // namespace pw::tablink
