#!/usr/bin/env python3
"""Checks what ships: the i686 setup program and every program and module of
the product tree it carries.

  ship_check.py --objdump OBJDUMP --imports-objdump OBJDUMP --wrestool WRESTOOL --setup SETUP.EXE
                --payload PAYLOAD_DIR [--imports FILE_OR_FOLDER ...]

(--imports-objdump reads both PE32 and PE32+: x86_64-w64-mingw32-objdump.)

- SETUP.EXE is a PE32 (i386) GUI program;
- its RT_RCDATA resources 65535 and 1..N, all language neutral, are byte for
  byte the packer's catalogue.bin and chunk files in PAYLOAD_DIR, and there
  are no others;
- SETUP.EXE and every .exe/.dll given (folders are searched) import only
  Windows system DLLs. A forgotten static link passes every test under Wine,
  which has its own zlib1.dll and C++ runtime, and fails only on a user's
  Windows; hence this list.

The system DLLs allowed: the ones every Windows since XP has and the installer
uses. The C runtime is msvcrt.dll (mingw-w64's default); the Universal CRT
(api-ms-win-crt-*, ucrtbase) is refused, as it is missing from older Windows.

No checked file may have delay-loaded imports: the delay-load helper loads by
bare name whenever the first call happens, outside the installer's control.

Programs given with --known-dlls-only (setup.exe and tluninstall.exe of both
trees) may import Known DLLs only. The loader resolves static imports before the entry routine
can narrow the DLL search, and looks for any other DLL in the program's own
folder first: a version.dll or comctl32.dll left in a downloads folder would
run inside the installer. Known DLLs are always mapped from the system folder.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

ALLOWED_IMPORTS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "version.dll", "msvcrt.dll",
}

# Known DLLs of Windows 7 and later that the installer may import.
KNOWN_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
    "oleaut32.dll", "comdlg32.dll", "msvcrt.dll",
}

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def run(args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout.decode("latin-1")


def check_setup_format(objdump, setup):
    header = run([objdump, "-f", setup])
    if "file format pei-i386" not in header or "architecture: i386" not in header:
        fail("%s is not a PE32 i386 program:\n%s" % (setup, header))
    private = run([objdump, "-p", setup])
    if not re.search(r"Subsystem\s+00000002\s+\(Windows GUI\)", private):
        fail("%s is not a GUI program (subsystem 2)" % setup)


def check_imports(objdump, path, allowed=ALLOWED_IMPORTS, why="which Windows does not ship"):
    private = run([objdump, "-p", path])
    names = re.findall(r"DLL Name:\s*(\S+)", private)
    bad = sorted({n for n in names if n.lower() not in allowed})
    if bad:
        fail("%s imports %s, %s" % (path, ", ".join(bad), why))
    delay = re.search(r"Entry d ([0-9a-fA-F]+) ([0-9a-fA-F]+)\s+Delay Import Directory", private)
    if delay is None:
        fail("%s: no delay import directory entry in the objdump listing" % path)
    elif int(delay.group(1), 16) != 0 or int(delay.group(2), 16) != 0:
        fail("%s has delay-loaded imports" % path)
    return names


def check_payload(wrestool, setup, payload):
    listing = run([wrestool, "-l", "--type=10", setup])
    found = re.findall(r"--type=10 --name=(\d+) --language=(\d+)", listing)
    ids = sorted(int(n) for n, _ in found)
    languages = {lang for _, lang in found}
    chunk_files = sorted(f for f in os.listdir(payload) if re.fullmatch(r"chunk\d+\.bin", f))
    expected_ids = list(range(1, len(chunk_files) + 1)) + [65535]
    if ids != expected_ids:
        fail("RT_RCDATA ids of %s are %s, expected 1..%d and 65535" % (setup, ids, len(chunk_files)))
    if languages != {"0"}:
        fail("RT_RCDATA languages of %s are %s, expected only 0 (neutral)" % (setup, sorted(languages)))
    with tempfile.TemporaryDirectory() as scratch:
        for resource_id in expected_ids:
            source = "catalogue.bin" if resource_id == 65535 else "chunk%04d.bin" % resource_id
            out = os.path.join(scratch, "r.bin")
            subprocess.run([wrestool, "-x", "--raw", "--type=10", "--name=%d" % resource_id, "-o", out, setup],
                           check=True)
            with open(out, "rb") as a, open(os.path.join(payload, source), "rb") as b:
                if a.read() != b.read():
                    fail("resource %d of %s differs from %s" % (resource_id, setup, source))
    return len(chunk_files)


def portable_files(paths):
    for path in paths:
        if os.path.isdir(path):
            for root, _, files in sorted(os.walk(path)):
                for name in sorted(files):
                    if name.lower().endswith((".exe", ".dll")):
                        yield os.path.join(root, name)
        elif os.path.exists(path):
            yield path
        else:
            fail("%s does not exist" % path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--imports-objdump", required=True)
    parser.add_argument("--wrestool", required=True)
    parser.add_argument("--setup", required=True)
    parser.add_argument("--payload", required=True)
    parser.add_argument("--imports", nargs="*", default=[])
    parser.add_argument("--known-dlls-only", nargs="*", default=[])
    args = parser.parse_args()
    for path in (args.setup, args.payload):
        if not os.path.exists(path):
            print("FAIL: %s does not exist (build the i686 tree first: make win32)" % path)
            return 1
    check_setup_format(args.objdump, args.setup)
    chunks = check_payload(args.wrestool, args.setup, args.payload)
    print("%s: PE32 GUI, payload of %d chunks and the catalogue as packed" % (args.setup, chunks))
    checked = 0
    for path in [args.setup] + list(portable_files(args.imports)):
        names = check_imports(args.imports_objdump, path)
        checked += 1
        print("%s imports %s" % (path, ", ".join(names) or "nothing"))
    for path in [args.setup] + args.known_dlls_only:
        if not os.path.exists(path):
            fail("%s does not exist" % path)
            continue
        before = len(failures)
        names = check_imports(args.imports_objdump, path, KNOWN_DLLS,
                              "which are not Known DLLs: the loader would look for them beside the program first")
        checked += 1
        if len(failures) == before:
            print("%s imports Known DLLs only: %s" % (path, ", ".join(names) or "nothing"))
    print("%d shipped files checked, %d problem(s)" % (checked, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
