"""FreeTDS tsql against `dunmarrow serve`: batches calling each of the 23 working procedures,
with TLS for the whole connection, for the login packet only, and without TLS."""

import os
import re
import subprocess
import zlib

import server_fixture as fx

# One batch per family; each value to check is selected as a row ('key', 'value').
BATCH = r"""
DECLARE @dir int, @none int
EXEC @dir = xp_DirExists 'c:\'
EXEC @none = xp_FileExists 'c:\no such file.txt'
SELECT 'dir_exists' AS k, CAST(@dir AS varchar(200)) AS v
SELECT 'no_file' AS k, CAST(@none AS varchar(200)) AS v
go
DECLARE @r int, @size int, @there int, @copied int, @gone int, @drives int, @temp varchar(260)
EXEC @r = xp_FileAppendLine 'c:\tsql.txt', 'first line'
EXEC xp_FileAppendLine 'c:\tsql.txt', 'second line'
EXEC @size = xp_FileSize 'c:\tsql.txt'
EXEC @there = xp_FileExists 'c:\tsql.txt'
EXEC @copied = xp_FileCopy 'c:\tsql.txt', 'c:\tsql copy.txt'
EXEC @gone = xp_FileDelete 'c:\tsql copy.txt'
EXEC @drives = xp_GetLogicalDrives
EXEC xp_GetTempFile @temp OUTPUT, 'c:\', 'tds'
DECLARE @tempdir varchar(260)
EXEC xp_GetTempDir @tempdir OUTPUT
SELECT 'temp_dir' AS k, @tempdir AS v
SELECT 'append' AS k, CAST(@r AS varchar(200)) AS v
SELECT 'size' AS k, CAST(@size AS varchar(200)) AS v
SELECT 'file_exists' AS k, CAST(@there AS varchar(200)) AS v
SELECT 'copied' AS k, CAST(@copied AS varchar(200)) AS v
SELECT 'deleted' AS k, CAST(@gone AS varchar(200)) AS v
SELECT 'drives' AS k, CAST(@drives AS varchar(200)) AS v
SELECT 'temp_file' AS k, @temp AS v
go
DECLARE @value varchar(40), @length int
EXEC xp_IniWriteKey 'c:\tsql.ini', 'Server', 'Name', 'dunmarrow-test'
EXEC @length = xp_IniReadKey 'c:\tsql.ini', 'SERVER', 'name', '', @value OUTPUT
SELECT 'ini' AS k, @value + '/' + CAST(@length AS varchar(10)) AS v
go
DECLARE @line nvarchar(80)
EXEC xp_FormatStr @line OUTPUT, '%-8s|%5d|%8.3f|%m', 'bolts', 42, 3.14159, $1234.5
SELECT 'format' AS k, @line AS v
go
DECLARE @text int, @stream int, @closed int
EXEC @text = xp_ZCreate 'to be or not to be, to be or not to be, to be or not to be'
EXEC xp_ZCompress @text
EXEC @stream = xp_ZCreate 0x78DACB48CDC9C957C84090003A2E067D
EXEC xp_ZDecompress @stream
EXEC @closed = xp_ZClose @text
EXEC xp_ZClose @stream
SELECT 'zclose' AS k, CAST(@closed AS varchar(200)) AS v
go
DECLARE @hex varchar(40), @same int, @cipher varbinary(64), @plain varbinary(64)
EXEC xp_sha_quick 'abc', @hex OUTPUT
EXEC @same = xp_sha_quick_compare 'abc', @hex
EXEC xp_symmetric_quick_encode 'RC4', 'my password', 'attack at dawn', @cipher OUTPUT
EXEC xp_symmetric_quick_decode 'RC4', 'my password', @cipher, @plain OUTPUT
SELECT 'sha1' AS k, @hex AS v
SELECT 'sha1_compare' AS k, CAST(@same AS varchar(200)) AS v
SELECT 'decoded' AS k, CAST(@plain AS varchar(64)) AS v
go
DECLARE @address varchar(20), @host varchar(100), @lost int, @percent int
EXEC xp_GetAddrByHost 'localhost', @address OUTPUT
EXEC xp_GetHostByAddr '127.0.0.1', @host OUTPUT
EXEC xp_Ping '127.0.0.1', 1000, 2, @LostPackets = @lost OUTPUT, @PercentLost = @percent OUTPUT
SELECT 'address' AS k, @address AS v
SELECT 'host' AS k, @host AS v
SELECT 'lost' AS k, CAST(@lost AS varchar(10)) + '/' + CAST(@percent AS varchar(10)) AS v
go
PRINT 'a printed message'
EXEC xp_FileExists 42
SELECT 'after_bad_call' AS k, 'still running' AS v
go
SELECT 'unicode' AS k, N'naïve 日本' AS v
go
EXEC no_such_procedure
go
"""

