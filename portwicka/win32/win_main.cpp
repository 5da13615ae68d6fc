// PortwickA.exe: one transfer with a BHT terminal, as its command line says.
#include <windows.h>

#include "portwicka/win32/views.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return pw::RunWindowsPortwickA(); }
