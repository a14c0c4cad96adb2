#!/usr/bin/env python3
"""Checks a Windows build of Dunmarrow.dll as a file, for an architecture (x86 or x64): it is a
PE file of that machine; its export table holds exactly the names of the export table,
undecorated; it imports from opends60.dll and otherwise only from DLLs every Windows system has
(no runtime DLL of the compiler, no zlib1.dll); its version resource reads the project's version
and its file description names the architecture. The names and the version come from the
build's generated/module_facts.json.
usage: check_windows_dll.py OBJDUMP DLL MODULE_FACTS_JSON x86|x64"""
import json
import re
import struct
import subprocess
import sys

MACHINES = {"x86": "pei-i386", "x64": "pei-x86-64"}
# DLLs of the system itself (System32, SysWOW64), compared without regard to case.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "wsock32.dll", "ws2_32.dll",
               "iphlpapi.dll", "msvcrt.dll", "version.dll", "ntdll.dll"}
SERVER_DLL = "opends60.dll"


def version_string(data, key):
    """The value of a StringFileInfo entry: the UTF-16 key, its zero, padding to 32 bits, the
    zero-terminated UTF-16 value."""
    at = data.find((key + "\0").encode("utf-16-le"))
    if at < 0:
        return None
    at += 2 * (len(key) + 1)
    at += -at % 4
    end = at
    while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


def main():
    objdump, dll, facts_path, arch = sys.argv[1:5]
    facts = json.load(open(facts_path))
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    failures = []
    form = re.search(r"file format (\S+)", dump)
    if not form or form.group(1) != MACHINES[arch]:
        failures.append("not an %s DLL: %s" % (arch, form.group(1) if form else "unknown format"))

    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) != 2:
        sys.exit("no export table in " + dll)
    exported = sorted(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)$", table[1].split("\n\n", 1)[0], re.M))
    expected = sorted(facts["exports"])
    if exported != expected:
        failures.append("exports differ: missing %s, extra %s"
                        % (sorted(set(expected) - set(exported)), sorted(set(exported) - set(expected))))

    imported = re.findall(r"^\s*DLL Name: (\S+)$", dump, re.M)
    if SERVER_DLL not in (name.lower() for name in imported):
        failures.append("does not import " + SERVER_DLL)
    foreign = sorted(name for name in imported if name.lower() not in SYSTEM_DLLS | {SERVER_DLL})
    if foreign:
        failures.append("imports DLLs a server does not have: %s" % ", ".join(foreign))

    data = open(dll, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        failures.append("no version resource")
    else:
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", data, at + 8)
        version = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        for what, ms, ls in (("FileVersion", file_ms, file_ls), ("ProductVersion", product_ms, product_ls)):
            if version(ms, ls) != facts["version"]:
                failures.append("%s is %s" % (what, version(ms, ls)))
        description = version_string(data, "FileDescription")
        if description is None or not description.endswith("(%s)" % arch):
            failures.append("the file description %r does not name %s" % (description, arch))
    if failures:
        sys.exit("%s:\n  %s" % (dll, "\n  ".join(failures)))
    print("%s: %s, %d exports as listed, imports %s, version %s, \"%s\""
          % (dll, arch, len(exported), " ".join(sorted(imported, key=str.lower)), facts["version"],
             description))


main()
