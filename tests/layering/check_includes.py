#!/usr/bin/env python3
"""Checks every `#include "..."` of the product and its tools against the
layering of the folders, and that test and benchmark code names its helpers
from the repository root (the one include root).

    check_includes.py ROOT           check; prints each violation, exit 1 on any
    check_includes.py ROOT --table   print the layering table of the README

The README carries the table this script prints, between the markers
<!-- layering table --> and <!-- end of layering table -->; the check fails
when the two differ, so the drawing and the rules cannot drift apart.
"""
import os
import re
import sys

# Units, lowest first: each may include itself and the units listed.
# (name, what it is, units it may include)
UNITS = [
    ("platform", "`platform/`: handles, file names, held folders, code pages, DLL search", []),
    ("strings", "`wizard/strings`, `wizard/text_format`: string table, decimal text", ["platform"]),
    ("record", "`system/uninstall_contract.h`: the uninstall record's names", []),
    ("resources", "`resources/`: resource ids and scripts", []),
    ("system", "`system/`: uninstall record, registry settings, Start menu", ["platform", "strings", "record", "resources"]),
    ("payload", "`payload/`: catalogue, extractor", ["platform", "strings", "record", "system"]),
    ("install", "`install/` but the progress page: worker, options, add-on", ["platform", "strings", "record", "resources", "system", "payload"]),
    ("wizard", "`wizard/` shell: frame, page interface", ["platform", "strings", "resources"]),
    ("progress_page", "`install/page_progress*`: the progress page", ["platform", "strings", "record", "resources", "system", "payload", "install", "wizard"]),
    ("pages", "`pages/`: the wizard's pages", ["platform", "strings", "record", "resources", "system", "payload", "install", "wizard"]),
    ("entry", "`wizard/main.cpp`: the entry routine", ["platform", "strings", "record", "resources", "system", "payload", "install", "wizard", "progress_page", "pages"]),
    ("tools/packer", "`tools/packer/`: tlpack (host)", ["platform", "payload"]),
    ("tools/catdump", "`tools/catdump/`: catdump", ["platform", "payload"]),
    ("tools/uninstaller", "`tools/uninstaller/`: tluninstall.exe", ["platform", "record"]),
]
ALLOWED = {name: set(deps) | {name} for name, _, deps in UNITS}

PRODUCT_FOLDERS = ("platform/", "wizard/", "system/", "payload/", "install/", "pages/", "resources/", "tools/")
ROOT_ONLY_FOLDERS = ("tests/", "bench/")
SOURCE = re.compile(r"\.(c|cc|cpp|h|rc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# Written by the build (the packer's resource script, the sample's version texts).
GENERATED = {"payload.rc", "sample_version.h"}


def unit_of(path):
    if path.startswith("platform/"):
        return "platform"
    if re.match(r"wizard/(strings|text_format)\.(h|cpp)$", path):
        return "strings"
    if path == "wizard/main.cpp":
        return "entry"
    if path.startswith("wizard/"):
        return "wizard"
    if path == "system/uninstall_contract.h":
        return "record"
    if path.startswith("install/page_progress"):
        return "progress_page"
    for folder in ("system", "payload", "install", "pages", "resources"):
        if path.startswith(folder + "/"):
            return folder
    m = re.match(r"(tools/[^/]+)/", path)
    if m and m.group(1) in ALLOWED:
        return m.group(1)
    return None


def table():
    lines = ["| unit | may include (besides itself) |", "|---|---|"]
    for name, what, deps in UNITS:
        lines.append("| %s | %s |" % (what, ", ".join(deps) if deps else "nothing of the project"))
    return "\n".join(lines)


def tracked_sources(root):
    out = []
    for top in PRODUCT_FOLDERS + ROOT_ONLY_FOLDERS:
        for base, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = [d for d in dirs if d != "corpus"]
            for f in files:
                if SOURCE.search(f):
                    out.append(os.path.relpath(os.path.join(base, f), root).replace(os.sep, "/"))
    return sorted(out)


def check(root):
    problems = []
    for path in tracked_sources(root):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        folder = os.path.dirname(path)
        for name in INCLUDE.findall(text):
            beside = os.path.normpath(os.path.join(folder, name)).replace(os.sep, "/")
            if os.path.isfile(os.path.join(root, beside)):
                target = beside
            elif os.path.isfile(os.path.join(root, name)):
                target = name
            elif os.path.basename(name) in GENERATED:
                continue
            else:
                problems.append("%s: \"%s\" is found neither beside it nor from the root" % (path, name))
                continue
            if path.startswith(ROOT_ONLY_FOLDERS):
                continue
            if target.startswith(ROOT_ONLY_FOLDERS):
                problems.append("%s: includes test or benchmark code \"%s\"" % (path, name))
                continue
            source_unit, target_unit = unit_of(path), unit_of(target)
            if source_unit is None or target_unit is None:
                problems.append("%s: \"%s\" lies outside every unit of the layering" % (path, name))
            elif target_unit not in ALLOWED[source_unit]:
                problems.append("%s (%s) may not include %s (%s)" % (path, source_unit, target, target_unit))
    readme = open(os.path.join(root, "README.md"), encoding="utf-8").read()
    m = re.search(r"<!-- layering table -->\n(.*?)\n<!-- end of layering table -->", readme, re.S)
    if not m or m.group(1).strip() != table():
        problems.append("README.md: the layering table differs from the rules (print them with --table)")
    return problems


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    root = sys.argv[1]
    if sys.argv[2:] == ["--table"]:
        print(table())
        return 0
    problems = check(root)
    for p in problems:
        print(p)
    print("%d sources checked, %d problems" % (len(tracked_sources(root)), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
