#!/usr/bin/env python3
"""Runs end-to-end SQL cases (tests/sql/NAME.sql) through a host with --trace and -e and
compares each output with tests/expected/NAME.out: the Linux build's host directly, or the
Windows build's under Wine (--wine).

Each case runs in a fresh folder WORK/NAME, one case at a time, and its output is kept there
as NAME.out. The test module is copied beside the case under the name the cases load
('./hosttest.so': Windows loads a module whatever its extension). tests/sql/NAME.drive holds
the case's drives: on Linux it becomes the drive root (--drive-root WORK/NAME/drives); under
Wine its c/ is copied into the prefix's drive C: and whatever the case added to C: is removed
afterwards, and its other drive letters become drives of their own.

Before comparing, values that vary from run to run are masked: failure addresses
(" (Runtime Addr: $0001A2B4)" depends on the build) and whatever the case's own rules in
tests/sql/NAME.mask name. Line ends become LF first (a message's own CRLF; under Wine every
line's CRLF, and CR CR LF after a message's own CRLF).

The expected file holds the lines of every platform:
- Where Wine answers otherwise than Windows (its own short system texts), a line is there
  twice: once starting with "[wine] ", expected only under Wine, and once starting with
  "[not wine] ", expected everywhere else (on Linux, as on Windows).
- A case whose output differs in an ANSI code page of a server runs under Wine once more in
  each code page its expected file names: a line starting with a tag such as "[cp1252] " or
  "[utf-8 cp932] " is expected only in the runs of the code pages it lists; untagged lines are
  expected in every run. The Linux run, whose 8-bit text is UTF-8, and the Wine run with the
  UTF-8 manifest are the utf-8 runs. A code page's run uses dunmarrow-acp.exe, the host without
  the UTF-8 manifest, whose code page Wine takes from the Unix locale's LC_CTYPE (en_US gives
  1252, ja_JP 932). The locales are made with localedef into the work folder, so none needs
  installing.

A difference is shown as a unified diff of the lines expected on this platform against the
output. The last line counts the runs that passed, failed and were skipped."""
import argparse
import difflib
import os
import re
import shutil
import subprocess
import sys


# "[utf-8 cp932] ": the code pages in whose runs a line is expected.
CODE_PAGE_TAG = re.compile(r"^\[((?:utf-8|cp\d+)(?: (?:utf-8|cp\d+))*)\] ")

# The ANSI code pages a server runs with, and the Unix locale whose LC_CTYPE gives each.
CODE_PAGES = {"cp1252": "en_US", "cp932": "ja_JP"}

# Outputs and expected files are compared as bytes: text that is no UTF-8 keeps its bytes.
ENCODING = {"encoding": "utf-8", "errors": "surrogateescape"}


def read_text(path):
    with open(path, **ENCODING) as f:
        return f.read()


def code_pages_named(text):
    """The code pages other than UTF-8 whose runs an expected file has lines for."""
    named = set()
    for line in text.split("\n"):
        tag = CODE_PAGE_TAG.match(line)
        if tag:
            named.update(tag.group(1).split(" "))
    named.discard("utf-8")
    return named


def expected_lines(text, wine, code_page):
    """The lines of an expected file that a run prints: under Wine or not, in a code page or
    in UTF-8 (None)."""
    lines = []
    for line in text.split("\n"):
        tag = CODE_PAGE_TAG.match(line)
        if tag:
            if (code_page or "utf-8") not in tag.group(1).split(" "):
                continue
            line = line[tag.end():]
        if line.startswith("[not wine] "):
            if wine:
                continue
            line = line[len("[not wine] "):]
        elif line.startswith("[wine] "):
            if not wine:
                continue
            line = line[len("[wine] "):]
        lines.append(line)
    return "\n".join(lines)