EXPECTED = {
    "dir_exists": "1",
    "no_file": "0",
    "append": "1",
    "size": "25",  # 'first line' CR LF and 'second line' CR LF
    "file_exists": "1",
    "copied": "1",
    "deleted": "1",
    "drives": "4",  # C: alone
    "ini": "dunmarrow-test/14",
    "format": "bolts   |   42|   3.142|$1,234.50",
    "zclose": "1",
    "sha1": "a9993e364706816aba3e25717850c26c9cd0d89d",
    "sha1_compare": "1",
    "decoded": "attack at dawn",
    "address": "127.0.0.1",
    "host": "localhost",
    "lost": "0/0",
    "after_bad_call": "still running",
    "unicode": "naïve 日本",
}

ZTEXT = b"to be or not to be, to be or not to be, to be or not to be"


def write_conf(work, name, encryption):
    path = os.path.join(work, name + ".conf")
    with open(path, "w") as f:
        f.write("[global]\n\ttds version = 7.4\n\tclient charset = UTF-8\n"
                f"\tencryption = {encryption}\n")
    return path


def run_tsql(server, conf, batch, user="tester", password=fx.PASSWORD, dump=None):
    env = dict(os.environ, FREETDSCONF=conf, HOME=server.home, LC_ALL="C.UTF-8")
    env.pop("TDSVER", None)
    if dump:
        env["TDSDUMP"] = dump
    return subprocess.run(["tsql", "-H", server.host, "-p", str(server.port), "-U", user,
                           "-P", password, "-o", "q"], input=batch, capture_output=True,
                          text=True, timeout=120, env=env)


def pairs(stdout):
    """The ('key', 'value') rows of the output, by key."""
    found = {}
    for line in stdout.splitlines():
        fields = line.split("\t")
        if len(fields) == 2 and fields[0] != "k":
            found[fields[0]] = fields[1]
    return found


def row_after(stdout, header, index):
    """The row under the index-th result whose only column is `header`."""
    lines = stdout.splitlines()
    starts = [i for i, line in enumerate(lines) if line.strip() == header]
    if len(starts) <= index or starts[index] + 1 >= len(lines):
        return None
    return lines[starts[index] + 1].strip()


def unhex(text):
    text = (text or "").strip()
    if text[:2].lower() == "0x":
        text = text[2:]
    try:
        return bytes.fromhex(text)
    except ValueError:
        return None


