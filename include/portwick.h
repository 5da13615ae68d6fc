/*
 * portwick.h: the interface of the Portwick library (Portwick.dll on
 * Windows, libportwick.so on Linux), which moves files between this PC and a
 * BHT terminal over a serial line.
 *
 * Calling order
 *   InitPortwick once; then OpenCom or OpenComA; then any number of Send,
 *   Receive and RcvFileChk calls (or their variants), one at a time; BreakCom
 *   only while one of them runs; CloseCom last. The settings functions may be
 *   called at any time after InitPortwick. Every function except the two
 *   version queries refuses to work before InitPortwick.
 *
 * Threads
 *   Call the library from one thread, the one that owns the window given to
 *   OpenCom. A transfer call returns when the transfer has ended. On Windows
 *   it dispatches that thread's window messages while it waits, so the host's
 *   windows stay alive and BreakCom may come from one of the host's message
 *   handlers. On Linux it blocks; BreakCom may come from another thread.
 *
 * Text
 *   Zero-terminated 8-bit strings. On Windows in the system's ANSI code page
 *   (Shift-JIS on Japanese systems). On Linux paths and names are in the
 *   locale's encoding (UTF-8); names on the terminal stay Shift-JIS, and the
 *   12-byte limit of a terminal's file name counts its Shift-JIS bytes.
 *
 * Buffers
 *   Output buffers belong to the caller. The library copies the whole text
 *   and its terminating zero without a length check, so supply at least:
 *     version text          64 bytes
 *     port name              8 bytes
 *     folder               520 bytes on Windows (a path of 260 characters), 4096 on Linux
 *     received file name    16 bytes on Windows (a terminal's name is at most 12
 *                           bytes), 40 on Linux (12 half-width kana are 36 UTF-8 bytes)
 *     field list          2048 bytes (up to 256 widths of up to 4 digits)
 *   The "2" variants take each output buffer by reference: a pointer to the
 *   caller's buffer pointer (for hosts that pass strings that way).
 *
 * Results
 *   "True" is -1 and "false" 0. A transfer call first checks its arguments
 *   and returns at once, starting nothing, with:
 *     1  no port is open, or handle is -1; Send/SendA: the file dialog was cancelled
 *     3  handle is not the open port's handle
 *     4  not initialised, or a transfer is already running
 *     5  the folder does not exist (send: the PC file's; receive: the receive folder)
 *     6  the PC file does not exist
 *     7  a data file has no field list, given or in its field file
 *     8  the terminal's file name is empty, longer than 12 bytes, or its
 *        extension (with the dot) longer than 4 bytes
 *     12 the PC file cannot be opened for reading
 *     19 RcvFileChk: expectName is empty
 *   Otherwise the transfer runs and the call returns its result, the PW_*
 *   codes below: 0 for success.
 *
 * Handles
 *   A port handle is the low 32 bits of the system's handle of the open port.
 *   A window handle is passed as a 32-bit value and widened with its sign.
 */
#ifndef PORTWICK_H
#define PORTWICK_H

#include <stdint.h>

#if defined(_WIN32)
/* The library's .def file names its exports, undecorated. */
#define PORTWICK_API
/* stdcall on x86 (the callee removes the arguments; undecorated names); the
 * standard convention on x64, where __stdcall is ignored. */
#define PORTWICK_CALL __stdcall
#else
#if defined(PORTWICK_BUILD)
#define PORTWICK_API __attribute__((visibility("default")))
#else
#define PORTWICK_API
#endif
#define PORTWICK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes: the argument checks' and the transfers' (the history log
 * names the latter with the same numbers). */
