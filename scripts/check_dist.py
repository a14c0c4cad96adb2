#!/usr/bin/env python3
"""Checks the release zip as an administrator receives it: it unpacks, holds the two DLLs (an
x86 and an x64 PE file), register.sql, unregister.sql and INSTALL.txt, every sum of SHA256SUMS
matches, and register.sql registers exactly the working procedures, each once, which
unregister.sql removes again. The version and the working procedures are those of a build's
generated/module_facts.json.
usage: check_dist.py DIST_FOLDER MODULE_FACTS_JSON"""
import hashlib
import json
import re
import struct
import sys
import tempfile
import zipfile

MACHINES = {"x86/Dunmarrow.dll": 0x014C, "x64/Dunmarrow.dll": 0x8664}


def main():
    folder_of_dist, facts_path = sys.argv[1:3]
    facts = json.load(open(facts_path))
    path = "%s/Dunmarrow-%s-windows.zip" % (folder_of_dist, facts["version"])
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        with zipfile.ZipFile(path) as archive:
            archive.extractall(folder)
            names = sorted(archive.namelist())
        wanted = sorted(list(MACHINES) + ["register.sql", "unregister.sql", "INSTALL.txt", "SHA256SUMS"])
        if names != wanted:
            sys.exit("%s holds %s, not %s" % (path, names, wanted))
        read = lambda name: open("%s/%s" % (folder, name), "rb").read()

        summed = {}
        for line in read("SHA256SUMS").decode("ascii").splitlines():
            digest, _, name = line.partition("  ")
            summed[name] = digest
            if hashlib.sha256(read(name)).hexdigest() != digest:
                failures.append("the sum of %s does not match" % name)
        if sorted(summed) != sorted(n for n in names if n != "SHA256SUMS"):
            failures.append("SHA256SUMS covers %s" % sorted(summed))

        for name, machine in MACHINES.items():
            data = read(name)
            pe = struct.unpack_from("<I", data, 0x3C)[0] if data[:2] == b"MZ" else 0
            if not pe or data[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", data, pe + 4)[0] != machine:
                failures.append("%s is not a PE file for machine 0x%04X" % (name, machine))

        working = sorted(facts["procedures"])
        exported = sorted(name for name in facts["exports"] if name.startswith("xp_"))
        if sorted(working + facts["reserved"]) != exported:
            failures.append("the working procedures and the reserved names of %s are not the "
                            "exported xp_ names, each once" % facts_path)
        registered = re.findall(r"\bsp_addextendedproc N'(\w+)'", read("register.sql").decode("ascii"))
        dropped = re.findall(r"\bsp_dropextendedproc N'(\w+)'", read("unregister.sql").decode("ascii"))
        if sorted(registered) != working:
            failures.append("register.sql names %d procedures, not the %d working ones: missing %s, extra %s"
                            % (len(registered), len(working), sorted(set(working) - set(registered)),
                               sorted(set(registered) - set(working))))
        if sorted(dropped) != working:
            failures.append("unregister.sql does not drop exactly the working procedures")
        if "DBCC Dunmarrow(FREE)" not in read("unregister.sql").decode("ascii"):
            failures.append("unregister.sql does not unload the DLL")
    if failures:
        sys.exit("%s:\n  %s" % (path, "\n  ".join(failures)))
    print("%s: unpacks, %d sums match, register.sql names the %d working procedures"
          % (path, len(summed), len(working)))


main()
