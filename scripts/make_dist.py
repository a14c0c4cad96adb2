#!/usr/bin/env python3
"""Writes the release an administrator installs: Dunmarrow-VERSION-windows.zip holding
x86/Dunmarrow.dll, x64/Dunmarrow.dll, register.sql (sp_addextendedproc for every working
procedure), unregister.sql, INSTALL.txt and SHA256SUMS (the sums of the other files). The
version and the working procedures come from a build's generated/module_facts.json.

The zip is the same bytes for the same inputs: its entries are in a fixed order with a fixed
time (SOURCE_DATE_EPOCH, else the time of the last commit) and fixed permissions."""
import argparse
import hashlib
import json
import os
import subprocess
import time
import zipfile

DLL_PATH = r"C:\Program Files\Dunmarrow\Dunmarrow.dll"


def crlf(lines):
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def register_sql(names, version):
    lines = [
        "-- Registers the %d procedures of Dunmarrow %s in master. Run as a member of sysadmin." % (len(names), version),
        "-- Set @dll to where Dunmarrow.dll was copied: x64\\Dunmarrow.dll for a 64-bit server,",
        "-- x86\\Dunmarrow.dll for a 32-bit one (see INSTALL.txt). Procedures already registered",
        "-- are left as they are.",
        "USE master;",
        "GO",
        "DECLARE @dll varchar(255);",
        "SET @dll = '%s';" % DLL_PATH,
    ]
    for name in names:
        lines.append("IF OBJECT_ID(N'dbo.%s') IS NULL EXEC sp_addextendedproc N'%s', @dll;" % (name, name))
    lines += [
        "GO",
        "-- Grant EXECUTE to a role of your own, only on the procedures it needs, never to public:",
        "--   GRANT EXECUTE ON dbo.xp_FileExists TO DunmarrowUsers;",
    ]
    return crlf(lines)


def unregister_sql(names, version):
    lines = [
        "-- Removes the %d procedures of Dunmarrow %s from master and unloads the DLL, so that" % (len(names), version),
        "-- its file can be replaced or deleted. Run as a member of sysadmin.",
        "USE master;",
        "GO",
    ]
    for name in names:
        lines.append("IF OBJECT_ID(N'dbo.%s') IS NOT NULL EXEC sp_dropextendedproc N'%s';" % (name, name))
    lines += ["GO", "DBCC Dunmarrow(FREE);", "GO"]
    return crlf(lines)


def source_date():
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        return int(subprocess.run(["git", "log", "-1", "--format=%ct"], check=True,
                                  capture_output=True, text=True).stdout.strip())
    except (OSError, subprocess.CalledProcessError, ValueError):
        return 315532800  # 1980-01-01, the earliest time a zip entry holds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--x86", required=True)
    parser.add_argument("--x64", required=True)
    parser.add_argument("--facts", required=True, help="generated/module_facts.json of a build")
    parser.add_argument("--install", required=True, help="INSTALL.txt")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    facts = json.load(open(args.facts))
    version = facts["version"]
    names = facts["procedures"]
    install = open(args.install, "rb").read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    files = [
        ("x86/Dunmarrow.dll", open(args.x86, "rb").read()),
        ("x64/Dunmarrow.dll", open(args.x64, "rb").read()),
        ("register.sql", register_sql(names, version)),
        ("unregister.sql", unregister_sql(names, version)),
        ("INSTALL.txt", install),
    ]
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in files)
    files.append(("SHA256SUMS", sums.encode("ascii")))

    os.makedirs(args.out, exist_ok=True)
    path = os.path.join(args.out, "Dunmarrow-%s-windows.zip" % version)
    stamp = time.gmtime(max(source_date(), 315532800))[:6]
    with zipfile.ZipFile(path + ".tmp", "w") as archive:
        for name, data in files:
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            entry.create_system = 3
            archive.writestr(entry, data, compresslevel=9)
    os.replace(path + ".tmp", path)
    print("%s: %d working procedures registered, sha256 %s"
          % (path, len(names), hashlib.sha256(open(path, "rb").read()).hexdigest()))


main()