enum {
  PW_NORMAL_END = 0,             /* the transfer ended normally */
  PW_CANCELLED = 1,              /* stopped before data flowed, or ended by CloseCom; argument check: no port */
  PW_ABORTED = 2,                /* stopped while data flowed, or cancelled by the terminal */
  PW_WRONG_HANDLE = 3,           /* argument check: not the open port's handle */
  PW_BUSY = 4,                   /* argument check: not initialised, or a transfer runs */
  PW_NO_FOLDER = 5,              /* argument check: the folder does not exist */
  PW_NO_SEND_FILE = 6,           /* the PC file does not exist */
  PW_FIELD_FILE_ERROR = 7,       /* a data file has no (valid) field list */
  PW_BAD_BHT_NAME = 8,           /* argument check: bad terminal file name */
  PW_SEND_DATA_ERROR = 9,        /* the PC file's data does not fit its field list */
  PW_FILE_ACCESS_ERROR = 12,     /* a file could not be opened, created or written */
  PW_TIMEOUT = 13,               /* the terminal did not answer in time */
  PW_COMM_ERROR = 14,            /* too many retries on the line */
  PW_RCV_FIELD_DATA_ERROR = 15,  /* a received field file was bad */
  PW_RCV_DATA_ERROR = 16,        /* received data did not fit its field list */
  PW_RCV_BUF_READ_ERROR = 17,    /* reading the port failed */
  PW_SEND_BUF_WRITE_ERROR = 18,  /* writing the port failed */
  PW_WRONG_RCV_FILE = 19,        /* RcvFileChk: another file arrived; argument check: expectName empty */
  PW_FIELD_MISMATCH = 20         /* RcvFileChk: the field list differs from the one given */
};

/* Initialises the library: checks the system, finds or creates the settings
 * folder and loads the settings; when they are incomplete, the settings
 * dialog opens (on Linux a message names the missing setting).
 * Returns -1 (also when already initialised), 0 on failure (after a message). */
PORTWICK_API int32_t PORTWICK_CALL InitPortwick(void);

/* Copies the version text ("Portwick 0.1.0 (x64)") into buf (64 bytes).
 * Works before InitPortwick. Returns -1. */
PORTWICK_API int32_t PORTWICK_CALL GetPortwickVer(char* buf);
PORTWICK_API int32_t PORTWICK_CALL GetPortwickVer2(char** buf);

/* Opens port ("COM1" to "COM9", any letter case) at speed (9600, 19200,
 * 38400, 57600, 115200 or 460800 bit/s). hostWnd owns the library's windows
 * (0 for none). Returns the port handle, or -1 after a message. When a port
 * is already open, returns its handle and ignores the arguments. */
PORTWICK_API int32_t PORTWICK_CALL OpenCom(int32_t hostWnd, const char* port, int32_t speed);
/* As OpenCom with the stored port and speed. */
PORTWICK_API int32_t PORTWICK_CALL OpenComA(int32_t hostWnd);

/* Copies the open port's name ("COM1"; empty when none is open) into buf.
 * Returns -1; 0 when not initialised. */
PORTWICK_API int32_t PORTWICK_CALL GetComPort(char* buf);
PORTWICK_API int32_t PORTWICK_CALL GetComPort2(char** buf);

/* Shows (show non-zero) or hides the progress window of the following
 * transfers. save non-zero also stores it in the registry value DspMode.
 * Returns -1; 0 when not initialised. */
PORTWICK_API int32_t PORTWICK_CALL SetVisible(int32_t show, int32_t save);

/* Switches the history log on (enable non-zero) or off. mode: 0 a log file a
 * day, 1 a month, 2 a year. folder: the log folder (empty: the current
 * folder). save non-zero also stores the settings in the registry.
 * Returns 0 done, 1 not initialised, 2 bad mode, 3 bad or missing folder.
 * On/off takes effect at the next transfer, folder and period at the next open. */
PORTWICK_API int32_t PORTWICK_CALL SetSaveLog(int32_t enable, int32_t mode, const char* folder, int32_t save);

/* Sets the default receive folder (kind 0) or send folder (any other kind);
 * empty: the current folder. save non-zero writes the settings file.
 * Returns 0 done, 1 not initialised, 2 folder missing or settings not stored. */
PORTWICK_API int32_t PORTWICK_CALL SetDefFolder(const char* folder, int32_t kind, int32_t save);

/* Copies the default send folder (kind non-zero) or receive folder (kind 0)
 * into buf. Returns -1; 0 when not initialised. */
