// Tablink.exe: the table transfer server on one serial port, in its window.
#include <windows.h>

#include "tablink/win32/views.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return pw::tablink::RunWindowsTablink(); }
