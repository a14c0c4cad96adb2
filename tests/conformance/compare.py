#!/usr/bin/env python3
"""Runs a conformance check program twice, built against our Linux stand-ins and built for
Windows under Wine, each in an empty directory of its own (c:\\conformance\\AREA), and compares
what they print line by line. A line is an input, a TAB and the result; a result that starts
with "~ " is a known difference of Wine from Windows, whose reason follows on the line: it is
not compared, but both sides must have the line. Fails on any other difference, showing the
input and both results."""
import argparse
import os
import shutil
import subprocess
import sys


def fresh_directory(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    os.makedirs(path)


def run(command, what):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    if done.returncode != 0:
        sys.exit("%s failed with status %d:\n%s" % (what, done.returncode,
                                                     done.stderr.decode(errors="replace")))
    lines = done.stdout.decode("utf-8", errors="replace").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


def split(line):
    input_text, _, rest = line.partition("\t")
    result, _, note = rest.partition("\t")
    return input_text, result, note


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--area", required=True)
    parser.add_argument("--linux", required=True, help="the program built against the stand-ins")
    parser.add_argument("--drive-root", required=True, help="the drive root of the Linux run")
    parser.add_argument("--wine", required=True, help="the script that runs a program under Wine")
    parser.add_argument("--windows", required=True, help="the program built for Windows")
    parser.add_argument("--drive-c", required=True, help="drive C: of the Wine prefix")
    parser.add_argument("--verbose", action="store_true", help="also list the skipped lines")
    args = parser.parse_args()

    windows_dir = "c:\\conformance\\" + args.area
    fresh_directory(os.path.join(args.drive_root, "c", "conformance", args.area))
    fresh_directory(os.path.join(args.drive_c, "conformance", args.area))
    linux = run([args.linux, "--drive-root", args.drive_root, windows_dir], "the Linux build")
    windows = run([args.wine, args.windows, windows_dir], "the Windows build under Wine")

    # Both outputs stay beside the drive root, to be read when a check fails.
    for name, lines in (("linux", linux), ("wine", windows)):
        with open(os.path.join(args.drive_root, "%s.%s.txt" % (args.area, name)), "w") as out:
            out.write("\n".join(lines))

    differences = []
    skipped = {}
    agreed = 0
    for index in range(max(len(linux), len(windows))):
        left = split(linux[index]) if index < len(linux) else ("(no line)", "", "")
        right = split(windows[index]) if index < len(windows) else ("(no line)", "", "")
        if left[0] != right[0]:
            differences.append("line %d: the inputs differ\n  linux:   %s\n  windows: %s"
                               % (index + 1, left[0], right[0]))
            break  # the rest would not line up
        if left[1].startswith("~ ") or right[1].startswith("~ "):
            reason = left[2] or right[2]
            skipped.setdefault(reason, []).append((left[0], left[1][2:], right[1][2:]))
            continue
        if left[1] != right[1]:
            differences.append("%s\n  linux:   %s\n  windows: %s" % (left[0], left[1], right[1]))
        else:
            agreed += 1

    for reason, lines in sorted(skipped.items()):
        print("skipped %d lines (%s)" % (len(lines), reason.lstrip("# ")))
        if args.verbose:
            for input_text, left, right in lines:
                print("  %s\n    linux:   %s\n    windows: %s" % (input_text, left, right))
    for difference in differences:
        print(difference)
    print("%s: %d lines agree, %d skipped, %d differ"
          % (args.area, agreed, sum(len(v) for v in skipped.values()), len(differences)))
    return 1 if differences else 0


sys.exit(main())