def apply_masks(path, text):
    """Masks failure addresses, then applies the case's own rules in NAME.mask when it has one:
    a regular expression, " => " and its replacement, one a line; lines starting with # are
    comments."""
    text = re.sub(r" \(Runtime Addr: \$[0-9A-F]{8}\)", " (Runtime Addr: $XXXXXXXX)", text)
    if not os.path.exists(path):
        return text
    for rule in read_text(path).split("\n"):
        if rule.startswith("#") or " => " not in rule:
            continue
        pattern, _, replacement = rule.partition(" => ")
        text = re.sub(pattern, replacement, text)
    return text


def copy_tree(source, target):
    for entry in os.listdir(source):
        path = os.path.join(source, entry)
        if os.path.isdir(path):
            shutil.copytree(path, os.path.join(target, entry), dirs_exist_ok=True)
        else:
            shutil.copy2(path, os.path.join(target, entry))


class Linux:
    """The Linux build's host, run directly; its 8-bit text is UTF-8."""
    wine = False
    code_pages = {}

    def __init__(self, args):
        self.args = args

    def problem(self, code_page):
        return None

    def skip(self, resolving):
        return None

    def run(self, name, work, code_page, resolving):
        drives = os.path.join(work, "drives")
        os.makedirs(drives)
        drive = os.path.join(self.args.source, "sql", name + ".drive")
        if os.path.isdir(drive):
            copy_tree(drive, drives)
        command = [self.args.host, "--trace", "-e", "--drive-root", drives,
                   "-i", os.path.join(self.args.source, "sql", name + ".sql")]
        return subprocess.run(command, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=300)



# Under Wine a name goes to the system's resolver, which knows nothing of the reserved names
# (no-such-host.invalid) and would ask a name server. A case that resolves names therefore runs
# in a network namespace of its own with loopback only: nothing it looks up leaves the machine.
# Wine's services, which send the echoes to 127.0.0.1, keep running in the machine's own.
RESOLVING = re.compile(r"\bxp_(Ping|GetAddrByHost|GetHostByAddr)\b", re.IGNORECASE)
PRIVATE_NETWORK = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"]


class Wine:
    """The Windows build's hosts under Wine, in the prefix of the build."""
    wine = True
    code_pages = CODE_PAGES

    def __init__(self, args):
        self.args = args
        for option in ("acp_host", "prefix"):
            if not getattr(args, option):
                sys.exit("--wine needs --%s" % option.replace("_", "-"))
        self.no_network = self.private_network_missing()
        self.no_locales = self.make_locales(os.path.join(args.work, "locales"))

    @staticmethod
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

    @staticmethod
    def make_locales(folder):
        """The locales of CODE_PAGES as UTF-8 locales below folder (for LOCPATH), or why not."""
        os.makedirs(folder, exist_ok=True)
        for locale in CODE_PAGES.values():
            target = os.path.join(folder, locale + ".UTF-8")
            if os.path.isdir(target):
                continue
            try:
                done = subprocess.run(["localedef", "-i", locale, "-f", "UTF-8", target],
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      timeout=120)
            except OSError as error:
                return str(error)
            # localedef warns about some locale sources and still writes the locale (status 1).
            if not os.path.isdir(target):
                return done.stdout.decode(errors="replace").strip()
        return None

    def problem(self, code_page):
        if code_page and self.no_locales:
            return "no locale for code page %s can be made here: %s" % (code_page[2:],
                                                                        self.no_locales)
        return None

    def skip(self, resolving):
        if resolving and self.no_network:
            return ("it resolves names and no private network can be made here (%s)"
                    % self.no_network)
        return None

    def environment(self, code_page):
        if not code_page:
            return None
        env = dict(os.environ)
        for name in ("LC_ALL", "LANG", "LANGUAGE"):
            env.pop(name, None)
        env["LOCPATH"] = os.path.join(self.args.work, "locales")
        env["LC_CTYPE"] = CODE_PAGES[code_page] + ".UTF-8"
        return env

    def restart(self):
        """Wine learns the drive letters of dosdevices/ when its services start: a case that
        maps drives of its own runs after a restart, and the next case after another."""
        subprocess.run([self.args.wine, "--restart"], check=True, timeout=120)

    def run(self, name, work, code_page, resolving):
        args = self.args
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
            self.restart()
        try:
            host = args.acp_host if code_page else args.host
            return subprocess.run(
                (PRIVATE_NETWORK if resolving else []) +
                [args.wine, host, "--trace", "-e", "-i",
                 os.path.join(args.source, "sql", name + ".sql")],
                cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300,
                env=self.environment(code_page))
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
                self.restart()



