/*
 * portwick_host: a Windows host program of Portwick.dll, written as a
 * customer's would be: it loads the library at run time (LoadLibraryW and
 * GetProcAddress, no import library), owns a window, and runs transfers on
 * COM1, whose other end is the terminal simulator.
 *
 *   portwick_host transfer   send ITEM.CSV with the fields 10,5 and check what
 *                            the terminal stored; receive it back; stop a
 *                            receive with BreakCom from the host window's timer
 *   portwick_host unload     FreeLibrary from another thread while a receive
 *                            runs: it must return within 2 s
 *   portwick_host exit       ExitProcess from the host window's timer while a
 *                            receive runs: the library's unloading must let
 *                            the process end (a hang fails by the test's timeout)
 *
 * tests/wine/run starts it with PW_WINE_BHTSIM (the simulator's runs, one per
 * transfer) and names the simulator's folder in PW_WINE_TERMINAL. Exit code 0
 * when every check passed.
 */
#include <windows.h>

#include "include/portwick.h"

typedef int32_t(PORTWICK_CALL* InitPortwickFn)(void);
typedef int32_t(PORTWICK_CALL* GetPortwickVerFn)(char* buf);
typedef int32_t(PORTWICK_CALL* OpenComFn)(int32_t hostWnd, const char* port, int32_t speed);
typedef int32_t(PORTWICK_CALL* GetComPortFn)(char* buf);
typedef int32_t(PORTWICK_CALL* HandleFn)(int32_t handle); /* BreakCom, CloseCom */
typedef int32_t(PORTWICK_CALL* SendFn)(int32_t handle, const char* pcFile, const char* bhtName, const char* fields);
typedef int32_t(PORTWICK_CALL* ReceiveFn)(int32_t handle, const char* folder, int32_t continuous, int32_t append,
                                          char* rcvName, char* rcvFields);

static HMODULE dll;
static InitPortwickFn pInitPortwick;
static GetPortwickVerFn pGetPortwickVer;
static OpenComFn pOpenCom;
static GetComPortFn pGetComPort;
static HandleFn pBreakCom, pCloseCom;
static SendFn pSend;
static ReceiveFn pReceive;

static int failures;
static char terminalDir[MAX_PATH]; /* the simulator's folder, as a Windows path */
static char pcDir[MAX_PATH];       /* this program's files */

/* ---- output and checks ---- */

static void Say(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = wvsprintfA(line, format, args);
  va_end(args);
  line[n++] = '\n';
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)n, &written, NULL);
}

#define CHECK_EQ(got, want, what)                                                 \
  do {                                                                            \
    long got_ = (long)(got), want_ = (long)(want);                                \
    if (got_ != want_) {                                                          \
      Say("FAILED %s: %ld, expected %ld (line %d)", what, got_, want_, __LINE__); \
      failures++;                                                                 \
    }                                                                             \
  } while (0)

#define CHECK_TEXT(got, want, what)                                                   \
  do {                                                                                \
    if (lstrcmpA(got, want) != 0) {                                                   \
      Say("FAILED %s: \"%s\", expected \"%s\" (line %d)", what, got, want, __LINE__); \
      failures++;                                                                     \
    }                                                                                 \
  } while (0)

/* ---- files ---- */

static void Join(char* out, const char* dir, const char* name) {
  lstrcpynA(out, dir, MAX_PATH);
  lstrcatA(out, "\\");
  lstrcatA(out, name);
}

