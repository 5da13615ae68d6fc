"""The Portwick library for Python hosts, through ctypes.

The library (libportwick.so beside this file, or the file or folder that the
environment variable PORTWICK_LIB names; Portwick.dll on Windows) moves files
between this PC and a BHT terminal over a serial line. Every export is here
under its own name and returns the library's integer result; text arguments
are str, encoded in the locale's encoding, and output buffers are made here
and come back as str after the result::

    code, name, fields = portwick.Receive(handle, "", 0, 0)

On top of that, Port opens one port for a with block::

    with portwick.Port("COM1", 115200) as port:
        if port.send("/data/ITEM.CSV", "ITEM.CSV", "10,5") != portwick.NORMAL_END:
            ...

A transfer call blocks until the transfer has ended; it releases the GIL, so
another thread may call break_() (BreakCom) meanwhile.
"""

from __future__ import annotations

import ctypes
import locale
import os
import sys
from typing import Optional, Tuple

# Results of the transfer calls (their argument checks and the transfers).
NORMAL_END = 0
CANCELLED = 1
ABORTED = 2
WRONG_HANDLE = 3
BUSY = 4
NO_FOLDER = 5
NO_SEND_FILE = 6
FIELD_FILE_ERROR = 7
BAD_BHT_NAME = 8
SEND_DATA_ERROR = 9
FILE_ACCESS_ERROR = 12
TIMEOUT = 13
COMM_ERROR = 14
RCV_FIELD_DATA_ERROR = 15
RCV_DATA_ERROR = 16
RCV_BUF_READ_ERROR = 17
SEND_BUF_WRITE_ERROR = 18
WRONG_RCV_FILE = 19
FIELD_MISMATCH = 20

# "True" and "false" results.
TRUE = -1
FALSE = 0

# Output buffers, in bytes with the terminating zero.
VERSION_BUFFER = 64
PORT_BUFFER = 8
FOLDER_BUFFER = 4096  # PATH_MAX
NAME_BUFFER = 64  # 16 suffice in Shift-JIS; a name in UTF-8 may take three bytes for one
FIELDS_BUFFER = 2048

_I = ctypes.c_int32
_S = ctypes.c_char_p
_PS = ctypes.POINTER(ctypes.c_char_p)

# Each export's arguments; every one returns a 32-bit integer.
_PROTOTYPES = {
    "InitPortwick": (),
    "GetPortwickVer": (_S,),
    "GetPortwickVer2": (_PS,),
    "OpenCom": (_I, _S, _I),
    "OpenComA": (_I,),
    "GetComPort": (_S,),
    "GetComPort2": (_PS,),
    "SetVisible": (_I, _I),
    "SetSaveLog": (_I, _I, _S, _I),
    "SetDefFolder": (_S, _I, _I),
    "GetDefFolder": (_I, _S),
    "GetDefFolder2": (_I, _PS),
    "SetComMode": (_I,),
    "BreakCom": (_I,),
    "CloseCom": (_I,),
    "Send": (_I, _S, _S, _S),
    "SendA": (_S,),
    "Receive": (_I, _S, _I, _I, _S, _S),
    "Receive2": (_I, _S, _I, _I, _PS, _PS),
    "ReceiveA": (_S, _S),
    "ReceiveA2": (_PS, _PS),
    "RcvFileChk": (_I, _S, _I, _I, _S, _S),
    "RcvFileChk2": (_I, _S, _I, _I, _S, _PS),
    "RcvFileChkA": (_S, _S),
    "RcvFileChkA2": (_S, _PS),
}

_library: Optional[ctypes.CDLL] = None


def library_path() -> str:
    """The library file that this module loads."""
    name = "Portwick.dll" if sys.platform == "win32" else "libportwick.so"
    path = os.environ.get("PORTWICK_LIB") or os.path.dirname(os.path.abspath(__file__))
    return os.path.join(path, name) if os.path.isdir(path) else path


