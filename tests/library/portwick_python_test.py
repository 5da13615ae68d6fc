"""libportwick.so driven from Python through the portwick module, as a host program would.

Each test joins COM1 to the terminal simulator bhtsim over two pseudo-terminals
and a relay. The environment names the library (PORTWICK_LIB), the simulator
(PW_BHTSIM) and a scratch folder for the system drive (PORTWICK_DRIVE), which
is emptied first. unittest runs the methods in name order: test_0 sees the
library before InitPortwick, the others after it.
"""

import datetime
import os
import pty
import re
import select
import shutil
import subprocess
import tempfile
import threading
import time
import unittest
from typing import Callable, List

import portwick as pw

BHTSIM = os.environ.get("PW_BHTSIM", "bhtsim")
DRIVE = os.environ.get("PORTWICK_DRIVE") or tempfile.mkdtemp(prefix="portwick-drive")

CSV = b"A000000001,00100\r\nB2,7\r\nC000000003,00300\r\n"
RECORDS = b"A00000000100100\r\nB2        7    \r\nC00000000300300\r\n"
FIELD_FILE = b"* created by BHT\r\nfile\tITEM.CSV\r\nsize\t51\r\nrecords\t3\r\nfields\t10 5\r\n"
PROGRAM = bytes(range(256)) * 5  # every byte value, 0x1A and CR LF included


class Line:
    """Two pseudo-terminals and a relay between their masters: COM1 (the link
    dosdevices/com1 of the drive) and the terminal's end, where bhtsim runs.
    Both slaves stay open here, so each end can be opened and closed at will."""

    def __init__(self) -> None:
        self.masters: List[int] = []
        self.slaves: List[int] = []
        for _ in range(2):
            master, slave = pty.openpty()
            self.masters.append(master)
            self.slaves.append(slave)
        com1 = os.path.join(DRIVE, "dosdevices", "com1")
        if os.path.lexists(com1):
            os.remove(com1)
        os.symlink(os.ttyname(self.slaves[0]), com1)
        self.bht = os.ttyname(self.slaves[1])
        self.stopping = False
        self.relay = threading.Thread(target=self._relay)
        self.relay.start()

    def _relay(self) -> None:
        while not self.stopping:
            ready, _, _ = select.select(self.masters, [], [], 0.02)
            for fd in ready:
                data = os.read(fd, 4096)
                other = self.masters[1 - self.masters.index(fd)]
                while data:
                    data = data[os.write(other, data):]

    def close(self) -> None:
        self.stopping = True
        self.relay.join()
        for fd in self.masters + self.slaves:
            os.close(fd)


