#!/usr/bin/env python3
"""Makes a freshly linked Windows program or module ready to ship.

  ship_binary.py --objcopy OBJCOPY --strip STRIP --source ROOT FILE

- FILE.debug receives FILE's full debug information (objcopy --only-keep-debug);
- FILE is stripped and linked to FILE.debug by name and CRC (--add-gnu-debuglink),
  so a crash address from a user resolves against FILE.debug (gdb, addr2line -e);
- the PE time stamp of both files is the build's SOURCE_DATE_EPOCH: the variable
  when set, else the time of the source tree's last commit, else 0. The link
  itself leaves every stamp at 0 (--no-insert-timestamp).

Both files are written beside FILE under temporary names and renamed into place,
so an interrupted step leaves no half-made program behind.
"""
import argparse
import os
import struct
import subprocess
import sys


def source_date_epoch(root):
    value = os.environ.get("SOURCE_DATE_EPOCH", "").strip()
    if value:
        if not value.isdigit() or int(value) > 0xFFFFFFFF:
            sys.exit("ship_binary.py: SOURCE_DATE_EPOCH=%s is not a time a PE header can carry" % value)
        return int(value)
    try:
        out = subprocess.run(["git", "-C", root, "log", "-1", "--format=%ct"], check=True, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout.decode().strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return 0


def pe_checksum(data, checksum_offset):
    """The PE image checksum (as imagehlp's CheckSumMappedFile computes it)."""
    total = 0
    padded = data + b"\0" * (len(data) % 2)
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
    # The checksum field itself counts as 0.
    total -= struct.unpack_from("<H", data, checksum_offset)[0] + struct.unpack_from("<H", data, checksum_offset + 2)[0]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def set_time_stamp(path, stamp):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if data[:2] != b"MZ":
        sys.exit("ship_binary.py: %s is not a PE file" % path)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("ship_binary.py: %s is not a PE file" % path)
    struct.pack_into("<I", data, pe + 8, stamp)  # IMAGE_FILE_HEADER.TimeDateStamp
    checksum_offset = pe + 24 + 64  # IMAGE_OPTIONAL_HEADER.CheckSum (PE32 and PE32+ alike)
    if struct.unpack_from("<I", data, checksum_offset)[0] != 0:
        struct.pack_into("<I", data, checksum_offset, pe_checksum(bytes(data), checksum_offset))
    with open(path, "wb") as f:
        f.write(data)


def run(*args):
    subprocess.run(list(args), check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objcopy", required=True)
    parser.add_argument("--strip", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("file")
    args = parser.parse_args()
    stamp = source_date_epoch(args.source)
    path = args.file
    debug = path + ".debug"
    debug_part = debug + ".part"
    stripped_part = path + ".stripped.part"
    try:
        run(args.objcopy, "--only-keep-debug", path, debug_part)
        set_time_stamp(debug_part, stamp)
        os.replace(debug_part, debug)
        run(args.strip, "--strip-all", "-o", stripped_part, path)
        # The link names the debug file without its folder; objcopy reads it
        # for the CRC from where it lies.
        run(args.objcopy, "--add-gnu-debuglink=" + debug, stripped_part)
        set_time_stamp(stripped_part, stamp)
        os.replace(stripped_part, path)
    finally:
        for leftover in (debug_part, stripped_part):
            if os.path.exists(leftover):
                os.remove(leftover)
    return 0


if __name__ == "__main__":
    sys.exit(main())
