#!/usr/bin/env python3
"""Generates the sample product tree of TowerLink for the installer's build.

  make_tree.py icons OUTDIR
      towerlink.ico, tlimage0.ico and tlimage1.ico (real icons, drawn here).
  make_tree.py msi --wixl WIXL --arch x86|x64 --wxs WXS --source TXT --out MSI
      the sample SimConnect package, with the per-build parts of its summary
      information (package code, dates) fixed so that rebuilds give the same bytes.
  make_tree.py tree --out TREE --text DIR --icons DIR --msi MSI [--put DEST=SRC ...]
      the whole tree: DEST are paths under TREE (tl/tl/towerlink_fs.exe ...).

Everything is derived from fixed inputs: the same inputs give the same bytes.
"""
import argparse
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

FIXED_TIME = 1262304000  # 2010-01-01, for files whose date ends up inside a package


class Lcg:
    """A small fixed pseudo-random sequence: the same on every machine."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return self.state >> 16

    def bytes(self, n):
        return bytes(self.next() & 0xFF for _ in range(n))


# ---------------------------------------------------------------- icons

def icon_image(size, colour, mark):
    """BGRA pixels of a round badge with a tower (mark 0) or a cross (mark 1)."""
    rows = []
    centre = (size - 1) / 2.0
    for y in range(size - 1, -1, -1):  # bottom-up, as an icon bitmap is stored
        row = bytearray()
        for x in range(size):
            dx, dy = x - centre, y - centre
            if dx * dx + dy * dy > (size / 2.0) ** 2:
                row += b"\0\0\0\0"
                continue
            inside = False
            u = x / size
            v = y / size
            if mark == 0:
                inside = (0.42 <= u <= 0.58 and 0.2 <= v <= 0.85) or (0.3 <= u <= 0.7 and 0.7 <= v <= 0.82)
            else:
                inside = abs(u - v) < 0.09 or abs(u + v - 1) < 0.09
            r, g, b = (255, 255, 255) if inside else colour
            row += bytes((b, g, r, 255))
        rows.append(bytes(row))
    return b"".join(rows)


def icon_file(colour, mark):
    images = []
    for size in (16, 32):
        pixels = icon_image(size, colour, mark)
        mask_row = ((size + 31) // 32) * 4
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + mask_row * size, 0, 0, 0, 0)
        images.append((size, header + pixels + b"\0" * (mask_row * size)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def make_icons(outdir):
    os.makedirs(outdir, exist_ok=True)
    for name, colour, mark in (("towerlink.ico", (30, 80, 160), 0), ("tlimage0.ico", (20, 130, 60), 0),
                               ("tlimage1.ico", (170, 40, 40), 1)):
        write(os.path.join(outdir, name), icon_file(colour, mark))


# ---------------------------------------------------------------- MSI

def fix_summary(data):
    """Replaces the random package code and the build dates in the package's
    summary information with fixed values, byte for byte in place."""
    guid = re.compile(rb"\x1e\x00\x00\x00\x27\x00\x00\x00(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})")
    match = guid.search(data)
    if not match:
        raise SystemExit("make_tree.py: no package code found in the MSI summary information")
    fixed = b"{5C6D7E8F-9012-4A3B-8C4D-5E6F708192A3}"
    data = data[:match.start(1)] + fixed + data[match.end(1):]
    # VT_FILETIME properties (type 0x40) follow the package code in the same stream.
    region_start = match.end(1)
    filetime = struct.pack("<Q", (FIXED_TIME + 11644473600) * 10000000)
    pos = region_start
    count = 0
    while count < 2:
        pos = data.find(b"\x40\x00\x00\x00", pos, region_start + 400)
        if pos < 0:
            break
        data = data[:pos + 4] + filetime + data[pos + 12:]
        pos += 12
        count += 1
    return data


def make_msi(args):
    work = tempfile.mkdtemp(prefix="tl-msi-")
    try:
        shutil.copyfile(args.source, os.path.join(work, "SimConnectSample.txt"))
        os.utime(os.path.join(work, "SimConnectSample.txt"), (FIXED_TIME, FIXED_TIME))
        shutil.copyfile(args.wxs, os.path.join(work, "simconnect.wxs"))
        out = os.path.join(work, "simconnect.msi")
        win64 = "yes" if args.arch == "x64" else "no"
        subprocess.run([args.wixl, "-a", args.arch, "-D", "Win64=" + win64, "-o", out, "simconnect.wxs"], cwd=work,
                       check=True)
        with open(out, "rb") as f:
            data = f.read()
        write(args.out, fix_summary(data))
    finally:
        shutil.rmtree(work, ignore_errors=True)


# ---------------------------------------------------------------- tree contents

def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    tmp = path + ".part"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def wav(frequency, millis):
    rate = 8000
    count = rate * millis // 1000
    samples = bytes(int(128 + 90 * math.sin(2 * math.pi * frequency * i / rate)) & 0xFF for i in range(count))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(samples)) + samples
    return b"RIFF" + struct.pack("<I", len(body)) + body


def bmp(width, height, seed):
    rng = Lcg(seed)
    row_size = (width * 3 + 3) & ~3
    pixels = bytearray()
    base = (rng.next() & 0xFF, rng.next() & 0xFF, rng.next() & 0xFF)
    for y in range(height):
        row = bytearray()
        for x in range(width):
            stripe = 60 if (x // 8 + y // 8) % 2 else 0
            row += bytes(((base[0] + x * 2) & 0xFF, (base[1] + y * 2) & 0xFF, (base[2] + stripe) & 0xFF))
        row += b"\0" * (row_size - len(row))
        pixels += row
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(pixels), 0, 0, 14 + len(header)) + header + pixels


def mdl(name, seed):
    rng = Lcg(seed)
    vertices = b"".join(struct.pack("<hhh", (rng.next() % 2000) - 1000, (rng.next() % 400) - 200,
                                    (rng.next() % 3000) - 1500) for _ in range(300))
    body = b"MDL9" + name.encode("ascii").ljust(32, b"\0") + struct.pack("<I", 300) + vertices
    return b"RIFF" + struct.pack("<I", len(body)) + body


def aircraft_cfg(title, atc_model, engines):
    return crlf("""[fltsim.0]