def _lib() -> ctypes.CDLL:
    global _library
    if _library is None:
        # Portwick.dll uses stdcall on x86 (WinDLL); the same as cdecl elsewhere.
        loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL  # type: ignore[attr-defined]
        lib = loader(library_path())
        for name, args in _PROTOTYPES.items():
            function = getattr(lib, name)
            function.argtypes = args
            function.restype = _I
        _library = lib
    return _library


def _encoding() -> str:
    return locale.getpreferredencoding(False)


def _text(value: str) -> bytes:
    return value.encode(_encoding())


def _buffer(size: int, value: str = "") -> ctypes.Array:
    data = _text(value)
    if len(data) >= size:
        raise ValueError(f"{value!r} does not fit a buffer of {size} bytes")
    buf = ctypes.create_string_buffer(size)
    buf.value = data
    return buf


def _str(buf: ctypes.Array) -> str:
    return buf.value.decode(_encoding(), errors="replace")


def _ref(buf: ctypes.Array) -> ctypes.c_char_p:
    """A pointer to buf, for the "2" exports that take a buffer by reference."""
    return ctypes.cast(buf, ctypes.c_char_p)


# ---- the exports ----


def InitPortwick() -> int:
    return _lib().InitPortwick()


def GetPortwickVer() -> Tuple[int, str]:
    buf = _buffer(VERSION_BUFFER)
    return _lib().GetPortwickVer(buf), _str(buf)


def GetPortwickVer2() -> Tuple[int, str]:
    buf = _buffer(VERSION_BUFFER)
    return _lib().GetPortwickVer2(ctypes.byref(_ref(buf))), _str(buf)


def OpenCom(host_wnd: int, port: str, speed: int) -> int:
    return _lib().OpenCom(host_wnd, _text(port), speed)


def OpenComA(host_wnd: int) -> int:
    return _lib().OpenComA(host_wnd)


def GetComPort() -> Tuple[int, str]:
    buf = _buffer(PORT_BUFFER)
    return _lib().GetComPort(buf), _str(buf)


def GetComPort2() -> Tuple[int, str]:
    buf = _buffer(PORT_BUFFER)
    return _lib().GetComPort2(ctypes.byref(_ref(buf))), _str(buf)


def SetVisible(show: int, save: int) -> int:
    return _lib().SetVisible(show, save)


def SetSaveLog(enable: int, mode: int, folder: str, save: int) -> int:
    return _lib().SetSaveLog(enable, mode, _text(folder), save)


def SetDefFolder(folder: str, kind: int, save: int) -> int:
    return _lib().SetDefFolder(_text(folder), kind, save)


def GetDefFolder(kind: int) -> Tuple[int, str]:
    buf = _buffer(FOLDER_BUFFER)
    return _lib().GetDefFolder(kind, buf), _str(buf)


def GetDefFolder2(kind: int) -> Tuple[int, str]:
    buf = _buffer(FOLDER_BUFFER)
    return _lib().GetDefFolder2(kind, ctypes.byref(_ref(buf))), _str(buf)


def SetComMode(host_wnd: int) -> int:
    return _lib().SetComMode(host_wnd)


def BreakCom(handle: int) -> int:
    return _lib().BreakCom(handle)


def CloseCom(handle: int) -> int:
    return _lib().CloseCom(handle)


def Send(handle: int, pc_file: str, bht_name: str, fields: str) -> int:
    return _lib().Send(handle, _text(pc_file), _text(bht_name), _text(fields))


def SendA(pc_file: str) -> int:
    return _lib().SendA(_text(pc_file))


def Receive(handle: int, folder: str, continuous: int, append: int) -> Tuple[int, str, str]:
    """(result, received file name, its field list)."""
    name, fields = _buffer(NAME_BUFFER), _buffer(FIELDS_BUFFER)
    code = _lib().Receive(handle, _text(folder), continuous, append, name, fields)
    return code, _str(name), _str(fields)


def Receive2(handle: int, folder: str, continuous: int, append: int) -> Tuple[int, str, str]:
    name, fields = _buffer(NAME_BUFFER), _buffer(FIELDS_BUFFER)
    code = _lib().Receive2(handle, _text(folder), continuous, append, ctypes.byref(_ref(name)),
                           ctypes.byref(_ref(fields)))
    return code, _str(name), _str(fields)