PORTWICK_API int32_t PORTWICK_CALL GetDefFolder(int32_t kind, char* buf);
PORTWICK_API int32_t PORTWICK_CALL GetDefFolder2(int32_t kind, char** buf);

/* Shows the settings dialog (on Linux: reads the settings file again). An
 * open port is closed first and reopened afterwards with a new handle, which
 * OpenCom or OpenComA returns. Returns -1; 0 when not initialised or while a
 * transfer runs. */
PORTWICK_API int32_t PORTWICK_CALL SetComMode(int32_t hostWnd);

/* Asks the running transfer to stop; the transfer call then returns its
 * result (1 while waiting for the terminal, else 2). Returns at once:
 * 0 stop requested, 1 no port, 2 no transfer runs, 3 not initialised or wrong handle. */
PORTWICK_API int32_t PORTWICK_CALL BreakCom(int32_t handle);

/* Ends a running transfer (for up to 10 s) and closes the port.
 * Returns 0 closed, 1 no port, 2 the transfer did not end (the port stays
 * open), 3 not initialised or wrong handle. */
PORTWICK_API int32_t PORTWICK_CALL CloseCom(int32_t handle);

/* Sends pcFile to the terminal as bhtName (empty: pcFile's name, upper
 * case). A pcFile without a folder is looked for in the default send folder;
 * on Windows an empty file name opens a file dialog. fields: the field list
 * of a data file ("8,20,5"); empty: read from its field file (pcFile with
 * the extension .fld). Programs, images, sounds and archives (.PD3 .PD4
 * .FN3 .BMP .JPG .WAV .LCS .ZIP) travel unchanged. Returns the result. */
PORTWICK_API int32_t PORTWICK_CALL Send(int32_t handle, const char* pcFile, const char* bhtName, const char* fields);
/* Send on the open port, with the stored settings; the terminal's name is
 * pcFile's upper-cased name and a data file's field list comes from its field file. */
PORTWICK_API int32_t PORTWICK_CALL SendA(const char* pcFile);

/* Receives a batch of files into folder (empty: the default receive folder);
 * continuous non-zero waits for batch after batch until BreakCom; append
 * non-zero appends received data to existing files. Copies the last received
 * file's name into rcvName (16 bytes; 40 on Linux) and its field list into rcvFields
 * (2048 bytes); both are empty after a failed receive. Returns the result. */
PORTWICK_API int32_t PORTWICK_CALL Receive(int32_t handle, const char* folder, int32_t continuous, int32_t append,
                                           char* rcvName, char* rcvFields);
PORTWICK_API int32_t PORTWICK_CALL Receive2(int32_t handle, const char* folder, int32_t continuous, int32_t append,
                                            char** rcvName, char** rcvFields);
/* Receive on the open port into the default receive folder, with the stored modes. */
PORTWICK_API int32_t PORTWICK_CALL ReceiveA(char* rcvName, char* rcvFields);
PORTWICK_API int32_t PORTWICK_CALL ReceiveA2(char** rcvName, char** rcvFields);

/* Receives the one data file expectName (19 when another arrives). fields,
 * in and out (2048 bytes): a non-empty list is the field list the file must
 * carry (20 when it differs); an empty buffer receives the file's field list.
 * Returns the result. */
PORTWICK_API int32_t PORTWICK_CALL RcvFileChk(int32_t handle, const char* folder, int32_t continuous, int32_t append,
                                              const char* expectName, char* fields);
PORTWICK_API int32_t PORTWICK_CALL RcvFileChk2(int32_t handle, const char* folder, int32_t continuous,
                                               int32_t append, const char* expectName, char** fields);
/* RcvFileChk on the open port into the default receive folder, with the stored modes. */
PORTWICK_API int32_t PORTWICK_CALL RcvFileChkA(const char* expectName, char* fields);
PORTWICK_API int32_t PORTWICK_CALL RcvFileChkA2(const char* expectName, char** fields);

#ifdef __cplusplus
}
#endif

#endif /* PORTWICK_H */
