#!/usr/bin/env python3
"""Writes a full-size synthetic product tree shaped like the shipped payload.

1,325 files under the six payload roots with the shipped per-root counts, about
199 MB, compressing about 7:1 at zlib level 9: texture bitmaps with long
repeats, sound that barely compresses, binaries, data tables and text, and a
SimConnect package that does not compress at all. The largest file is
tl/tl/tlimage.dll at 4,468,736 bytes.

Deterministic: each file's bytes come from its own generator seeded with the
fixed seed and the file's name, so the same script writes the same tree.

Usage: make_tree.py OUTDIR   (writes OUTDIR/tree and OUTDIR/tree.stamp; does
nothing when the stamp matches this script).
"""
import hashlib
import os
import random
import shutil
import sys

SEED = 20061125
TOTAL_BYTES = 198_940_535
LARGEST = ("tl/tl/tlimage.dll", 4_468_736)

# Content kinds: (share of literal runs, mean match length). The data is built
# like an LZ77 stream: literal runs from a random pool and copies of earlier
# bytes within deflate's 32 KiB window, so level 9 finds them quickly and the
# ratio follows the literal share.
KINDS = {
    "bmp": (0.11, 72),   # aircraft textures: flat paint, repeated rows
    "mdl": (0.30, 28),    # model geometry
    "bin": (0.40, 24),    # programs and libraries
    "img": (0.305, 30),    # the image library
    "wav": (0.62, 16),    # sound
    "chm": (0.60, 16),    # compiled help, already compressed inside
    "dat": (0.14, 40),    # data tables
    "txt": (0.20, 32),    # text and configuration
    "ico": (0.40, 24),
}
MAGIC = {"bmp": b"BM", "bin": b"MZ", "img": b"MZ", "mdl": b"RIFF", "wav": b"RIFF", "chm": b"ITSF",
         "ico": b"\0\0\1\0", "msi": b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"}

# Bitmap sizes of the texture formats the simulators load (header included).
BMP_SIZES = [65_590, 131_126, 196_662, 262_198, 87_478, 49_206]


def layout():
    """[(relative path, kind, size)] of every file, total fixed to TOTAL_BYTES."""
    rng = random.Random(SEED)
    files = []
    add = lambda path, kind, size: files.append([path, kind, size])

    # tl/tl: 163 files, a sound folder of 148 .wav among them.
    add("tl/tl/tlimage.dll", "img", LARGEST[1])
    add("tl/tl/simconnect.msi", "msi", 1_985_386)
    for name, size in [("towerlink_fs.exe", 1_650_000), ("towerlink_fsx.exe", 1_720_000),
                       ("tlcore.dll", 1_100_000), ("tlnet.dll", 640_000), ("tlaudio.dll", 820_000),
                       ("tlui.dll", 980_000), ("tlvoice.dll", 760_000)]:
        add("tl/tl/" + name, "bin", size)
    add("tl/tl/towerlink.chm", "chm", 1_300_000)
    for name, size in [("airports.dat", 1_400_000), ("navaids.dat", 700_000), ("frequencies.dat", 300_000),
                       ("sectors.dat", 500_000)]:
        add("tl/tl/data/" + name, "dat", size)
    add("tl/tl/data/callsigns.txt", "txt", 120_000)
    for i in range(148):
        add("tl/tl/sound/atc%03d.wav" % i, "wav", rng.randrange(15_000, 90_000))

    # tl/global: the four shared files.
    add("tl/global/readme.txt", "txt", 14_000)
    add("tl/global/towerlink_eula.txt", "txt", 38_000)
    add("tl/global/towerlink.ico", "ico", 25_214)
    add("tl/global/tluninstall.exe", "bin", 410_000)  # the build puts the real one here

    # tl/fs: the Flight Simulator X modules.
    for name, size in [("tlaicontrol10.dll", 380_000), ("tlmod10.dll", 520_000), ("tltrans10.dll", 290_000)]:
        add("tl/fs/" + name, "bin", size)

    # fs/modules: the modules of Flight Simulator 2002 and 2004.
    for name, size in [("fsuipc.dll", 690_000), ("tlmod8.dll", 480_000), ("tlmod9.dll", 500_000),
                       ("tlmpjoin9.dll", 210_000), ("tltrans8.dll", 260_000), ("tltrans9.dll", 270_000)]:
        add("fs/modules/" + name, "bin", size)

    # fs/aircraft/towerlink: 6 aircraft of 8 files, 5 effects: 53.
    for ac in ["c172", "b737", "a320", "dash8", "crj700", "b747"]:
        base = "fs/aircraft/towerlink/tl_%s/" % ac
        add(base + "aircraft.cfg", "txt", rng.randrange(4_000, 9_000))
        add(base + "model/model.cfg", "txt", rng.randrange(200, 1_200))
        add(base + "model/tl_%s.mdl" % ac, "mdl", rng.randrange(300_000, 600_000))
        for t in range(5):
            add(base + "texture/tex%d.bmp" % t, "bmp", 340_000 + rng.randrange(0, 40_000))
    for i in range(5):
        add("fs/aircraft/towerlink/effects/tl_fx%d.fx" % i, "txt", rng.randrange(2_000, 14_000))

    # fs/aircraft/vip: 30 aircraft of 31 textures and 5 other files, 16 shared: 1096.
    for a in range(30):
        base = "fs/aircraft/vip/vip_%02d/" % a
        add(base + "aircraft.cfg", "txt", rng.randrange(5_000, 11_000))
        add(base + "model/model.cfg", "txt", rng.randrange(300, 1_500))
        add(base + "model/vip_%02d.mdl" % a, "mdl", rng.randrange(380_000, 660_000))
        add(base + "panel/panel.cfg", "txt", rng.randrange(1_000, 5_000))
        add(base + "sound/sound.cfg", "txt", rng.randrange(2_000, 6_000))
        for t in range(31):
            add(base + "texture/t%02d.bmp" % t, "bmp", rng.choice(BMP_SIZES))
    add("fs/aircraft/vip/readme.txt", "txt", 6_000)
    for i in range(15):
        add("fs/aircraft/vip/effects/vip_fx%02d.fx" % i, "txt", rng.randrange(4_000, 16_000))

    # Spread the difference to the shipped total over the texture bitmaps.
    bmps = [f for f in files if f[1] == "bmp"]
    diff = TOTAL_BYTES - sum(f[2] for f in files)
    share, rest = divmod(diff, len(bmps))
    for i, f in enumerate(bmps):
        f[2] += share + (1 if i < rest else 0)
    assert sum(f[2] for f in files) == TOTAL_BYTES
    assert max(f[2] for f in files) == LARGEST[1]
    return files


def content(path, kind, size):
    rng = random.Random("%d:%s" % (SEED, path))
    if kind == "msi":
        head = MAGIC["msi"] + bytes(504)
        return (head + rng.randbytes(size))[:size]
    literal, mean_match = KINDS[kind]
    pool = rng.randbytes(1 << 16)
    pool_end = len(pool) - 64
    out = bytearray(MAGIC.get(kind, b""))
    rand, rrange = rng.random, rng.randrange
    while len(out) < size:
        if len(out) < 64 or rand() < literal:
            start = rrange(pool_end)
            out += pool[start:start + rrange(1, 33)]
        else:
            length = rrange(4, 2 * mean_match)
            distance = rrange(1, min(len(out), 32768))
            if distance >= length:
                out += out[len(out) - distance:len(out) - distance + length]
            else:
                pattern = bytes(out[len(out) - distance:])
                out += (pattern * (length // distance + 1))[:length]
    return bytes(out[:size])


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    outdir = sys.argv[1]
    tree = os.path.join(outdir, "tree")
    stamp = os.path.join(outdir, "tree.stamp")
    with open(__file__, "rb") as f:
        version = hashlib.sha256(f.read()).hexdigest()
    if os.path.isfile(stamp) and open(stamp).read().strip() == version and os.path.isdir(tree):
        return 0
    if os.path.exists(stamp):
        os.remove(stamp)
    shutil.rmtree(tree, ignore_errors=True)
    files = layout()
    for path, kind, size in files:
        full = os.path.join(tree, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(content(path, kind, size))
    with open(stamp, "w") as f:
        f.write(version + "\n")
    print("generated %d files, %d bytes in %s" % (len(files), sum(f[2] for f in files), tree))
    return 0


if __name__ == "__main__":
    sys.exit(main())
