"""What `dunmarrow serve` refuses: a wrong password (18456), a procedure not granted (229), a
path outside the allowed roots (Windows error 5), another login's compression buffer and one
over the cap, a client that will not encrypt where encryption is required, and any request
before the login."""

import os
import shutil
import subprocess
import sys

import raw_tds
import server_fixture as fx
import test_tsql

HERE = os.path.dirname(os.path.abspath(__file__))
# A documentation address (TEST-NET-1), put on the loopback device of a network namespace of
# this test's own: never an address of a real interface.
TEST_ADDRESS = "192.0.2.1"


def login(server, user="tester", password=fx.PASSWORD, encryption=raw_tds.ENCRYPT_NOT_SUP):
    """PRELOGIN and LOGIN7 in plaintext; the link and the tokens of the login's answer."""
    link = raw_tds.Link(server.host, server.port)
    link.send(raw_tds.prelogin(encryption))
    kind, answer = link.message()
    if kind != raw_tds.REPLY:
        return link, None
    link.send(raw_tds.login7(user, password))
    kind, answer = link.message()
    return link, raw_tds.tokens(answer) if answer is not None else None


def batch(link, text):
    """A SQL batch (TDS 7.4: with its ALL_HEADERS) and the tokens of its answer."""
    headers = (22).to_bytes(4, "little") + (18).to_bytes(4, "little") + \
        (2).to_bytes(2, "little") + bytes(8) + (1).to_bytes(4, "little")
    link.send(raw_tds.packet(raw_tds.SQL_BATCH, headers + text.encode("utf-16-le")))
    return link.message()[1]


def wrong_password(checks, server):
    link, answer = login(server, password="not the password")
    errors = [t for t in answer or [] if t[0] == "error"]
    checks.equal(errors[:1], [("error", 18456, "Login failed for user 'tester'.")],
                 "a wrong password is answered with Msg 18456")
    checks.check(("loginack",) not in (answer or []), "a wrong password gets no LOGINACK")
    checks.check(link.closed(), "the server closes the connection after a failed login")
    link.close()
    link, answer = login(server, user="nobody")
    checks.check(answer is not None and ("error", 18456, "Login failed for user 'nobody'.")
                 in answer, "an unknown login is Msg 18456 too", answer)
    link.close()
    checks.match(r"nobody", server.log_text(), "the failed login is logged with its name")


def good_login(checks, server):
    link, answer = login(server)
    checks.check(answer is not None and ("loginack",) in answer,
                 "the right password logs in (control)", answer)
    return link


def not_granted(checks, server):
    link, answer = login(server, user="limited")
    checks.check(answer is not None and ("loginack",) in answer, "the limited login logs in",
                 answer)
    reply = raw_tds.tokens(batch(link, "EXEC xp_sha_quick 'abc'") or b"")
    denied = [t for t in reply if t[0] == "error" and t[1] == 229]
    checks.check(len(denied) == 1 and "EXECUTE permission was denied" in denied[0][2]
                 and "xp_sha_quick" in denied[0][2],
                 "a procedure not granted is Msg 229", reply)
    reply = raw_tds.tokens(batch(link, "DECLARE @r int; EXEC @r = xp_FileExists 'c:\\'; "
                                       "SELECT @r") or b"")
    checks.check(not [t for t in reply if t[0] == "error"],
                 "the granted procedure runs for the same login", reply)
    reply = raw_tds.tokens(batch(link, "EXEC sp_addextendedproc 'xp_x', '/tmp/x.so'") or b"")
    checks.check(any(t[0] == "error" for t in reply),
                 "sp_addextendedproc is refused to a login that is not admin", reply)
    link.close()


def messages(reply):
    return " ".join(t[2] for t in reply if t[0] in ("info", "error"))