def ReceiveA() -> Tuple[int, str, str]:
    name, fields = _buffer(NAME_BUFFER), _buffer(FIELDS_BUFFER)
    return _lib().ReceiveA(name, fields), _str(name), _str(fields)


def ReceiveA2() -> Tuple[int, str, str]:
    name, fields = _buffer(NAME_BUFFER), _buffer(FIELDS_BUFFER)
    return _lib().ReceiveA2(ctypes.byref(_ref(name)), ctypes.byref(_ref(fields))), _str(name), _str(fields)


def RcvFileChk(handle: int, folder: str, continuous: int, append: int, expect_name: str,
               fields: str = "") -> Tuple[int, str]:
    """(result, field list): the list given, or the received one when none was given."""
    buf = _buffer(FIELDS_BUFFER, fields)
    code = _lib().RcvFileChk(handle, _text(folder), continuous, append, _text(expect_name), buf)
    return code, _str(buf)


def RcvFileChk2(handle: int, folder: str, continuous: int, append: int, expect_name: str,
                fields: str = "") -> Tuple[int, str]:
    buf = _buffer(FIELDS_BUFFER, fields)
    code = _lib().RcvFileChk2(handle, _text(folder), continuous, append, _text(expect_name),
                              ctypes.byref(_ref(buf)))
    return code, _str(buf)


def RcvFileChkA(expect_name: str, fields: str = "") -> Tuple[int, str]:
    buf = _buffer(FIELDS_BUFFER, fields)
    return _lib().RcvFileChkA(_text(expect_name), buf), _str(buf)


def RcvFileChkA2(expect_name: str, fields: str = "") -> Tuple[int, str]:
    buf = _buffer(FIELDS_BUFFER, fields)
    return _lib().RcvFileChkA2(_text(expect_name), ctypes.byref(_ref(buf))), _str(buf)


# ---- one open port ----


class PortwickError(Exception):
    """The library could not be initialised or the port not opened."""


class Port:
    """Initialises the library and opens one port for a with block; closes it at the end.

    The library serves one port per process: while a port is open, opening
    another one gives the open port again.
    """

    def __init__(self, port: str = "COM1", speed: int = 115200, host_wnd: int = 0) -> None:
        self.port = port
        self.speed = speed
        self.host_wnd = host_wnd
        self.handle = -1

    def __enter__(self) -> "Port":
        if InitPortwick() != TRUE:
            raise PortwickError("the Portwick library could not be initialised (see its message)")
        self.handle = OpenCom(self.host_wnd, self.port, self.speed)
        if self.handle == -1:
            raise PortwickError(f"{self.port} could not be opened at {self.speed} bit/s (see the library's message)")
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> int:
        """CloseCom: 0 closed, 2 a transfer did not end (the port stays open)."""
        code = CloseCom(self.handle)
        if code != 2:
            self.handle = -1
        return code

    def send(self, pc_file: str, bht_name: str = "", fields: str = "") -> int:
        return Send(self.handle, pc_file, bht_name, fields)

    def receive(self, folder: str = "", continuous: bool = False, append: bool = False) -> Tuple[int, str, str]:
        """(result, received file name, its field list)."""
        return Receive(self.handle, folder, int(continuous), int(append))

    def receive_file(self, expect_name: str, folder: str = "", fields: str = "", continuous: bool = False,
                     append: bool = False) -> Tuple[int, str]:
        """(result, field list) for the one data file expect_name."""
        return RcvFileChk(self.handle, folder, int(continuous), int(append), expect_name, fields)

    def break_(self) -> int:
        """BreakCom: 0 stop requested, 2 no transfer runs."""
        return BreakCom(self.handle)

    stop = break_

    def settings(self) -> int:
        """SetComMode: reopens the port with a new handle, which this object takes."""
        code = SetComMode(self.host_wnd)
        if code == TRUE:
            self.handle = OpenCom(self.host_wnd, self.port, self.speed)
        return code
