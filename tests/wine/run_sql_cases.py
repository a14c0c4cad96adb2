#!/usr/bin/env python3
"""Runs the end-to-end SQL cases (tests/sql/NAME.sql) with the Windows build of the host under
Wine and compares each output with tests/expected/NAME.out, as the Linux run does.

Each case runs in a fresh folder, one case at a time: its tests/sql/NAME.drive/c is copied
into the prefix's drive C: and whatever the case added to C: is removed afterwards; other
drive letters of NAME.drive become drives of their own. The test module is copied beside the
case under the name the cases load ('./hosttest.so': Windows loads a module whatever its
extension). The output's line ends (CRLF on Windows, CR CR LF after a message's own CRLF) become LF, and failure addresses are
masked as on Linux.

Where Wine answers otherwise than Windows (its own short system texts), an expected file holds
the line twice: once starting with "[wine] ", expected only here, and once starting with
"[not wine] ", expected everywhere else (on Linux, as on Windows).

A case whose output differs in an ANSI code page of a server runs once more in each code page
its expected file names: a line starting with a tag such as "[cp1252] " or "[utf-8 cp932] " is
expected only in the runs of the code pages it lists (utf-8 being the run with the UTF-8
manifest, as on Linux); untagged lines are expected in every run. A code page's run uses
dunmarrow-acp.exe, the host without the UTF-8 manifest, whose code page Wine takes from the Unix
locale's LC_CTYPE (en_US gives 1252, ja_JP 932). The locales are made with localedef into the
work folder, so none needs installing."""
import argparse
import difflib
import os
import re
import shutil
import subprocess
import sys


# "[utf-8 cp932] ": the code pages in whose runs a line is expected.
CODE_PAGE_TAG = re.compile(r"^\[((?:utf-8|cp\d+)(?: (?:utf-8|cp\d+))*)\] ")


def code_pages_named(text):
    """The code pages other than UTF-8 whose runs an expected file has lines for."""
    named = set()
    for line in text.split("\n"):
        tag = CODE_PAGE_TAG.match(line)
        if tag:
            named.update(tag.group(1).split(" "))
    named.discard("utf-8")
    return named


def expected_under_wine(text, code_page):
    lines = []
    for line in text.split("\n"):
        tag = CODE_PAGE_TAG.match(line)
        if tag:
            if (code_page or "utf-8") not in tag.group(1).split(" "):
                continue
            line = line[tag.end():]
        if line.startswith("[not wine] "):
            continue
        if line.startswith("[wine] "):
            line = line[len("[wine] "):]
        lines.append(line)
    return "\n".join(lines)


def copy_tree(source, target):
    for entry in os.listdir(source):
        path = os.path.join(source, entry)
        if os.path.isdir(path):
            shutil.copytree(path, os.path.join(target, entry), dirs_exist_ok=True)
        else:
            shutil.copy2(path, os.path.join(target, entry))


def apply_mask(path, text):
    """Values that differ from run to run (round-trip times) are masked by the case's own rules
    in NAME.mask, as on Linux: a regular expression, " => " and its replacement, one a line."""
    if not os.path.exists(path):
        return text
    with open(path) as rules:
        for rule in rules.read().split("\n"):
            if rule.startswith("#") or " => " not in rule:
                continue
            pattern, _, replacement = rule.partition(" => ")
            text = re.sub(pattern, replacement, text)
    return text


# Under Wine a name goes to the system's resolver, which knows nothing of the reserved names
# (no-such-host.invalid) and would ask a name server. A case that resolves names therefore runs
# in a network namespace of its own with loopback only: nothing it looks up leaves the machine.
# Wine's services, which send the echoes to 127.0.0.1, keep running in the machine's own.
RESOLVING = re.compile(r"\bxp_(Ping|GetAddrByHost|GetHostByAddr)\b", re.IGNORECASE)
PRIVATE_NETWORK = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"]