class Terminal:
    """One run of bhtsim on the line, in its own folder."""

    runs = 0

    def __init__(self, line: Line, folder: str, *args: str) -> None:
        Terminal.runs += 1
        self.log = os.path.join(folder, f"bhtsim-{Terminal.runs}.log")
        self.process = subprocess.Popen([BHTSIM, *args, "--port", line.bht, "--timeout", "10", "--log", self.log],
                                        cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def end(self) -> None:
        """Ends the run if it still goes on (after a failed test)."""
        if self.process.poll() is None:
            self.process.kill()
        self.process.communicate()

    def finish(self, test: unittest.TestCase) -> None:
        """Waits for the run's end; it must have gone as asked."""
        output, _ = self.process.communicate(timeout=15)
        test.assertEqual(self.process.returncode, 0, output.decode(errors="replace"))

    def wait_inside_file(self, test: unittest.TestCase) -> None:
        """Waits until the simulator has begun a stretched block: the PC is inside a file."""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if os.path.exists(self.log) and re.search(rb"sent (STX|SOH) of ", read(self.log)):
                return
            time.sleep(0.01)
        test.fail("the terminal did not begin its block")


def in_thread(call: Callable[[], object]) -> Callable[[], object]:
    """Starts call on another thread; the function returned waits for its result."""
    box: List[object] = []
    thread = threading.Thread(target=lambda: box.append(call()))
    thread.start()

    def result() -> object:
        thread.join(15)
        if thread.is_alive():
            raise AssertionError("the transfer call did not return")
        return box[0]

    return result


def read(path: str) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def setUpModule() -> None:
    shutil.rmtree(DRIVE, ignore_errors=True)
    os.makedirs(os.path.join(DRIVE, "Users", "Public"))
    os.makedirs(os.path.join(DRIVE, "dosdevices"))
    os.environ["PORTWICK_DRIVE"] = DRIVE


class PortwickTest(unittest.TestCase):
    def setUp(self) -> None:
        self.work = tempfile.mkdtemp(prefix="portwick-python")
        self.terminal_dir = self.folder("terminal")
        self.pc = self.folder("pc")
        self.rx = self.folder("rx")
        self.csv = os.path.join(self.pc, "ITEM.CSV")
        self.program = os.path.join(self.pc, "prog.pd3")
        with open(self.csv, "wb") as f:
            f.write(CSV)
        with open(self.program, "wb") as f:
            f.write(PROGRAM)
        self.line = Line()
        self.terminals: List[Terminal] = []

    def tearDown(self) -> None:
        for t in self.terminals:
            t.end()
        self.line.close()
        shutil.rmtree(self.work)

    def folder(self, name: str) -> str:
        path = os.path.join(self.work, name)
        os.mkdir(path)
        return path

    def terminal(self, *args: str) -> Terminal:
        self.terminals.append(Terminal(self.line, self.terminal_dir, *args))
        return self.terminals[-1]

    def terminal_sends_item_csv(self, *more: str) -> Terminal:
        with open(os.path.join(self.terminal_dir, "ITEM.CSV"), "wb") as f:
            f.write(RECORDS)
        return self.terminal("send", "--file", "ITEM.CSV", "--fields", "10,5", *more)

    def test_0_before_and_at_init(self) -> None:
        code, version = pw.GetPortwickVer()
        self.assertEqual(code, pw.TRUE)
        self.assertRegex(version, r"^Portwick \d+\.\d+\.\d+")
        self.assertEqual(pw.GetPortwickVer2(), (pw.TRUE, version))

        # Everything else refuses to work before InitPortwick.
        refusals = {
            "Send": (pw.Send(1, self.csv, "", "10,5"), pw.BUSY),
            "SendA": (pw.SendA(self.csv), pw.BUSY),
            "Receive": (pw.Receive(1, "", 0, 0), (pw.BUSY, "", "")),
            "RcvFileChk": (pw.RcvFileChk(1, "", 0, 0, "ITEM.CSV")[0], pw.BUSY),
            "BreakCom": (pw.BreakCom(1), 3),
            "CloseCom": (pw.CloseCom(1), 3),
            "OpenCom": (pw.OpenCom(0, "COM1", 115200), -1),
            "OpenComA": (pw.OpenComA(0), -1),
            "GetComPort": (pw.GetComPort()[0], pw.FALSE),
            "SetVisible": (pw.SetVisible(0, 0), pw.FALSE),
            "SetSaveLog": (pw.SetSaveLog(0, 1, "", 0), 1),
            "SetDefFolder": (pw.SetDefFolder(self.pc, 0, 0), 1),
            "GetDefFolder": (pw.GetDefFolder(0)[0], pw.FALSE),
            "SetComMode": (pw.SetComMode(0), pw.FALSE),
        }
        for name, (got, want) in refusals.items():
            with self.subTest(name):
                self.assertEqual(got, want)

        self.assertEqual(pw.InitPortwick(), pw.TRUE)
        self.assertEqual(pw.InitPortwick(), pw.TRUE)
        # Without settings file or registry values the defaults are written,
        # and every folder is the settings folder.
        settings = os.path.join(DRIVE, "Users", "Public", "Tessaly")
        self.assertEqual(read(os.path.join(settings, "Tarnel.cnf")).split(b"\r\n")[0], b"0100004608001110000")
        self.assertEqual(pw.GetDefFolder(0), (pw.TRUE, settings + "/"))
        self.assertEqual(pw.GetDefFolder2(1), (pw.TRUE, settings + "/"))
        self.assertEqual(pw.GetComPort(), (pw.TRUE, ""))

    def test_1_transfers_and_history_log(self) -> None:
        logs = os.path.join(DRIVE, "logs")
        os.makedirs(logs, exist_ok=True)
        self.assertEqual(pw.SetSaveLog(1, 1, logs, 0), 0)  # the log's name is fixed by the next open
        try:
            with pw.Port("com1", 115200) as port:
                self.assertEqual(pw.OpenCom(0, "COM9", 9600), port.handle)  # the open port, unchanged
                self.assertEqual(pw.GetComPort(), (pw.TRUE, "COM1"))
                self.assertEqual(pw.GetComPort2(), (pw.TRUE, "COM1"))

                # A data file: the field file goes first, then the records.
                t = self.terminal("receive", "--dir", ".")
                self.assertEqual(port.send(self.csv, "", "10,5"), pw.NORMAL_END)
                t.finish(self)
                self.assertEqual(read(os.path.join(self.terminal_dir, "ITEM.FLD")), FIELD_FILE)
                self.assertEqual(read(os.path.join(self.terminal_dir, "ITEM.CSV")), RECORDS)

                # A program travels byte for byte under its upper-cased name; a field list does not matter.
                t = self.terminal("receive", "--dir", ".", "--batches", "2")
                self.assertEqual(port.send(self.program, "", "10,5"), pw.NORMAL_END)
                self.assertEqual(pw.SendA(self.program), pw.NORMAL_END)
                t.finish(self)
                self.assertEqual(read(os.path.join(self.terminal_dir, "PROG.PD3")), PROGRAM)

                # The terminal sends its records back: comma-separated text again.
                t = self.terminal_sends_item_csv()
                self.assertEqual(port.receive(self.rx), (pw.NORMAL_END, "ITEM.CSV", "10,5"))
                t.finish(self)
                self.assertEqual(read(os.path.join(self.rx, "ITEM.CSV")), CSV)

                # One expected file: an empty field list comes back filled.
                os.remove(os.path.join(self.rx, "ITEM.CSV"))
                t = self.terminal_sends_item_csv()
                self.assertEqual(port.receive_file("item.csv", self.rx), (pw.NORMAL_END, "10,5"))
                t.finish(self)
                self.assertEqual(read(os.path.join(self.rx, "ITEM.CSV")), CSV)
                # ... other fields, or another file, end the batch with the cancel sequence.
                t = self.terminal_sends_item_csv("--expect-cancel")
                self.assertEqual(pw.RcvFileChk2(port.handle, self.rx, 0, 0, "ITEM.CSV", "10,6"),
                                 (pw.FIELD_MISMATCH, "10,6"))
                t.finish(self)
                t = self.terminal_sends_item_csv("--expect-cancel")
                self.assertEqual(pw.RcvFileChk(port.handle, self.rx, 0, 0, "OTHER.CSV")[0], pw.WRONG_RCV_FILE)
                t.finish(self)
        finally:
            self.assertEqual(pw.SetSaveLog(0, 1, "", 0), 0)

        # One log file a month, named after the port; a line of 77 bytes per transfer.
        log = read(os.path.join(logs, datetime.date.today().strftime("PWKCOM1_%Y_%m.log")))
        lines = log.split(b"\r\n")
        self.assertEqual(lines[-1], b"")
        self.assertEqual([len(line) for line in lines[:-1]], [77] * (len(lines) - 1))
        self.assertRegex(lines[0][:15], rb"^\d\d/\d\d \d\d:\d\d:\d\d $")
        sent, normal_end = "送信  ".encode("cp932"), "正常終了".encode("cp932").ljust(30)
        self.assertEqual(lines[0][15:], b"ITEM.CSV      " + "3件".encode("cp932").ljust(12) + sent + normal_end)
        self.assertEqual(lines[1][15:], b"PROG.PD3      " + "1280ﾊﾞｲﾄ".encode("cp932").ljust(12) + sent + normal_end)

    def test_2_argument_checks(self) -> None:
        # A port name or speed out of range opens nothing (the library says why on stderr).
        for port, speed in (("COM10", 115200), ("COM0", 115200), ("CM1", 115200), ("COM1", 4800)):
            with self.subTest(port=port, speed=speed):
                self.assertEqual(pw.OpenCom(0, port, speed), -1)
        self.assertEqual(pw.GetComPort(), (pw.TRUE, ""))
        with self.assertRaisesRegex(pw.PortwickError, "COM10"):
            with pw.Port("COM10"):
                pass

        missing = os.path.join(self.work, "missing")
        unreadable = os.path.join(self.pc, "LOCKED.PD3")
        with open(unreadable, "wb") as f:
            f.write(PROGRAM)
        os.chmod(unreadable, 0)
        if os.access(unreadable, os.R_OK):  # root reads anything, but not this one
            unreadable = "/proc/sys/vm/drop_caches"
        with open(os.path.join(self.pc, "ITEM.DAT"), "wb") as f:
            f.write(RECORDS)

        with pw.Port() as port:
            h = port.handle
            wrong = h ^ 0x4000
            checks = {
                "no port (-1)": (pw.Send(-1, self.csv, "", "10,5"), pw.CANCELLED),
                "wrong handle": (pw.Send(wrong, self.csv, "", "10,5"), pw.WRONG_HANDLE),
                "no send folder": (pw.Send(h, os.path.join(missing, "ITEM.CSV"), "", "10,5"), pw.NO_FOLDER),
                "no receive folder": (pw.Receive(h, missing, 0, 0), (pw.NO_FOLDER, "", "")),
                "no file": (pw.Send(h, os.path.join(self.pc, "NONE.CSV"), "", "10,5"), pw.NO_SEND_FILE),
                "no field list": (pw.Send(h, os.path.join(self.pc, "ITEM.DAT"), "", ""), pw.FIELD_FILE_ERROR),
                "13-byte name": (pw.Send(h, self.csv, "ABCDEFGHI.CSV", "10,5"), pw.BAD_BHT_NAME),
                "5-byte extension": (pw.Send(h, self.csv, "ABC.DATA", "10,5"), pw.BAD_BHT_NAME),
                "unreadable file": (pw.Send(h, unreadable, "X.PD3", ""), pw.FILE_ACCESS_ERROR),
                "no expected name": (pw.RcvFileChk(h, "", 0, 0, "")[0], pw.WRONG_RCV_FILE),
                "BreakCom, no transfer": (pw.BreakCom(h), 2),
                "BreakCom, wrong handle": (pw.BreakCom(wrong), 3),
                "BreakCom, no port (-1)": (pw.BreakCom(-1), 1),
                "CloseCom, wrong handle": (pw.CloseCom(wrong), 3),
                "SetSaveLog, bad period": (pw.SetSaveLog(1, 3, self.pc, 0), 2),
                "SetSaveLog, no folder": (pw.SetSaveLog(1, 1, missing, 0), 3),
                "SetDefFolder, no folder": (pw.SetDefFolder(missing, 1, 0), 2),
                "SetDefFolder": (pw.SetDefFolder(self.pc, 1, 0), 0),
                "GetDefFolder": (pw.GetDefFolder(1), (pw.TRUE, self.pc + "/")),
            }
            for name, (got, want) in checks.items():
                with self.subTest(name):
                    self.assertEqual(got, want)

            # The port is still open: a file without a folder comes from the
            # default send folder; a name of 12 bytes is good.
            t = self.terminal("receive", "--dir", ".")
            self.assertEqual(port.send("ITEM.CSV", "ABCDEFGH.CSV", "10,5"), pw.NORMAL_END)
            t.finish(self)
            self.assertEqual(read(os.path.join(self.terminal_dir, "ABCDEFGH.CSV")), RECORDS)

    def test_3_stop_and_close_during_a_transfer(self) -> None:
        with pw.Port() as port:
            # Waiting for the terminal: another transfer or SetComMode is refused;
            # BreakCom ends the wait with 1, and nothing was received.
            receive = in_thread(lambda: pw.Receive2(port.handle, self.rx, 0, 0))
            deadline = time.monotonic() + 5
            while pw.RcvFileChk(port.handle, "", 0, 0, "")[0] != pw.BUSY and time.monotonic() < deadline:
                time.sleep(0.01)  # 19 until the receive has started
            self.assertEqual(pw.Send(port.handle, self.csv, "", "10,5"), pw.BUSY)
            self.assertEqual(pw.SetComMode(0), pw.FALSE)
            self.assertEqual(port.break_(), 0)
            self.assertEqual(receive(), (pw.CANCELLED, "", ""))

            # Inside a file: BreakCom aborts it (2) and the terminal sees the cancel sequence.
            t = self.terminal("send", "--file", self.program, "--stretch", "1:1500", "--expect-cancel")
            receive = in_thread(lambda: port.receive(self.rx))
            t.wait_inside_file(self)
            self.assertEqual(port.stop(), 0)
            self.assertEqual(receive(), (pw.ABORTED, "", ""))
            t.finish(self)

            # CloseCom inside a file ends the transfer with 1 and closes the port.
            t = self.terminal("send", "--file", self.program, "--stretch", "1:1500", "--expect-cancel")
            receive = in_thread(lambda: port.receive(self.rx))
            t.wait_inside_file(self)
            self.assertEqual(port.close(), 0)
            self.assertEqual(receive(), (pw.CANCELLED, "", ""))
            t.finish(self)
            self.assertEqual(pw.GetComPort(), (pw.TRUE, ""))
            self.assertFalse(os.path.exists(os.path.join(self.rx, "PROG.PD3")))

            # It opens again.
            port.handle = pw.OpenCom(0, "COM1", 115200)
            self.assertNotEqual(port.handle, -1)

    def test_4_set_com_mode_reopens_the_port(self) -> None:
        with pw.Port() as port:
            old = port.handle
            self.assertEqual(pw.SetComMode(0), pw.TRUE)
            self.assertEqual(pw.BreakCom(old), 3)
            self.assertEqual(pw.Send(old, self.csv, "", "10,5"), pw.WRONG_HANDLE)
            port.handle = pw.OpenCom(0, "COM1", 115200)
            self.assertNotIn(port.handle, (old, -1))
            self.assertEqual(pw.GetComPort(), (pw.TRUE, "COM1"))
            t = self.terminal("receive", "--dir", ".")
            self.assertEqual(port.send(self.program), pw.NORMAL_END)
            t.finish(self)
            self.assertEqual(read(os.path.join(self.terminal_dir, "PROG.PD3")), PROGRAM)


if __name__ == "__main__":
    unittest.main(verbosity=2)
