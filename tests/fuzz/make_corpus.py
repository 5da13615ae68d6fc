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