title={title}
sim={model}
model=
panel=
sound=
texture=
atc_airline=
ui_manufacturer=Brightfold Labs
ui_type={model}
ui_variation=TowerLink multiplayer model

[General]
atc_type={model}
atc_model={atc}
editable=0
performance=Multiplayer display model only

[GeneralEngineData]
engine_type=1
number_of_engines={engines}
""".format(title=title, model=title.split()[-1], atc=atc_model, engines=engines))


def panel_cfg(title):
    return crlf("""[Window Titles]
// {title}: multiplayer display model, no cockpit panel.

[VIEWS]
VIEW_FORWARD_DIR=0.0, 0.0, 0.0
""".format(title=title))


AIRCRAFT = {
    "towerlink": [("tl_c172", "TowerLink C172", "C172", 1), ("tl_b737", "TowerLink B737", "B737", 2)],
    "vip": [("vip_a320", "VIP A320", "A320", 2), ("vip_b744", "VIP B744", "B744", 4),
            ("vip_md11", "VIP MD11", "MD11", 3)],
}


def data_tables():
    rng = Lcg(1957)
    airports = [("EGLL", "London Heathrow", 51.4706, -0.4619), ("KJFK", "New York Kennedy", 40.6398, -73.7789),
                ("KSFO", "San Francisco", 37.6188, -122.3750), ("LFPG", "Paris Charles de Gaulle", 49.0128, 2.5500),
                ("EDDF", "Frankfurt", 50.0333, 8.5706), ("RJTT", "Tokyo Haneda", 35.5523, 139.7800),
                ("YSSY", "Sydney", -33.9461, 151.1772), ("CYYZ", "Toronto Pearson", 43.6772, -79.6306)]
    table = b"TLAP" + struct.pack("<I", len(airports))
    for icao, name, lat, lon in airports:
        table += icao.encode("ascii") + name.encode("ascii").ljust(28, b"\0") + struct.pack("<dd", lat, lon)
    lines = ["position,frequency,kind"]
    for icao, _, _, _ in airports:
        for kind in ("DEL", "GND", "TWR", "APP"):
            lines.append("%s_%s,%d.%03d,%s" % (icao, kind, 118 + rng.next() % 18, (rng.next() % 40) * 25, kind))
    callsigns = b"TLCS" + b"".join(c.encode("ascii").ljust(8, b"\0") for c in
                                   ("BAW", "AAL", "DLH", "AFR", "JAL", "QFA", "ACA", "UAL", "SWR", "KLM"))
    return {"tl/tl/airports.dat": table, "tl/tl/frequencies.csv": crlf("\n".join(lines) + "\n"),
            "tl/tl/callsigns.dat": callsigns}


def make_tree(args):
    tree = args.out
    if os.path.exists(tree):
        shutil.rmtree(tree)
    files = {}
    for put in args.put or []:
        dest, _, src = put.partition("=")
        with open(src, "rb") as f:
            files[dest] = f.read()
    with open(args.msi, "rb") as f:
        files["tl/tl/simconnect.msi"] = f.read()
    with open(os.path.join(args.icons, "towerlink.ico"), "rb") as f:
        files["tl/global/towerlink.ico"] = f.read()
    for name in ("readme.txt", "towerlink_eula.txt"):
        with open(os.path.join(args.text, name), encoding="ascii") as f:
            files["tl/global/" + name] = crlf(f.read())
    files.update(data_tables())
    for name, freq in (("tl/tl/sound/contact.wav", 880), ("tl/tl/sound/handoff.wav", 660),
                       ("tl/tl/sound/message.wav", 990), ("tl/tl/sound/disconnect.wav", 440)):
        files[name] = wav(freq, 150)
    seed = 7
    for group, planes in AIRCRAFT.items():
        for folder, title, atc, engines in planes:
            base = "fs/aircraft/%s/%s/" % (group, folder)
            seed += 1
            files[base + "aircraft.cfg"] = aircraft_cfg(title, atc, engines)
            files[base + "model/%s.mdl" % folder] = mdl(folder, seed)
            files[base + "texture/%s.bmp" % folder] = bmp(64, 64, seed)
            files[base + "panel/panel.cfg"] = panel_cfg(title)
    for dest in sorted(files):
        write(os.path.join(tree, *dest.split("/")), files[dest])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    icons = sub.add_parser("icons")
    icons.add_argument("outdir")
    msi = sub.add_parser("msi")
    msi.add_argument("--wixl", required=True)
    msi.add_argument("--arch", required=True, choices=("x86", "x64"))
    msi.add_argument("--wxs", required=True)
    msi.add_argument("--source", required=True)
    msi.add_argument("--out", required=True)
    tree = sub.add_parser("tree")
    tree.add_argument("--out", required=True)
    tree.add_argument("--text", required=True)
    tree.add_argument("--icons", required=True)
    tree.add_argument("--msi", required=True)
    tree.add_argument("--put", action="append")
    args = parser.parse_args()
    if args.command == "icons":
        make_icons(args.outdir)
    elif args.command == "msi":
        make_msi(args)
    else:
        make_tree(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