def private_network_missing():
    """Why no private network can be made here, or None when it can."""
    try:
        done = subprocess.run(PRIVATE_NETWORK + ["true"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=30)
    except OSError as error:
        return str(error)
    if done.returncode != 0:
        return done.stderr.decode(errors="replace").strip() or "status %d" % done.returncode
    return None


# The ANSI code pages a server runs with, and the Unix locale whose LC_CTYPE gives each.
CODE_PAGES = {"cp1252": "en_US", "cp932": "ja_JP"}


def make_locales(folder):
    """The locales of CODE_PAGES as UTF-8 locales below folder (for LOCPATH), or why not."""
    os.makedirs(folder, exist_ok=True)
    for locale in CODE_PAGES.values():
        target = os.path.join(folder, locale + ".UTF-8")
        if os.path.isdir(target):
            continue
        try:
            done = subprocess.run(["localedef", "-i", locale, "-f", "UTF-8", target],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        except OSError as error:
            return str(error)
        # localedef warns about some locale sources and still writes the locale (status 1).
        if not os.path.isdir(target):
            return done.stdout.decode(errors="replace").strip()
    return None


def code_page_environment(args, code_page):
    env = dict(os.environ)
    for name in ("LC_ALL", "LANG", "LANGUAGE"):
        env.pop(name, None)
    env["LOCPATH"] = os.path.join(args.work, "locales")
    env["LC_CTYPE"] = CODE_PAGES[code_page] + ".UTF-8"
    return env


def restart(args):
    """Wine learns the drive letters of dosdevices/ when its services start: a case that maps
    drives of its own runs after a restart, and the next case after another."""
    subprocess.run([args.wine, "--restart"], check=True, timeout=120)


def run_case(args, name, isolate, code_page=None):
    """Runs one case with the host of the UTF-8 manifest, or with the host of the system's code
    page in the given one; returns what failed, or None."""
    label = name + ("." + code_page if code_page else "")
    work = os.path.join(args.work, label)
    if os.path.isdir(work):
        shutil.rmtree(work)
    os.makedirs(work)
    shutil.copy2(args.test_module, os.path.join(work, "hosttest.so"))

    drive_c = os.path.join(args.prefix, "drive_c")
    dosdevices = os.path.join(args.prefix, "dosdevices")
    before = set(os.listdir(drive_c))
    mapped = []
    drive = os.path.join(args.source, "sql", name + ".drive")
    if os.path.isdir(drive):
        for letter in sorted(os.listdir(drive)):
            if letter == "c":
                copy_tree(os.path.join(drive, "c"), drive_c)
            elif len(letter) == 1 and letter.isalpha():
                root = os.path.join(work, "drives", letter)
                shutil.copytree(os.path.join(drive, letter), root)
                link = os.path.join(dosdevices, letter + ":")
                if os.path.lexists(link):
                    os.remove(link)
                os.symlink(root, link)
                mapped.append(link)
    if mapped:
        restart(args)
    try:
        host = args.acp_host if code_page else args.host
        done = subprocess.run(
            (PRIVATE_NETWORK if isolate else []) + [args.wine, host, "--trace", "-e", "-i", os.path.join(args.source, "sql", name + ".sql")],
            cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300,
            env=code_page_environment(args, code_page) if code_page else None)
    finally:
        for entry in set(os.listdir(drive_c)) - before:
            path = os.path.join(drive_c, entry)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
        for link in mapped:
            os.remove(link)
        if mapped:
            restart(args)

    # Line ends become LF, as the Linux run reads its output. A message's own CRLF comes out of
    # the text-mode console as CR CR LF.
    actual = re.sub(r"\r+\n", "\n", done.stdout.decode("utf-8", errors="replace"))
    actual = re.sub(r" \(Runtime Addr: \$[0-9A-F]{8}\)", " (Runtime Addr: $XXXXXXXX)", actual)
    actual = apply_mask(os.path.join(args.source, "sql", name + ".mask"), actual)
    with open(os.path.join(work, label + ".out"), "w") as out:
        out.write(actual)
    errors = done.stderr.decode("utf-8", errors="replace")
    if done.returncode != 0 or errors:
        return "%s: %s ended with status %d:\n%s" % (label, os.path.basename(host),
                                                      done.returncode, errors)
    with open(os.path.join(args.source, "expected", name + ".out")) as f:
        expected = expected_under_wine(f.read(), code_page)
    if actual != expected:
        diff = difflib.unified_diff(expected.split("\n"), actual.split("\n"),
                                    "tests/expected/%s.out" % name, "under Wine", lineterm="")
        return "%s: the output differs (the whole output is %s)\n%s" % (
            label, os.path.join(work, label + ".out"), "\n".join(diff))
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True, help="the script that runs a program under Wine")
    parser.add_argument("--host", required=True, help="dunmarrow.exe")
    parser.add_argument("--acp-host", required=True,
                        help="dunmarrow-acp.exe, the host in the system's ANSI code page")
    parser.add_argument("--test-module", required=True, help="the Windows build of hosttest")
    parser.add_argument("--source", required=True, help="the tests/ folder")
    parser.add_argument("--work", required=True, help="where the cases run")
    parser.add_argument("--prefix", required=True, help="the Wine prefix")
    parser.add_argument("names", nargs="*", help="cases to run (all when none are named)")
    args = parser.parse_args()

    names = args.names or sorted(f[:-4] for f in os.listdir(os.path.join(args.source, "sql"))
                                 if f.endswith(".sql"))
    missing = private_network_missing()
    no_locales = make_locales(os.path.join(args.work, "locales"))
    failures = []
    skipped = 0
    passed = 0
    for name in names:
        with open(os.path.join(args.source, "sql", name + ".sql"), encoding="utf-8") as case:
            resolving = bool(RESOLVING.search(case.read()))
        with open(os.path.join(args.source, "expected", name + ".out"), encoding="utf-8") as f:
            code_pages = code_pages_named(f.read())
        unknown = code_pages - set(CODE_PAGES)
        if unknown:
            failures.append("%s: its expected file names code pages no run is made in: %s"
                            % (name, ", ".join(sorted(unknown))))
            continue
        if resolving and missing:
            print("%s: skipped, it resolves names and no private network can be made here (%s)"
                  % (name, missing))
            skipped += 1
            continue
        for code_page in [None] + sorted(code_pages):
            label = name + ("." + code_page if code_page else "")
            if code_page and no_locales:
                failures.append("%s: no locale for code page %s can be made here: %s"
                                % (label, code_page[2:], no_locales))
                continue
            failure = run_case(args, name, resolving, code_page)
            if failure:
                failures.append(failure)
            else:
                passed += 1
                print("%s: passed" % label)
    for failure in failures:
        print(failure)
    print("%d passed, %d failed, %d skipped (UTF-8 and the code pages %s)"
          % (passed, len(failures), skipped,
             ", ".join(c[2:] for c in sorted(CODE_PAGES))))
    return 1 if failures else 0


sys.exit(main())
