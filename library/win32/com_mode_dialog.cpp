// Windows: the communication settings dialog. Until its window exists the
// settings are read again, as on Linux.
#include "library/win32/views.h"

namespace pw {

void RunComModeDialog(SettingsStore& store, const Alerts&, HWND) { store.LoadAndCheck(); }

}  // namespace pw
