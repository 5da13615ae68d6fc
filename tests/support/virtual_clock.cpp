// The virtual clock is header-only; this unit anchors the support library.
#include "tests/support/virtual_clock.h"