static BOOL WriteWhole(const char* path, const char* text) {
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (f == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written;
  BOOL ok = WriteFile(f, text, (DWORD)lstrlenA(text), &written, NULL);
  CloseHandle(f);
  return ok;
}

/* The whole file (up to size - 1 bytes) with a zero after it; its length, or -1. */
static int ReadWhole(const char* path, char* buf, int size) {
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (f == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  BOOL ok = ReadFile(f, buf, (DWORD)(size - 1), &got, NULL);
  CloseHandle(f);
  if (!ok) return -1;
  buf[got] = 0;
  return (int)got;
}

/* Checks that the terminal stored \p name with the content \p want; waits up
 * to 2 s, since the simulator may still be writing it. */
static void CheckTerminalFile(const char* name, const char* want) {
  char path[MAX_PATH], got[4096];
  Join(path, terminalDir, name);
  int n = -1;
  for (int i = 0; i < 40; ++i) {
    n = ReadWhole(path, got, sizeof got);
    if (n == lstrlenA(want)) break;
    Sleep(50);
  }
  CHECK_EQ(n, lstrlenA(want), name);
  if (n >= 0) CHECK_TEXT(got, want, name);
}

/* Whether the simulator's log (stretch.log in its folder) shows that it has
 * started a stretched block: the PC is then inside a file, data flowing. */
static BOOL TerminalIsStretching(void) {
  char path[MAX_PATH], log[8192];
  Join(path, terminalDir, "stretch.log");
  if (ReadWhole(path, log, sizeof log) < 0) return FALSE;
  for (const char* p = log; *p; ++p) {
    if (p[0] == ' ' && p[1] == 'o' && p[2] == 'f' && p[3] == ' ') return TRUE; /* "sent STX of ..." */
  }
  return FALSE;
}

/* ---- the library ---- */

static FARPROC Export(const char* name) {
  FARPROC f = GetProcAddress(dll, name);
  if (!f) {
    Say("FAILED Portwick.dll exports no %s", name);
    failures++;
  }
  return f;
}

static BOOL LoadPortwick(void) {
  dll = LoadLibraryW(L"Portwick.dll");
  if (!dll) {
    Say("FAILED LoadLibraryW(Portwick.dll): error %lu", GetLastError());
    return FALSE;
  }
  /* GetProcAddress's FARPROC goes through void (*)(void), which converts to any function pointer. */
  pInitPortwick = (InitPortwickFn)(void (*)(void))Export("InitPortwick");
  pGetPortwickVer = (GetPortwickVerFn)(void (*)(void))Export("GetPortwickVer");
  pOpenCom = (OpenComFn)(void (*)(void))Export("OpenCom");
  pGetComPort = (GetComPortFn)(void (*)(void))Export("GetComPort");
  pBreakCom = (HandleFn)(void (*)(void))Export("BreakCom");
  pCloseCom = (HandleFn)(void (*)(void))Export("CloseCom");
  pSend = (SendFn)(void (*)(void))Export("Send");
  pReceive = (ReceiveFn)(void (*)(void))Export("Receive");
  return failures == 0;
}

/* ---- the host window and its timer ---- */

#define BREAK_TIMER 1
static int32_t portHandle = -1;
static int32_t breakResult = -99;
static BOOL exitFromTimer; /* the timer ends the process instead of stopping the transfer */

/* The host's window procedure. Its timer ticks while a transfer call waits
 * (the library dispatches the host thread's messages meanwhile); once the
 * terminal is inside a file, it stops the transfer. */
static LRESULT CALLBACK HostWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER && wp == BREAK_TIMER && TerminalIsStretching()) {
    KillTimer(wnd, BREAK_TIMER);
    if (exitFromTimer) {
      /* The library is unloaded with the process while its worker runs: the
       * process must end at once, with this code. */
      Say("ExitProcess during the transfer");
      ExitProcess(failures ? 1 : 0);
    }
    breakResult = pBreakCom(portHandle);
    return 0;
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}

/* The host's main window (hidden): the owner of the library's windows. Where
 * Wine has no display driver, a message-only window stands in for it. */
static HWND MakeHostWindow(void) {
  WNDCLASSW wc = {0};
  wc.lpfnWndProc = HostWndProc;
  wc.hInstance = GetModuleHandleW(NULL);
  wc.lpszClassName = L"PortwickHost";
  RegisterClassW(&wc);
  HWND wnd = CreateWindowExW(0, wc.lpszClassName, L"portwick_host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL, NULL,
                             wc.hInstance, NULL);
  if (!wnd) {
    wnd = CreateWindowExW(0, wc.lpszClassName, L"portwick_host", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
  }
  return wnd;
}

/* InitPortwick and OpenCom COM1 at 115200 bit/s; a second OpenCom gives the same handle. */
static BOOL OpenPort(HWND host) {
  char version[64] = "", port[8] = "";
  CHECK_EQ(pGetPortwickVer(version), -1, "GetPortwickVer");
  version[9] = 0;
  CHECK_TEXT(version, "Portwick ", "the version text's start");
  Say("InitPortwick");
  CHECK_EQ(pInitPortwick(), -1, "InitPortwick");
  Say("OpenCom COM1");
  const int32_t wnd = (int32_t)(INT_PTR)host;
  portHandle = pOpenCom(wnd, "COM1", 115200);
  if (portHandle == -1) {
    Say("FAILED OpenCom(COM1, 115200) returned -1");
    failures++;
    return FALSE;
  }
  CHECK_EQ(pOpenCom(wnd, "COM2", 9600), portHandle, "second OpenCom");
  CHECK_EQ(pGetComPort(port), -1, "GetComPort");
  CHECK_TEXT(port, "COM1", "GetComPort");
  return TRUE;
}

/* The terminal receives, sends back, then sends a stretched block that the timer stops. */
static void TransferScenario(HWND host) {
  static const char kCsv[] = "A000000001,00100\r\nB2,7\r\nC000000003,00300\r\n";
  char csv[MAX_PATH], rxDir[MAX_PATH], rxFile[MAX_PATH], got[4096];
  Join(csv, pcDir, "ITEM.CSV");
  Join(rxDir, pcDir, "rx");
  CreateDirectoryA(rxDir, NULL);
  if (!WriteWhole(csv, kCsv)) {
    Say("FAILED cannot write %s", csv);
    failures++;
    return;
  }

  Say("Send ITEM.CSV");
  CHECK_EQ(pSend(portHandle, csv, "ITEM.CSV", "10,5"), PW_NORMAL_END, "Send ITEM.CSV");
  CheckTerminalFile("ITEM.FLD", "* created by BHT\r\nfile\tITEM.CSV\r\nsize\t51\r\nrecords\t3\r\nfields\t10 5\r\n");
  CheckTerminalFile("ITEM.CSV", "A00000000100100\r\nB2        7    \r\nC00000000300300\r\n");

  char name[16] = "?", fields[2048] = "?";
  Say("Receive ITEM.CSV");
  CHECK_EQ(pReceive(portHandle, rxDir, 0, 0, name, fields), PW_NORMAL_END, "Receive ITEM.CSV");
  CHECK_TEXT(name, "ITEM.CSV", "received name");
  CHECK_TEXT(fields, "10,5", "received fields");
  Join(rxFile, rxDir, "ITEM.CSV");
  CHECK_EQ(ReadWhole(rxFile, got, sizeof got), lstrlenA(kCsv), "received ITEM.CSV size");
  CHECK_TEXT(got, kCsv, "received ITEM.CSV");

  Say("Receive, stopped by the host window's timer");
  SetTimer(host, BREAK_TIMER, 50, NULL);
  const DWORD start = GetTickCount();
  CHECK_EQ(pReceive(portHandle, rxDir, 0, 0, name, fields), PW_ABORTED, "Receive stopped by BreakCom");
  KillTimer(host, BREAK_TIMER);
  CHECK_EQ(breakResult, 0, "BreakCom from the host window's timer");
  CHECK_TEXT(name, "", "name after the stopped receive");
  Say("stopped receive returned after %lu ms", GetTickCount() - start);

  CHECK_EQ(pCloseCom(portHandle), 0, "CloseCom");
}

/* ---- unloading during a transfer ---- */

static HANDLE unloaded; /* set once FreeLibrary has returned */
static LONG unloadVerdict = 1;
static volatile LONG unloading;

/* Once the library is gone, the threads that were inside it fault when they
 * run on; the process ends then with the unloader's verdict. */
static LONG CALLBACK AfterUnload(EXCEPTION_POINTERS* info) {
  (void)info;
  if (!unloading) return EXCEPTION_CONTINUE_SEARCH;
  WaitForSingleObject(unloaded, 10000);
  TerminateProcess(GetCurrentProcess(), (UINT)unloadVerdict);
  return EXCEPTION_CONTINUE_SEARCH;
}

static DWORD WINAPI Unloader(void* unused) {
  (void)unused;
  for (int i = 0; i < 200 && !TerminalIsStretching(); ++i) Sleep(50);
  if (!TerminalIsStretching()) Say("FAILED the terminal never started its block; unloading anyway");
  unloading = 1;
  const DWORD start = GetTickCount();
  const BOOL freed = FreeLibrary(dll);
  const DWORD took = GetTickCount() - start;
  Say("FreeLibrary during a receive: %s after %lu ms", freed ? "returned" : "failed", took);
  unloadVerdict = (freed && took <= 2000 && failures == 0) ? 0 : 1;
  if (took > 2000) Say("FAILED FreeLibrary took longer than 2000 ms");
  SetEvent(unloaded);
  TerminateProcess(GetCurrentProcess(), (UINT)unloadVerdict);
  return 0;
}

static DWORD WINAPI Watchdog(void* unused) {
  (void)unused;
  Sleep(20000);
  Say("FAILED FreeLibrary did not return within 20 s");
  TerminateProcess(GetCurrentProcess(), 1);
  return 0;
}

/* Gives the terminal a file to send (A.PD3), then unloads the library from
 * another thread while the terminal sends it back, or, with exitFromTimer,
 * ends the process from the host window's timer. Ends the process. */
static void UnloadScenario(HWND host) {
  char pd3[MAX_PATH], rxDir[MAX_PATH];
  Join(pd3, pcDir, "A.PD3");
  Join(rxDir, pcDir, "rx");
  CreateDirectoryA(rxDir, NULL);
  if (!WriteWhole(pd3, "a program\x1A\r\nof a few bytes")) {
    Say("FAILED cannot write %s", pd3);
    failures++;
    return;
  }
  Say("Send A.PD3");
  CHECK_EQ(pSend(portHandle, pd3, "", ""), PW_NORMAL_END, "Send A.PD3");
  CheckTerminalFile("A.PD3", "a program\x1A\r\nof a few bytes");
  if (failures) return;

  if (exitFromTimer) {
    char name[16], fields[2048];
    Say("Receive A.PD3, ending the process meanwhile");
    SetTimer(host, BREAK_TIMER, 50, NULL);
    const int32_t code = pReceive(portHandle, rxDir, 0, 0, name, fields);
    Say("FAILED Receive returned %ld before the process ended", (long)code);
    failures++;
    return;
  }
  unloaded = CreateEventW(NULL, TRUE, FALSE, NULL);
  AddVectoredExceptionHandler(1, AfterUnload);
  /* Both threads start before the unload: creating a thread needs the loader. */
  HANDLE watchdog = CreateThread(NULL, 0, Watchdog, NULL, 0, NULL);
  HANDLE unloader = CreateThread(NULL, 0, Unloader, NULL, 0, NULL);
  if (!watchdog || !unloader) {
    Say("FAILED CreateThread");
    failures++;
    return;
  }
  char name[16], fields[2048];
  Say("Receive A.PD3, unloading the library meanwhile");
  const int32_t code = pReceive(portHandle, rxDir, 0, 0, name, fields);
  /* Only when the unload did not stop the transfer. */
  Say("FAILED Receive returned %ld before the library was unloaded", (long)code);
  failures++;
  WaitForSingleObject(unloaded, 20000);
}

int main(int argc, char** argv) {
  exitFromTimer = argc > 1 && lstrcmpA(argv[1], "exit") == 0;
  const BOOL unload = exitFromTimer || (argc > 1 && lstrcmpA(argv[1], "unload") == 0);
  if (argc < 2 || (!unload && lstrcmpA(argv[1], "transfer") != 0)) {
    Say("usage: portwick_host transfer|unload|exit");
    return 2;
  }
  /* The simulator's folder is a Linux path; Wine shows the root as Z:. */
  char linuxDir[MAX_PATH - 2];
  if (!GetEnvironmentVariableA("PW_WINE_TERMINAL", linuxDir, sizeof linuxDir)) {
    Say("portwick_host runs under tests/wine/run with PW_WINE_BHTSIM");
    return 2;
  }
  lstrcpyA(terminalDir, "Z:");
  lstrcatA(terminalDir, linuxDir);
  for (char* p = terminalDir; *p; ++p) {
    if (*p == '/') *p = '\\';
  }
  GetTempPathA(sizeof pcDir - 16, pcDir);
  lstrcatA(pcDir, "portwick_host");
  CreateDirectoryA(pcDir, NULL);

  if (!LoadPortwick()) return 1;
  HWND host = MakeHostWindow();
  if (!host) {
    Say("FAILED no host window: error %lu", GetLastError());
    return 1;
  }
  if (OpenPort(host)) {
    if (unload) {
      UnloadScenario(host);
    } else {
      TransferScenario(host);
    }
  }
  if (!unload) FreeLibrary(dll);
  Say(failures ? "portwick_host %s: %d failed" : "portwick_host %s: ok", argv[1], failures);
  return failures ? 1 : 0;
}
