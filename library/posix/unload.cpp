// Linux: the library is linked so that it is never unmapped (-z nodelete); its
// unloading is the end of the process. Then a running transfer is ended by
// force, 100 ms pass, and the port is closed; no thread is joined.
#include "library/portwick_library.h"

namespace pw {
PortwickLibrary*& LibraryInstance();
}

__attribute__((destructor)) static void UnloadPortwick() {
  if (pw::PortwickLibrary* lib = pw::LibraryInstance()) lib->Unload(true);
}