def families(server, checks, encryption):
    tag = f"[encryption = {encryption}]"
    conf = write_conf(server.home, "tsql-" + encryption, encryption)
    dump = os.path.join(server.home, f"tsql-{encryption}.dump")
    done = run_tsql(server, conf, BATCH, dump=dump)
    checks.equal(done.returncode, 0, f"{tag} tsql ends well")
    found = pairs(done.stdout)
    for key, value in EXPECTED.items():
        checks.equal(found.get(key), value, f"{tag} {key}")

    path = os.path.join(server.drive_root, "c", "tsql.txt")
    content = open(path, "rb").read() if os.path.exists(path) else None
    checks.equal(content, b"first line\r\nsecond line\r\n", f"{tag} c:\\tsql.txt written")
    checks.check(not os.path.exists(os.path.join(server.drive_root, "c", "tsql copy.txt")),
                 f"{tag} the copy is deleted")
    temp = found.get("temp_file", "")
    checks.match(r"(?i)^c:\\tds[0-9A-F]+\.tmp$", temp, f"{tag} xp_GetTempFile names a file in c:\\")
    if temp.startswith("c:\\"):
        checks.check(os.path.isfile(os.path.join(server.drive_root, "c", temp[3:])),
                     f"{tag} the temporary file exists")

    # The server puts the procedures' temporary folder under an allowed root.
    temp_dir = found.get("temp_dir", "")
    checks.check(temp_dir.startswith(server.drive_root + os.sep) and os.path.isdir(temp_dir),
                 f"{tag} xp_GetTempDir names a folder in the drive root", temp_dir)

    compressed = unhex(row_after(done.stdout, "Data", 0))
    checks.check(compressed is not None and zlib.decompress(compressed) == ZTEXT,
                 f"{tag} xp_ZCompress's row inflates to the text", repr(compressed))
    checks.equal(unhex(row_after(done.stdout, "Data", 1)), b"hello hello hello",
                 f"{tag} xp_ZDecompress's row")
    checks.check(len(re.findall(r"^127\.0\.0\.1\t", done.stdout, re.M)) == 2,
                 f"{tag} two echo rows from xp_Ping", done.stdout)

    checks.match(r"a printed message", done.stderr, f"{tag} PRINT reaches the client")
    checks.match(r"xp_FileExists: Invalid list of parameters", done.stderr,
                 f"{tag} the procedure's message reaches the client")
    checks.match(r"Msg 2812 .*\n?.*Could not find stored procedure 'no_such_procedure'",
                 done.stderr, f"{tag} an unknown procedure is error 2812")
    # The next run starts from an empty file and no INI file.
    open(path, "wb").close()
    ini = os.path.join(server.drive_root, "c", "tsql.ini")
    if os.path.exists(ini):
        os.remove(ini)
    return done


def run(args, checks):
    fx.need_program("tsql")
    with fx.Server(args, checks, "tsql") as server:
        for encryption in ("require", "request", "off"):
            families(server, checks, encryption)

        # TLS for the whole connection is visible in FreeTDS's dump of the login.
        conf = write_conf(server.home, "tsql-check", "require")
        dump = os.path.join(server.home, "tls.dump")
        done = run_tsql(server, conf, "SELECT 'tls' AS k, 'on' AS v\ngo\n", dump=dump)
        checks.equal(done.returncode, 0, "tsql with encryption = require logs in")
        trace = open(dump, errors="replace").read() if os.path.exists(dump) else ""
        checks.match(r"(?i)tls|handshake", trace, "FreeTDS's dump shows a TLS handshake")

        done = run_tsql(server, conf, "SELECT 1\ngo\n", password="wrong password")
        checks.check(done.returncode != 0, "a wrong password ends tsql with an error")
        checks.match(r"Msg 18456.*Login failed for user 'tester'", done.stdout + done.stderr,
                     "a wrong password is Msg 18456")

        # Each TDS version a FreeTDS client may ask for.
        for version in ("7.1", "7.2", "7.3"):
            conf = os.path.join(server.home, f"tsql-{version}.conf")
            with open(conf, "w") as f:
                f.write(f"[global]\n\ttds version = {version}\n\tclient charset = UTF-8\n")
            done = run_tsql(server, conf, "DECLARE @h varchar(40)\nEXEC xp_sha_quick 'abc', "
                            "@h OUTPUT\nSELECT 'sha1' AS k, @h AS v\ngo\n")
            checks.equal(pairs(done.stdout).get("sha1"), EXPECTED["sha1"],
                         f"TDS {version}: a batch with an OUTPUT variable")


if __name__ == "__main__":
    fx.main(run)
