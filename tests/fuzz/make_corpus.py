#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/.

Each seed is a small meaningful input; the fuzzers grow the rest from them.
Run it again after changing how a target reads its input.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def field_file(name, size, records, fields, key_records="records"):
    key_fields = "fields" if " " in fields else "field"
    return (f"* created by BHT\r\nfile\t{name}\r\nsize\t{size}\r\n{key_records}\t{records}\r\n"
            f"{key_fields}\t{fields}\r\n").encode("ascii")


def header(name, size):
    return name + b"\0" + str(size).encode() + b"\0"


# fuzz_header: flags, choice, then the header's data.
#   flags: 1 a 1024-byte header, 2 CSV, 4 an expected name, 8 expected fields,
#   16 a field file for this name came first, 32 its fields are the expected ones.
HEADER = {
    "field_file": bytes([0, 0]) + header(b"ITEM.FLD", 120),
    "data_after_field_file": bytes([16, 0]) + header(b"ITEM.DAT", 12),
    "data_without_field_file": bytes([2, 0]) + header(b"item.csv", 12),
    "program_1024": bytes([1, 0]) + header(b"PROG.PD3", 5000),
    "wrong_file": bytes([4, 0]) + header(b"OTHER.DAT", 12),
    "other_fields": bytes([8 | 16, 0]) + header(b"ITEM.CSV", 12),
    "expected_fields": bytes([4 | 8 | 16 | 32, 0]) + header(b"ITEM.DAT", 12),
    "end_of_batch": bytes([0, 0]) + bytes(128),
    "dot_dot": bytes([0, 0]) + header(b"..", 5),
    "device_name": bytes([0, 0]) + header(b"CON.TXT", 5),
    "shift_jis_name": bytes([0, 0]) + header(b"\x83\x5c.BMP", 9),
    "settings": bytes([0, 0]) + header(b"SET.BNF", 2147483647),
}

# fuzz_field_file: the text as received (blocks of 128 bytes, zero fill).
def padded(text):
    return text + bytes(-len(text) % 128)


FIELD_FILE = {
    "three_fields": padded(field_file("ITEM.DAT", 99, 3, "8 20 5")),
    "with_crlf": padded(field_file("ITEM.CSV", 105, 3, "8 20 5")),
    "one_field_record_key": field_file("A.DAT", 20, 2, "10", key_records="record"),
    "raw_name": field_file("LOGO.LCS", 7, 3, "1 2"),
    "zero_size": field_file("ITEM.DAT", 0, 3, "8"),
    "not_a_number": field_file("ITEM.DAT", 4, 2, "x 2"),
    "long_list": padded(field_file("M.DAT", 256, 1, " ".join(["1"] * 256))),
}

# fuzz_fld_reader: the case of the ".fld" name (0-3), then the file.
FLD = {
    "fields_line": b"\x00fields 8 20 5\r\nsecond line\r\n",
    "field_upper": b"\x01FIELD\t10\n",
    "bare_list": b"\x02 8 20 5 ",
    "commas": b"\x03fields 8,20,5\r\n",
    "too_wide": b"\x00fields 9000 1\r\n",
    "empty": b"\x00",
    "no_newline_cr": b"\x01fields 4\r",
}

# fuzz_receiver: two setup bytes, then steps (see fuzz_receiver.cpp).
#   setup: 1 continuous, 2 CSV, 4 append, 8 trailing blanks, 16 quotes,
#          32 an expected name (index follows), 64 expected fields (index follows), 128 log
#   setup2 % 4: the start tick (1000, 4000 ms before the wrap, mid-range, 0)
# Steps: 0x00-0x3F n+1 raw bytes; 0x4n wait (n+1)*50 ms; 0x5n wait (n+1) s;
#   0x60 EOT, 0x62 CAN, 0x64 end of batch, 0x66 stop, 0x67 forced end;
#   0x70 + mode header (name index, size...); 0x80-0xAF data blocks;
#   0xBn field-file text; 0xCn a whole raw file (size hi, lo, salt);
#   0xDn a whole data file behind its field file (records, list index);
#   0xE0 wait for an answer; 0xF0 hold.
RECEIVER = {
    "raw_file": bytes([0, 0, 0xC0, 0x09, 0x00, 7, 0x64]),
    "raw_file_small_blocks": bytes([0, 0, 0xC9, 0x01, 0x10, 1, 0x64]),
    "data_file": bytes([0, 0, 0xD1, 3, 0, 0x64]),
    "csv_continuous": bytes([1 | 2 | 16, 0, 0xDC, 5, 2, 0xD4, 2, 0, 0x64, 0x41]),
    "append_expected": bytes([4 | 32 | 64, 0, 1, 0, 0xD0, 4, 0, 0x64]),
    "log_and_wrap": bytes([128, 1, 0xC2, 0x02, 0x00, 3, 0x5F, 0x64]),
    "blocks_by_hand": bytes([0, 0, 0x71, 4, 0x01, 0x00, 0x80, 0x80, 0x60, 0x64]),
    "field_text_by_hand": bytes([0, 0, 0x70, 0, 120, 0xB0, 3, 0, 0x60, 0x71, 1, 0, 99, 0xA4, 99]
                                + [0x41] * 99 + [0x60, 0x64]),
    "noise_and_timeouts": bytes([0, 0, 0x05, 1, 2, 3, 0x18, 0x43, 0x15, 0x5F, 0x71, 4, 0x00, 0x80, 0x5F, 0x5F]),
    "stop_in_transfer": bytes([1, 0, 0x71, 4, 0x10, 0x00, 0x84, 0x66, 0xE0, 0x71, 6, 0x00, 0x10, 0x80, 0x60]),
    "truncated_and_repeated": bytes([0, 0, 0x71, 4, 0x01, 0x00, 0x88, 50, 0x43, 0x81, 0x80, 0x81, 0x80, 0x60, 0x64]),
    "forced_end": bytes([0, 0, 0x71, 6, 0x08, 0x00, 0x84, 0x67]),
}


