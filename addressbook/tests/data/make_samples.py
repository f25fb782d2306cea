#!/usr/bin/python3
"""Writes the damaged and hostile .tn2 samples of this folder (run once; the
files are committed). Each one stands for a way a file can be broken."""
import struct
from pathlib import Path

SIG = b"ORVELLO POST KIT (C)TARNWORKS LABS"
here = Path(__file__).parent


def s(b: bytes) -> bytes:
    return bytes([len(b)]) + b if len(b) < 255 else b"\xff" + struct.pack("<H", len(b)) + b


def u16(v): return struct.pack("<H", v)
def u32(v): return struct.pack("<I", v)


head = s(SIG) + u32(20)
one_folder = u32(1) + s("取引先".encode("cp932")) + u16(2)
no_groups = u32(0)


def record(email=b"a@example.jp", folder=1, status=0):
    return u16(folder) + s(b"") * 4 + s(email) + s(b"") + s(b"") * 10 + u32(status)


tail = u32(1) + s("様".encode("cp932")) + b"".join(s(b"T%d" % i) for i in range(10))

samples = {
    # A file cut off in the middle of the second record.
    "truncated_in_record.tn2": (head + one_folder + no_groups + u32(2) + record() + record())[:-9],
    # Four billion records claimed by a file of a few dozen bytes.
    "huge_record_count.tn2": head + one_folder + no_groups + u32(0xFFFFFFFF) + record(),
    # A group that claims four billion members.
    "huge_member_count.tn2": head + one_folder + u32(1) + s(b"G") + u16(7) + u32(0xFFFFFFFF) + u16(0),
    # A string whose 32-bit length runs far past the end of the file.
    "string_past_end.tn2": head + u32(1) + b"\xff\xff\xff" + u32(0xFFFFFFF0) + b"abc",
    # The framework's UTF-16 string marker, which no address book holds.
    "utf16_string.tn2": head + u32(1) + b"\xff\xfe\xff" + b"\x01" + "A".encode("utf-16-le"),
    # Nothing after the signature.
    "signature_only.tn2": s(SIG),
    # Valid layout, but a member names record 7 of a two-record file and
    # another names record 0 twice; a record names folder 9 of one.
    "member_out_of_range.tn2": head + one_folder + u32(1) + s(b"G") + u16(7) + u32(3)
    + u16(7) + u16(0) + u16(0) + u32(2) + record(b"a@example.jp") + record(b"b@example.jp", folder=9)
    + tail,
}
for name, data in samples.items():
    (here / name).write_bytes(data)

# Seeds for the fuzzer: every sample above plus two well-formed books.
v20 = (head + u32(2) + s("取引先".encode("cp932")) + u16(2) + s(b"staff") + u16(3)
       + u32(2) + s("展示会".encode("cp932")) + u16(7) + u32(2) + u16(1) + u16(0)
       + s(b"G2") + u16(8) + u32(0)
       + u32(2) + record("佐藤@example.jp".encode("cp932"), folder=2, status=4)
       + record(b"b" * 300, folder=0) + tail)
v19 = (s(SIG) + u32(19) + one_folder + u32(1) + u16(1)
       + b"".join(s(t.encode("cp932")) for t in ["株式会社みどり商事", "営業部", "部長", "佐藤 一郎",
                                                 "ichiro@example.co.jp", "様"])
       + u32(2) + s("様".encode("cp932")) + s("殿".encode("cp932")))
corpus = here.parent.parent / "fuzz" / "corpus" / "tn2"
corpus.mkdir(parents=True, exist_ok=True)
for name, data in list(samples.items()) + [("valid_v20.tn2", v20), ("valid_v19.tn2", v19)]:
    (corpus / name).write_bytes(data)
