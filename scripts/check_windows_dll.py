#!/usr/bin/env python3
"""Checks the Windows DLL: its export table holds exactly the names of the .def file, it
imports the srv_* functions from opends60.dll, and its version resource reads 1.1.0.0."""
import re
import struct
import subprocess
import sys


def def_names(path):
    names = []
    for line in open(path):
        name = line.strip()
        if name and not name.startswith(("LIBRARY", "EXPORTS")):
            names.append(name)
    return sorted(names)


def main():
    objdump, dll, module_def = sys.argv[1:4]
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) != 2:
        sys.exit("no export table in " + dll)
    exported = sorted(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)$", table[1].split("\n\n", 1)[0], re.M))
    expected = def_names(module_def)
    failures = []
    if exported != expected:
        failures.append("exports differ: missing %s, extra %s"
                        % (sorted(set(expected) - set(exported)), sorted(set(exported) - set(expected))))
    if "DLL Name: opends60.dll" not in dump:
        failures.append("does not import opends60.dll")

    data = open(dll, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        failures.append("no version resource")
    else:
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", data, at + 8)
        version = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        for what, ms, ls in (("FileVersion", file_ms, file_ls), ("ProductVersion", product_ms, product_ls)):
            if version(ms, ls) != "1.1.0.0":
                failures.append("%s is %s" % (what, version(ms, ls)))
    if failures:
        sys.exit("\n".join(failures))
    print("%s: %d exports as listed, imports opends60.dll, version 1.1.0.0" % (dll, len(exported)))


main()
