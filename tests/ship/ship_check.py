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

Programs given with --xp-imports (setup.exe, tluninstall.exe of the i686 tree)
start on Windows XP SP3: every function they import is in the allow-list
--xp-allow (DLL, function, the "Minimum supported client" of Microsoft's
reference; sources in the file), and their PE header asks for subsystem and
system version 5.01 at most. Wine cannot show XP: this check is static.

Programs given with --stripped ship stripped: no symbols and no DWARF
sections, and a .gnu_debuglink that names FILE.debug beside them with that
file's CRC, so a crash address still resolves against the debug file.

Programs given with --no-exceptions (setup.exe, tluninstall.exe of the i686
tree) carry no exception machinery: their debug file (FILE.debug) defines no
throw, personality routine or unwinder. They are built without exceptions; one
library function that throws would bring all of it back (about 70 KB).

Programs given with --known-dlls-only (setup.exe and tluninstall.exe of both
trees) may import
Known DLLs only. The loader resolves static imports before the entry routine
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
import zlib

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


def imported_functions(objdump, path):
    """(dll, function) pairs of PATH's import table, DLL names in lower case."""
    private = run([objdump, "-p", path])
    table = private.split("The Import Tables", 1)[1] if "The Import Tables" in private else ""
    pairs, dll = [], None
    for line in table.splitlines():
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        m = re.match(r"\s+[0-9a-fA-F]+\s+\d+\s+(\S+)\s*$", line)
        if m and dll:
            pairs.append((dll, m.group(1)))
        elif line.startswith("The "):
            break
    return pairs


def read_allow_list(path):
    allowed = {}
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split(None, 2)
            if len(fields) != 3:
                raise SystemExit("%s:%d: expected DLL FUNCTION MINIMUM" % (path, number))
            allowed[(fields[0].lower(), fields[1])] = fields[2]
    return allowed


def check_xp(objdump, path, allowed):
    """Every import on the XP SP3 allow-list; the header asks for NT 5.1 at most."""
    pairs = imported_functions(objdump, path)
    missing = sorted("%s!%s" % p for p in pairs if p not in allowed)
    if missing:
        fail("%s imports functions that are not on the Windows XP SP3 allow-list: %s" % (path, ", ".join(missing)))
    if not pairs:
        fail("%s: no imported functions found in the objdump listing" % path)
    private = run([objdump, "-p", path])
    header = {}
    for field in ("MajorSubsystemVersion", "MinorSubsystemVersion", "MajorOSystemVersion", "MinorOSystemVersion"):
        m = re.search(r"^%s\s+(\d+)" % field, private, re.M)
        if m is None:
            fail("%s: no %s in the objdump listing" % (path, field))
            return pairs
        header[field] = int(m.group(1))
    subsystem = (header["MajorSubsystemVersion"], header["MinorSubsystemVersion"])
    system = (header["MajorOSystemVersion"], header["MinorOSystemVersion"])
    if subsystem != (5, 1):
        fail("%s asks for subsystem version %d.%02d; Windows XP needs 5.01" % ((path,) + subsystem))
    if system > (5, 1):
        fail("%s asks for system version %d.%d; Windows XP is 5.1" % ((path,) + system))
    return pairs


def check_stripped(objdump, path):
    """No symbols and no DWARF; .gnu_debuglink names PATH.debug with its CRC."""
    headers = run([objdump, "-h", path])
    sections = re.findall(r"^\s*\d+\s+(\S+)\s", headers, re.M)
    dwarf = [s for s in sections if s.startswith(".debug")]
    if dwarf:
        fail("%s is not stripped: it has %s" % (path, ", ".join(dwarf)))
    symbols = run([objdump, "-t", path])
    if re.search(r"^\[\s*\d+\]", symbols, re.M):
        fail("%s is not stripped: it has a symbol table" % path)
    if ".gnu_debuglink" not in sections:
        fail("%s has no .gnu_debuglink" % path)
        return
    dump = run([objdump, "-s", "-j", ".gnu_debuglink", path])
    data = b"".join(bytes.fromhex("".join(m.group(1).split()))
                    for m in re.finditer(r"^ [0-9a-f]+ ((?:[0-9a-f]{2,8} ){1,4})", dump, re.M))
    name, _, rest = data.partition(b"\0")
    crc_offset = (len(name) + 1 + 3) & ~3
    debug = os.path.join(os.path.dirname(path), name.decode("latin-1"))
    if name.decode("latin-1") != os.path.basename(path) + ".debug":
        fail("%s links to %r, not %s.debug" % (path, name, os.path.basename(path)))
    elif len(data) < crc_offset + 4:
        fail("%s: .gnu_debuglink too short" % path)
    elif not os.path.exists(debug):
        fail("%s: its debug file %s is missing" % (path, debug))
    else:
        with open(debug, "rb") as f:
            crc = zlib.crc32(f.read()) & 0xFFFFFFFF
        if int.from_bytes(data[crc_offset:crc_offset + 4], "little") != crc:
            fail("%s: the CRC in .gnu_debuglink does not match %s" % (path, debug))
        elif imported_functions(objdump, path) and ".debug_info" not in run([objdump, "-h", debug]):
            # A program of compiled code (it calls something); resource-only modules have none.
            fail("%s has no .debug_info" % debug)


# What throwing brings into a program: the throw itself, the personality
# routines that read the unwind tables, the unwinder.
EXCEPTION_MACHINERY = re.compile(
    r"^_*(cxa_throw|cxa_allocate_exception|gxx_personality_\w+|Unwind_RaiseException|Unwind_Resume)$")


def check_no_exceptions(objdump, path):
    """PATH.debug defines none of EXCEPTION_MACHINERY's symbols."""
    debug = path + ".debug"
    if not os.path.exists(debug):
        fail("%s: its debug file %s is missing" % (path, debug))
        return
    defined = set()
    for line in run([objdump, "-t", debug]).splitlines():
        fields = line.split()
        if line.startswith("[") and "(sec " in line and "(sec  0)" not in line and fields:
            if EXCEPTION_MACHINERY.match(fields[-1]):
                defined.add(fields[-1])
    if defined:
        fail("%s carries the exception machinery: %s" % (path, ", ".join(sorted(defined))))


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
    parser.add_argument("--xp-allow")
    parser.add_argument("--xp-imports", nargs="*", default=[])
    parser.add_argument("--stripped", nargs="*", default=[])
    parser.add_argument("--no-exceptions", nargs="*", default=[])
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
    if args.xp_imports:
        allowed = read_allow_list(args.xp_allow)
        for path in args.xp_imports:
            before = len(failures)
            pairs = check_xp(args.imports_objdump, path, allowed)
            checked += 1
            if len(failures) == before:
                print("%s: %d imported functions, all on the Windows XP SP3 allow-list; subsystem 5.01" %
                      (path, len(pairs)))
    for path in portable_files(args.stripped):
        before = len(failures)
        check_stripped(args.imports_objdump, path)
        checked += 1
        if len(failures) == before:
            print("%s: stripped, debug information in %s.debug" % (path, os.path.basename(path)))
    for path in args.no_exceptions:
        before = len(failures)
        check_no_exceptions(args.imports_objdump, path)
        checked += 1
        if len(failures) == before:
            print("%s: no exception machinery" % path)
    print("%d shipped files checked, %d problem(s)" % (checked, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