def run_case(args, platform, name, code_page, resolving):
    """Runs one case (under Wine in the given code page, or in UTF-8); returns what failed, or
    None."""
    label = name + ("." + code_page if code_page else "")
    work = os.path.join(args.work, label)
    if os.path.isdir(work):
        shutil.rmtree(work)
    os.makedirs(work)
    shutil.copy2(args.test_module, os.path.join(work, "hosttest.so"))

    done = platform.run(name, work, code_page, resolving)
    # Line ends become LF: a message's own CRLF, and on Windows every line's, which the
    # text-mode console writes as CR CR LF after a message's own CR.
    actual = re.sub(r"\r+\n", "\n", done.stdout.decode(**ENCODING))
    actual = apply_masks(os.path.join(args.source, "sql", name + ".mask"), actual)
    output = os.path.join(work, label + ".out")
    with open(output, "w", **ENCODING) as out:
        out.write(actual)
    errors = done.stderr.decode(**ENCODING)
    if done.returncode != 0 or errors:
        host = args.acp_host if code_page else args.host
        return "%s ended with status %d:\n%s" % (os.path.basename(host), done.returncode, errors)
    expected = expected_lines(read_text(os.path.join(args.source, "expected", name + ".out")),
                              platform.wine, code_page)
    if actual != expected:
        diff = difflib.unified_diff(expected.split("\n"), actual.split("\n"),
                                    "tests/expected/%s.out" % name,
                                    "under Wine" if platform.wine else "output", lineterm="")
        return "the output differs (the whole output is %s)\n%s" % (output, "\n".join(diff))
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True, help="the host: dunmarrow or dunmarrow.exe")
    parser.add_argument("--test-module", required=True, help="the build of hosttest")
    parser.add_argument("--source", required=True, help="the tests/ folder")
    parser.add_argument("--work", required=True, help="where the cases run")
    parser.add_argument("--wine", help="the script that runs a program under Wine")
    parser.add_argument("--acp-host",
                        help="under Wine: dunmarrow-acp.exe, the host in the system's code page")
    parser.add_argument("--prefix", help="under Wine: the Wine prefix")
    parser.add_argument("names", nargs="*", help="cases to run (all when none are named)")
    args = parser.parse_args()

    platform = Wine(args) if args.wine else Linux(args)
    names = args.names or sorted(f[:-4] for f in os.listdir(os.path.join(args.source, "sql"))
                                 if f.endswith(".sql"))
    failures = []
    skipped = 0
    passed = 0
    for name in names:
        code_pages = code_pages_named(read_text(os.path.join(args.source, "expected",
                                                             name + ".out")))
        unknown = code_pages - set(CODE_PAGES)
        if unknown:
            failures.append("%s: its expected file names code pages no run is made in: %s"
                            % (name, ", ".join(sorted(unknown))))
            continue
        resolving = bool(RESOLVING.search(read_text(os.path.join(args.source, "sql",
                                                                 name + ".sql"))))
        why = platform.skip(resolving)
        if why:
            print("%s: skipped, %s" % (name, why))
            skipped += 1
            continue
        for code_page in [None] + sorted(code_pages & set(platform.code_pages)):
            label = name + ("." + code_page if code_page else "")
            failure = (platform.problem(code_page) or
                       run_case(args, platform, name, code_page, resolving))
            if failure:
                failures.append("%s: %s" % (label, failure))
            else:
                passed += 1
                print("%s: passed" % label)
    for failure in failures:
        print(failure)
    print("%d passed, %d failed, %d skipped (%s)"
          % (passed, len(failures), skipped,
             "UTF-8 and the code pages " + ", ".join(c[2:] for c in sorted(CODE_PAGES))
             if platform.wine else "Linux"))
    return 1 if failures else 0


sys.exit(main())