# fuzz_csv_records: fields count - 1, quote flag and read size, the width
# bytes, then the text.
CSV = {
    "plain": bytes([2, 0, 7, 8, 20, 5]) + b"A001,apple,120\r\nB002,banana split with cream,75\r\n,,\r\nC3,q,9",
    "quoted": bytes([1, 1, 3, 6, 10]) + b'"ab"c,"x y"\r\n"","\r\n"q',
    "cr_inside": bytes([0, 64, 0, 12]) + b"a\rb\r\n\r\rc\r",
    "long_record": bytes([1, 0, 200, 252, 3]) + b"x" * 1500 + b",yz\n" + b"w" * 40 + b"\n",
    "empty_lines": bytes([0, 0, 1, 4]) + b"\n\n\r\n",
}


# fuzz_definitions: one 912-byte record of the definition file.
def text_field(text, width):
    return text[:width - 1].ljust(width, b"\0")


DEFINITIONS = {
    "header": text_field(b"Ver2.00", 13) + bytes([1]) + text_field(b"C:\\Data\\book.xlsx", 256) + bytes(2)
    + struct.pack("<6i", 2, 115200, 0, 1, 1, 0) + bytes(100) + text_field(b"C:\\Logs", 256) + bytes(260),
    "definition": text_field(b"ITEM.DAT", 13) + bytes([2]) + text_field(b"ITEM.CSV", 256) + bytes(2)
    + struct.pack("<i", 3) + struct.pack("<24i", *([1, 0, 2] + [0] * 21)) + bytes(24)
    + text_field(b"8 20 5", 256) + bytes([1]) + b"1\0" + bytes(257),
    # The old layout: texts with a length byte ahead.
    "old_header": (bytes(13) + bytes([1]) + bytes([9]) + b"C:\\Folder" + bytes(246) + bytes(2)
                   + struct.pack("<6i", 0, 9600, 1, 0, 0, 2) + bytes(100) + bytes([4]) + b"C:\\L" + bytes(251)
                   + bytes(260))[:912],
}


# fuzz_workbook: the sheet's part, a zero byte, the shared strings.
SHEET_NS = b'<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
WORKBOOK = {
    "header_and_rows": SHEET_NS + b'<sheetData><row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="inlineStr">'
    b'<is><t>NAME</t></is></c></row><row r="2"><c r="A2" t="inlineStr"><is><t>00123</t></is></c>'
    b'<c r="B2"><v>12.5</v></c></row><row r="4"><c r="B4" t="b"><v>1</v></c></row></sheetData></worksheet>'
    b'\0<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>CODE</t></si>'
    b'<si><r><t>a</t></r><r><t xml:space="preserve"> b</t></r></si></sst>',
    "escapes": SHEET_NS + b'<sheetData><row r="1"><c r="C1" t="str"><f>A1</f><v>&amp;&#x41;&lt;_x0041_</v></c>'
    b'</row></sheetData></worksheet>\0',
}


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("fuzz_header", HEADER)
    write("fuzz_field_file", FIELD_FILE)
    write("fuzz_fld_reader", FLD)
    write("fuzz_receiver", RECEIVER)
    write("fuzz_csv_records", CSV)
    write("fuzz_definitions", DEFINITIONS)
    write("fuzz_workbook", WORKBOOK)
