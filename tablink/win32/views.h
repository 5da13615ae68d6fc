// Windows: Tablink's main window over its model, and the program.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "tablink/tablink.h"

namespace pw::tablink {

/// How the program ends once its main window has closed.
enum TablinkExit : int {
  kExitNormal = 0,   ///< the stop button while the server waited
  kExitRefused = 1,  ///< a refusal at the start, or the data source not connected
  kExitFailed = 2,   ///< the server ended by itself on a failure it cannot go on from
};

/// The main window "TMainForm": it starts the server (its start timer, 10 ms
/// after it is made), shows its progress, ends it with the stop button and
/// closes when the server has ended.
class TablinkWindow {
 public:
  virtual ~TablinkWindow() = default;
  virtual HWND Handle() const = 0;
  /// Once the window has closed: the program's exit code.
  virtual int ExitCode() const = 0;
};

/// The main window over \p app, which has started up (its port open): at the
/// stored position, under the program's title, not yet shown.
std::unique_ptr<TablinkWindow> MakeMainWindow(Tablink& app, Clock& clock, const Alerts& alerts);

/// The whole program; returns the exit code.
int RunWindowsTablink();

}  // namespace pw::tablink
