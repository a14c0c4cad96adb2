"""The client tests' harness: a `dunmarrow serve` of their own and a small check runner.

Each test program makes a temporary drive root and logins file, starts the server on a free
loopback port, runs real clients against it and stops it whatever happens. A test prints one
line per check and ends with "N passed, N failed"; the exit status is 0 when every check
passed, 1 when one failed and SKIP (77) when the client it needs is not installed here.
"""

import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77
PASSWORD = "Cl1ent-test pw"


class Skip(Exception):
    """The client a test needs is missing: the test is skipped, with the reason printed."""


class Checks:
    """Counts and prints the outcome of each check."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what, detail=""):
        if ok:
            self.passed += 1
            print(f"ok - {what}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL - {what}", flush=True)
            if detail:
                print("    " + str(detail).replace("\n", "\n    "), flush=True)
        return ok

    def equal(self, got, expected, what, detail=""):
        return self.check(got == expected, what,
                          f"expected {expected!r}\n got      {got!r}\n{detail}".rstrip())

    def match(self, pattern, text, what):
        return self.check(re.search(pattern, text or "", re.S) is not None, what,
                          f"no match for {pattern!r} in:\n{text}")


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dunmarrow", required=True, help="the dunmarrow program")
    parser.add_argument("--module", required=True, help="the module it serves")
    parser.add_argument("--work", required=True, help="a folder of this test's own")
    return parser.parse_args()


class Server:
    """A running `dunmarrow serve` with a logins file and drive root of its own.

    Use as a context manager: the server is stopped on leaving, and its log printed when the
    block raised or a check failed in it.
    """

    def __init__(self, args, checks, name, listen="127.0.0.1:0", extra=(), logins=None,
                 allow=None, env=None):
        self.args = args
        self.checks = checks
        self.name = name
        self.home = os.path.join(args.work, name)
        shutil.rmtree(self.home, ignore_errors=True)
        self.drive_root = os.path.join(self.home, "drives")
        os.makedirs(os.path.join(self.drive_root, "c"))
        self.logins = os.path.join(self.home, "logins")
        self.log_path = os.path.join(self.home, "server.log")
        self.listen = listen
        self.extra = list(extra)
        self.allow = allow or []
        self.env = env
        self.process = None
        self.failed = False
        self.failed_before = checks.failed
        self.host = None
        self.port = None
        for login, grant in (logins or {"tester": "all"}).items():
            self.add_login(login, grant)

    def run_dunmarrow(self, *words, stdin=None):
        return subprocess.run([self.args.dunmarrow, *words], input=stdin, capture_output=True,
                              text=True, timeout=60, env=self.env)

    def add_login(self, login, grant, password=PASSWORD, admin=False):
        words = ["login", "add", login, "--logins", self.logins, "--drive-root", self.drive_root]
        if grant:
            words += ["--grant", grant]
        if admin:
            words.append("--admin")
        done = self.run_dunmarrow(*words, stdin=password + "\n")
        if done.returncode != 0:
            raise RuntimeError(f"dunmarrow {' '.join(words)} failed ({done.returncode}):\n"
                               f"{done.stdout}{done.stderr}")

    def __enter__(self):
        command = [self.args.dunmarrow, "serve", "-m", self.args.module, "--drive-root",
                   self.drive_root, "--logins", self.logins, "--listen", self.listen,
                   *[w for d in self.allow for w in ("--allow-path", d)], *self.extra]
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=self.log,
                                        env=self.env)
        try:
            self.host, self.port = self._read_address()
        except BaseException:
            self.failed = True
            self.__exit__(None, None, None)
            raise
        return self

    def _read_address(self):
        """Waits for "listening on ADDR:PORT" on the server's standard output."""
        deadline = time.monotonic() + 30
        seen = b""
        out = self.process.stdout
        while time.monotonic() < deadline:
            ready, _, _ = select.select([out], [], [], 0.2)
            if ready:
                chunk = os.read(out.fileno(), 4096)
                if not chunk:
                    break
                seen += chunk
                found = re.search(rb"listening on (\[[^\]]+\]|[^\s:]+):(\d+)\n", seen)
                if found:
                    return found.group(1).decode().strip("[]"), int(found.group(2))
            elif self.process.poll() is not None:
                break
        raise RuntimeError(f"the server did not say where it listens; it printed {seen!r}, "
                           f"exit status {self.process.poll()}")

    def stop(self):
        """SIGTERM, then SIGKILL after a while; returns the exit status."""
        if self.process is None or self.process.poll() is not None:
            return self.process.returncode if self.process else None
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            print("the server did not stop within 15 s of SIGTERM: killed", flush=True)
            self.failed = True
            self.process.kill()
            return self.process.wait()

    def log_text(self):
        self.log.flush()
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def __exit__(self, kind, value, trace):
        status = self.stop()
        if kind is None:
            self.checks.equal(status, 0, f"[{self.name}] the server exits 0 on SIGTERM")
        if self.process.stdout:
            self.process.stdout.close()
        if kind is not None or self.failed or self.checks.failed > self.failed_before:
            print(f"--- server log ({self.log_path}) ---\n{self.log_text()}--- end of log ---",
                  flush=True)
        self.log.close()
        return False


def main(run):
    """Runs `run(args, checks)` and exits with the test's status."""
    args = arguments()
    os.makedirs(args.work, exist_ok=True)
    tempfile.tempdir = args.work
    checks = Checks()
    try:
        run(args, checks)
    except Skip as reason:
        print(f"SKIPPED: {reason}", flush=True)
        sys.exit(SKIP)
    except Exception:
        traceback.print_exc()
        checks.check(False, "the test ran to its end")
    print(f"{checks.passed} passed, {checks.failed} failed", flush=True)
    sys.exit(1 if checks.failed or not checks.passed else 0)


def need_program(name):
    path = shutil.which(name)
    if not path:
        raise Skip(f"{name} is not installed (scripts/install-deps.sh installs it)")
    return path
