// Windows: what the library's windows share.
#pragma once

#include <windows.h>

#include "library/settings_store.h"
#include "platform/message_box.h"

namespace pw {

/// The module the library's code lies in (the DLL, or a test program).
HMODULE ThisModule();

/// A font of \p points points on the screen, Shift-JIS character set.
HFONT PointFont(const wchar_t* face, int points);

/// The communication settings dialog, modal, owned by \p owner; returns when it has closed.
void RunComModeDialog(SettingsStore& store, const Alerts& alerts, HWND owner);

}  // namespace pw