def outside_roots(checks, server, allowed):
    """Files out of the allowed roots are refused with ERROR_ACCESS_DENIED before they are
    touched: a delete leaves them, a copy or an appended line creates nothing."""
    outside = os.path.join(server.home, "outside")
    os.makedirs(outside, exist_ok=True)
    with open(os.path.join(outside, "keep.txt"), "w") as f:
        f.write("keep")
    with open(os.path.join(server.drive_root, "c", "inside.txt"), "w") as f:
        f.write("inside")
    os.symlink(outside, os.path.join(server.drive_root, "c", "link"))
    link = good_login(checks, server)
    for what, folder in (("a Linux path outside the roots", outside),
                         ("a path that leaves the drive root through ..",
                          os.path.join(server.drive_root, "c", "..", "..", "outside")),
                         ("a path through a symbolic link out of the root", "c:\\link")):
        sep = "/" if folder.startswith("/") else "\\"
        reply = raw_tds.tokens(batch(link, f"EXEC xp_FileDelete '{folder}{sep}keep.txt'") or b"")
        checks.check("Code: 5." in messages(reply), f"{what}: xp_FileDelete is denied (error 5)",
                     reply)
        reply = raw_tds.tokens(batch(link, f"EXEC xp_FileCopy 'c:\\inside.txt', "
                                           f"'{folder}{sep}copy.txt'") or b"")
        checks.check("Code: 5." in messages(reply), f"{what}: xp_FileCopy is denied (error 5)",
                     reply)
        reply = raw_tds.tokens(batch(link, f"EXEC xp_FileAppendLine '{folder}{sep}new.txt', "
                                           "'x'") or b"")
        checks.check("xp_FileAppendLine: " in messages(reply),
                     f"{what}: xp_FileAppendLine fails", reply)
    checks.equal(sorted(os.listdir(outside)), ["keep.txt"],
                 "nothing was deleted or written outside the roots")
    inside = os.path.join(allowed, "allowed.txt")
    reply = raw_tds.tokens(batch(link, f"EXEC xp_FileAppendLine '{inside}', 'x'") or b"")
    checks.check(os.path.exists(inside), "a path under --allow-path is written", reply)
    link.close()


def buffers(checks, server):
    """A compression buffer belongs to the login that made it; each login's buffers are
    capped (the server runs with --buffer-limit 65536)."""
    owner = good_login(checks, server)
    other, answer = login(server, user="other")
    reply = raw_tds.tokens(batch(owner, "EXEC xp_ZCreate 'abc'") or b"")
    handles = [t[1] for t in reply if t[0] == "status"]
    checks.check(len(handles) == 1 and handles[0] > 0, "xp_ZCreate gives its login a handle",
                 reply)
    handle = handles[0] if handles else 1
    reply = raw_tds.tokens(batch(other, f"EXEC xp_ZCompress {handle}") or b"")
    checks.check(f"No compression buffer has the handle {handle}" in messages(reply)
                 and ("status", -1) in reply, "another login's handle is unknown to it", reply)
    reply = raw_tds.tokens(batch(owner, f"EXEC xp_ZCompress {handle}") or b"")
    checks.check(reply[:1] == [("result",)], "the owner compresses its buffer", reply)
    reply = raw_tds.tokens(batch(owner, "DECLARE @v varchar(max) = REPLICATE(CAST('x' AS "
                                        "varchar(max)), 100000); EXEC xp_ZCreate @v") or b"")
    checks.check("Out of memory" in messages(reply) and ("status", -1) in reply,
                 "a buffer over the login's cap is refused: Out of memory", reply)
    owner.close()
    other.close()


def before_login(checks, server):
    for what, data in (
            ("a SQL batch as the first message", raw_tds.packet(raw_tds.SQL_BATCH,
                                                                "SELECT 1".encode("utf-16-le"))),
            ("an RPC as the first message", raw_tds.packet(raw_tds.RPC, b"\xff\xff\x0a\x00")),
    ):
        link = raw_tds.Link(server.host, server.port)
        link.send(data)
        checks.check(link.closed(), f"{what} closes the connection unanswered")
        link.close()
    link = raw_tds.Link(server.host, server.port)
    link.send(raw_tds.prelogin(raw_tds.ENCRYPT_NOT_SUP))
    kind, _ = link.message()
    checks.equal(kind, raw_tds.REPLY, "PRELOGIN is answered")
    link.send(raw_tds.packet(raw_tds.SQL_BATCH, "SELECT 1".encode("utf-16-le")))
    checks.check(link.closed(), "a SQL batch after PRELOGIN, before LOGIN7, closes the connection")
    link.close()
    good_login(checks, server).close()


