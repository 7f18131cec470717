#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/ (run from anywhere).

Each seed is a small well-formed case in the target's input layout (see the comment at the top
of fuzz/<target>.cpp), so that fuzzing starts from inputs that reach deep into the code.
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def put(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def datagrams(*items):
    return b"".join(struct.pack("<H", len(d)) + d for d in items)


# ---- the wire, as the host sends it (board 1 in every parameter block) ----
def write(code, seq, payload=b"", kind=0, offset=0):
    return bytes([code, 0x80 | seq]) + struct.pack("<H", len(payload) + 12) + \
        bytes([kind]) + struct.pack("<H", offset) + bytes([0, 0xFE, 0x01, 0, 0]) + payload


def read(code, seq, reply_length):
    return bytes([code, seq]) + struct.pack("<H", reply_length)


POLL = bytes([0xFF, 0x00, 0x05, 0x00])


def cycles(seq, chip, pairs, flags=0x01):
    body = bytes([chip + 1, 0, flags, 0]) + b"".join(bytes([k, v]) for k, v in pairs)
    return write(135, seq, body)


def row_cycles(row):
    return [(2, row & 0xFF), (2, (row >> 8) & 0xFF), (2, (row >> 16) & 0xFF)]


# ---- link_reply: code, sequence, n (LE), flip (LE), datagrams ----
put("link_reply", "write_acknowledged",
    bytes([135, 3]) + struct.pack("<HH", 4, 100) +
    datagrams(bytes([135, 0x83, 4, 0]), bytes([0xFF, 0, 5, 0, 3]), bytes([0xFF, 0, 5, 0, 2])))
register = bytearray(20)
register[0] = 130
register[16:20] = b"\x01\x02\x03\x04"
put("link_reply", "register_read",
    bytes([130, 4]) + struct.pack("<HH", 4, 7) + datagrams(bytes(register), bytes(register[:19])))
piece = bytearray(1043)
piece[0] = 136
piece[2:4] = struct.pack("<H", 1043)
for i in range(19, 1043):
    piece[i] = (i * 7) & 0xFF
put("link_reply", "page_pieces",
    bytes([136, 5]) + struct.pack("<HH", 1024, 4000) + datagrams(bytes(piece), bytes(piece)))

# ---- devsim_request: fault byte, datagrams ----
put("devsim_request", "board_and_poll", b"\x00" + datagrams(write(128, 1, b"\x01\x00"), POLL))
put("devsim_request", "registers",
    b"\x00" + datagrams(write(130, 2, b"\x44", kind=1, offset=20), write(130, 3, b"", kind=1,
                                                                          offset=16),
                        read(130, 4, 20), POLL))
put("devsim_request", "status_busy",
    b"\x01" + datagrams(cycles(1, 0, [(1, 0x70)]), read(136, 2, 20), POLL))
put("devsim_request", "page_read_flipped",
    b"\x04" + datagrams(cycles(1, 0, [(1, 0x00), (2, 0), (2, 0)] + row_cycles(0) + [(1, 0x30)]),
                        read(136, 2, 1043), read(136, 3, 1043)))
put("devsim_request", "program_and_erase",
    b"\x00" + datagrams(cycles(1, 1, [(1, 0x80), (2, 0), (2, 0)] + row_cycles(5)),
                        write(136, 2, bytes(range(256)) * 4),
                        cycles(3, 1, [(1, 0x10)]), cycles(4, 1, [(1, 0x70)]), read(136, 5, 20),
                        cycles(6, 1, [(1, 0x60)] + row_cycles(0) + [(1, 0xD0)]), POLL))

# ---- store_directory: control, free-cell request (LE), clicks (4), patches ----
def patch(row, offset, data):
    return struct.pack("<HHB", row, offset, len(data)) + data


def record(start_page, frames, clip_number, comment):
    return struct.pack("<IHHHBBHH", start_page, 1920, 1080, frames, 0, 1, clip_number, frames) + \
        bytes(6) + comment.ljust(50, b"\0")


clip5 = 0x0001 | (5 << 4)
put("store_directory", "one_clip",
    bytes([0x06]) + struct.pack("<H", 5) + bytes([20, 40, 6, 2]) +
    patch(5, 0, record(768, 1, 6, b"Seed clip")) +
    patch(200, 24, struct.pack("<HH", clip5, clip5)) +
    patch(266, 0, bytes(range(64))))
put("store_directory", "map_only",
    bytes([0x01]) + struct.pack("<H", 300) + bytes([0, 0, 200, 100]) +
    patch(203, 1000, struct.pack("<HHHH", 0x0FF1, 0x0002, 0x0004, 0xFFFF)))
put("store_directory", "looped_start",
    bytes([0x02]) + struct.pack("<H", 7) + bytes([1, 1, 1, 1]) +
    patch(0, 0, record(5, 3, 1, b"Starts in the system area")))

# ---- clip_file: chip, mode, header (72), body ----
def header(slot, width, height, frames, kind=0, audio=1, comment=b"Seed"):
    return struct.pack("<iHHHBBHH", slot, width, height, frames, kind, audio, slot + 1, frames) + \
        bytes(6) + comment.ljust(50, b"\0")


put("clip_file", "full_size", bytes([0, 1]) + header(5, 1920, 1080, 1) + bytes(range(256)))
put("clip_file", "small_logo", bytes([8, 1]) + header(2, 64, 36, 2, kind=2) + b"\x10\x80" * 40)
put("clip_file", "short_file", bytes([3, 0]) + header(1, 1920, 1080, 4) + b"\xff" * 100)

# ---- profile_file: the file's bytes ----
put("profile_file", "settings",
    b"[IP Address]\r\nAddr=10.1.2.3\r\n[Options]\r\nTimeCode=1\r\nWhatMedia = 3\r\n")
put("profile_file", "utf16", b"\xff\xfe" + "[Options]\r\nTimeCode=\"7\"\r\n".encode("utf-16-le"))
put("profile_file", "utf8_bom", b"\xef\xbb\xbf; note\n[Safe write]\nActive=1\nFrame=+12\n")
put("profile_file", "two_sections",
    b"[Fuzz Section]\nFuzz_Key=old\n\n[fuzz section]\nother=1\nFuzz_Key='q'\n")

# ---- device_endpoint: --device, 0, host port, 0, itf_ip.ini ----
put("device_endpoint", "all_given", b"127.0.0.1:21249\0" b"21248\0" b"[IP Address]\r\nAddr=127.0.0.1\r\n")
put("device_endpoint", "from_file", b"\0\0[IP Address]\nAddr=192.168.10.200\n")
put("device_endpoint", "bad_port", b"10.0.0.1:70000\0" b"0\0")
put("device_endpoint", "colons", b"a:b:80\0" b"x\0" b"\xff\xfe[\0")