def will_not_encrypt(checks, server, where):
    """A client that offers no encryption (PRELOGIN ENCRYPT_NOT_SUP) where it is required."""
    link = raw_tds.Link(server.host, server.port)
    link.send(raw_tds.prelogin(raw_tds.ENCRYPT_NOT_SUP))
    kind, answer = link.message()
    refused = kind is None or raw_tds.prelogin_encryption(answer) == raw_tds.ENCRYPT_REQ
    checks.check(refused, f"{where}: PRELOGIN without encryption is answered 'required'",
                 answer)
    if kind is not None:
        try:
            link.send(raw_tds.login7("tester", fx.PASSWORD))
            kind, answer = link.message()
        except OSError:
            kind, answer = None, None
        checks.check(answer is None or ("loginack",) not in raw_tds.tokens(answer),
                     f"{where}: a plaintext LOGIN7 is not accepted", answer)
    link.close()
    if shutil.which("tsql"):
        for encryption, refused in (("off", True), ("require", False)):
            conf = test_tsql.write_conf(server.home, "tsql-" + encryption, encryption)
            done = test_tsql.run_tsql(server, conf, "SELECT 'in'\ngo\n")
            logged_in = done.returncode == 0 and "in" in done.stdout.split()
            checks.check(logged_in != refused, f"{where}: tsql with encryption = {encryption} "
                         + ("is refused" if refused else "logs in"), done.stdout + done.stderr)


def in_namespace(args, checks):
    """Runs inside `unshare -rn`: a listener on a test address of the namespace's own."""
    for command in (["ip", "link", "set", "lo", "up"],
                    ["ip", "addr", "add", TEST_ADDRESS + "/32", "dev", "lo"]):
        subprocess.run(command, check=True, capture_output=True)
    with fx.Server(args, checks, "namespace", listen=f"{TEST_ADDRESS}:0") as server:
        will_not_encrypt(checks, server, f"a listener on {TEST_ADDRESS} (default encryption)")


def non_loopback(args, checks):
    unshare = shutil.which("unshare")
    ip = shutil.which("ip")
    if not unshare or not ip:
        print("skipped: the non-loopback listener needs unshare and ip (util-linux, iproute2)")
        return
    probe = subprocess.run([unshare, "-rn", "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        print("skipped: the non-loopback listener needs a network namespace, and unshare -rn "
              f"is not allowed here: {probe.stderr.strip()}")
        return
    env = dict(os.environ, DUNMARROW_REFUSALS_IN_NAMESPACE="1")
    done = subprocess.run([unshare, "-rn", sys.executable, os.path.abspath(__file__),
                           *sys.argv[1:]], capture_output=True, text=True, timeout=180, env=env)
    for line in done.stdout.splitlines():
        if line.startswith("ok - "):
            checks.check(True, "[namespace] " + line[5:])
        elif line.startswith("FAIL - "):
            checks.check(False, "[namespace] " + line[7:])
        else:
            print(line)
    checks.equal(done.returncode, 0, "the namespace's checks end well", done.stderr)


def run(args, checks):
    if os.environ.get("DUNMARROW_REFUSALS_IN_NAMESPACE"):
        in_namespace(args, checks)
        return
    allowed = os.path.join(args.work, "allowed")
    shutil.rmtree(allowed, ignore_errors=True)
    os.makedirs(allowed)
    with fx.Server(args, checks, "refusals", logins={"tester": "all",
                                                     "limited": "xp_FileExists"}) as server:
        before_login(checks, server)
        wrong_password(checks, server)
        not_granted(checks, server)
    # Both roots given: the drive root and one more folder.
    roots = fx.Server(args, checks, "roots")
    roots.allow = [roots.drive_root, allowed]
    with roots as server:
        outside_roots(checks, server, allowed)
    with fx.Server(args, checks, "buffers", extra=["--buffer-limit", "65536"],
                   logins={"tester": "all", "other": "all"}) as server:
        buffers(checks, server)
    with fx.Server(args, checks, "required", extra=["--encrypt", "required"]) as server:
        will_not_encrypt(checks, server, "--encrypt required on loopback")
    non_loopback(args, checks)


if __name__ == "__main__":
    fx.main(run)
