"""pyodbc with FreeTDS's ODBC driver against `dunmarrow serve`: parameterised calls, return
status and OUTPUT parameters, binary and Unicode values, TLS, autocommit on and off."""

import glob
import hashlib
import os
import random
import subprocess
import zlib

import server_fixture as fx

SHA1_ABC = "a9993e364706816aba3e25717850c26c9cd0d89d"
# pyodbc sends a str as nvarchar: the procedure hashes its UTF-16 bytes.
SHA1_WIDE_ABC = hashlib.sha1("abc".encode("utf-16-le")).hexdigest()


def driver_path():
    """libtdsodbc.so as the tdsodbc package installed it, or as odbcinst registered it."""
    try:
        listed = subprocess.run(["dpkg", "-L", "tdsodbc"], capture_output=True, text=True)
        for line in listed.stdout.splitlines():
            if line.endswith("/libtdsodbc.so") and os.path.exists(line):
                return line
    except OSError:
        pass
    for path in sorted(glob.glob("/usr/lib/*/odbc/libtdsodbc.so")):
        return path
    try:
        listed = subprocess.run(["odbcinst", "-q", "-d", "-n", "FreeTDS"], capture_output=True,
                                text=True)
        for line in listed.stdout.splitlines():
            key, _, value = line.partition("=")
            if key.strip() == "Driver" and os.path.isabs(value.strip()):
                return value.strip()
    except OSError:
        pass
    raise fx.Skip("FreeTDS's ODBC driver libtdsodbc.so is not installed (package tdsodbc)")


def connection_string(driver, server, encryption, version="7.4", user="tester",
                      password=fx.PASSWORD):
    return (f"DRIVER={{{driver}}};SERVER={server.host};PORT={server.port};UID={user};"
            f"PWD={{{password}}};TDS_Version={version};Encryption={encryption};"
            "ClientCharset=UTF-8;DATABASE=master")


def result_rows(cursor):
    """The rows of every result set of the statement, as tuples."""
    rows = []
    while True:
        if cursor.description:
            rows += [tuple(row) for row in cursor.fetchall()]
        if not cursor.nextset():
            return rows


def calls(pyodbc, checks, server, cs, tag):
    cn = pyodbc.connect(cs, autocommit=True)
    cur = cn.cursor()

    # Parameters of the statement itself (the driver prepares it: sp_prepexec / sp_execute).
    cur.execute("SELECT ? AS a, ? AS b", 5, "x")
    checks.equal([tuple(r) for r in cur.fetchall()], [(5, "x")], f"{tag} SELECT ?, ?")
    for value in (1, 2):
        cur.execute("SELECT ? + 1 AS n", value)
        checks.equal(cur.fetchone()[0], value + 1, f"{tag} the prepared statement again ({value})")

    # The return status and OUTPUT parameters through variables of the batch.
    name = f"pyodbc-{tag.strip('[]')}-naïve-日本.txt"
    open(os.path.join(server.drive_root, "c", name), "w").close()
    cur.execute("DECLARE @r int; EXEC @r = xp_FileExists ?; SELECT @r", "c:\\" + name)
    checks.equal(result_rows(cur), [(1,)], f"{tag} xp_FileExists of a Unicode file name")
    cur.execute("DECLARE @o varchar(40); EXEC xp_sha_quick ?, @o OUTPUT; SELECT @o", "abc")
    checks.equal(result_rows(cur), [(SHA1_WIDE_ABC,)], f"{tag} xp_sha_quick's OUTPUT")

    # Binary in, binary out.
    data = bytes(random.Random(7).getrandbits(8) for _ in range(3000))
    cur.execute("DECLARE @o varbinary(20); EXEC xp_sha_quick ?, @o OUTPUT, 'bin'; SELECT @o",
                data)
    checks.equal(result_rows(cur), [(hashlib.sha1(data).digest(),)],
                 f"{tag} SHA-1 of a binary parameter, as bytes")
    # Over 8000 bytes and 4000 characters: pyodbc binds them as long types, which FreeTDS
    # sends as (max) types, because sp_datatype_info_100 told it the limits of the short ones
    # (without that answer FreeTDS cut such values silently).
    big = b"".join(b"line %05d of a buffer\n" % i for i in range(2000))
    cur.execute("DECLARE @h int; EXEC @h = xp_ZCreate ?; EXEC xp_ZCompress @h; "
                "EXEC xp_ZClose @h", big)
    rows = result_rows(cur)
    checks.check(len(rows) == 1 and zlib.decompress(rows[0][0]) == big,
                 f"{tag} xp_ZCompress of a (max) binary parameter inflates to it",
                 repr(rows)[:200])
    long_text = "日本 " * 2000
    cur.execute("SELECT DATALENGTH(?) AS n", long_text)
    checks.equal(result_rows(cur), [(len(long_text) * 2,)],
                 f"{tag} a text parameter of 6000 characters arrives whole")
    cur.execute("DECLARE @c varbinary(200), @p varbinary(200); "
                "EXEC xp_symmetric_quick_encode 'RC2', ?, ?, @c OUTPUT; "
                "EXEC xp_symmetric_quick_decode 'RC2', ?, @c, @p OUTPUT; SELECT @p",
                "pässword", data[:100], "pässword")
    checks.equal(result_rows(cur), [(data[:100],)], f"{tag} RC2 encode and decode round trip")

    # Unicode values.
    cur.execute("xp_FileAppendLine ?, ?", "c:\\" + name, "héllo 日本")
    with open(os.path.join(server.drive_root, "c", name), "rb") as f:
        checks.equal(f.read(), "héllo 日本\r\n".encode("utf-16-le"),
                     f"{tag} xp_FileAppendLine writes the Unicode value")
    cur.execute("DECLARE @o nvarchar(100); EXEC xp_FormatStr @o OUTPUT, ?, ?, ?; SELECT @o",
                "%s:%d", "日本", 7)
    checks.equal(result_rows(cur), [("日本:7",)], f"{tag} xp_FormatStr with Unicode text")

    # ODBC's call escape: an RPC by name, its rows.
    cur.execute("{CALL xp_Ping(?)}", "127.0.0.1")
    rows = result_rows(cur)
    checks.equal([r[0] for r in rows], ["127.0.0.1"] * 4, f"{tag} {{CALL xp_Ping(?)}} rows")

    # Messages and errors.
    cur.execute("EXEC xp_FileExists 42")
    checks.check(any("Invalid list of parameters" in str(m) for m in cur.messages),
                 f"{tag} the procedure's message is in cursor.messages", cur.messages)
    result_rows(cur)
    try:
        cur.execute("EXEC no_such_procedure")
        checks.check(False, f"{tag} an unknown procedure raises", "no error")
    except pyodbc.Error as error:
        checks.match(r"Could not find stored procedure 'no_such_procedure'", str(error),
                     f"{tag} an unknown procedure raises")
    cur.execute("SELECT @@TRANCOUNT")
    checks.equal(cur.fetchone()[0], 0, f"{tag} autocommit: no transaction")
    cn.close()


def return_status(checks, cs, tag):
    """`{? = CALL ...}` with the return status and an OUTPUT parameter bound as output."""
    import odbc_call

    odbc = odbc_call.Odbc(cs)
    try:
        outputs, _, _ = odbc.call("{? = CALL xp_sha_quick(?, ?)}",
                                  [("out", 0, "int"), ("in", "abc", "text"), ("out", 40, "text")])
        checks.equal(outputs[0::2], [1, SHA1_ABC],
                     f"{tag} {{? = CALL xp_sha_quick(?, ?)}}: return status and OUTPUT")
        outputs, _, _ = odbc.call("{? = CALL xp_DirExists(?)}",
                                  [("out", 0, "int"), ("in", "c:\\", "wtext")])
        checks.equal(outputs[0], 1, f"{tag} {{? = CALL xp_DirExists(?)}}: the return status")
        outputs, _, _ = odbc.call("{? = CALL xp_FormatStr(?, ?, ?)}",
                                  [("out", 0, "int"), ("out", 50, "wtext"),
                                   ("in", "%s/", "text"), ("in", "日本", "wtext")])
        checks.equal(outputs[1], "日本/", f"{tag} a Unicode OUTPUT parameter")
        outputs, rows, _ = odbc.call("{? = CALL xp_ZCreate(?)}",
                                     [("out", 0, "int"), ("in", b"\x00\x01\xfe\xff", "binary")])
        handle = outputs[0]
        checks.check(isinstance(handle, int) and handle > 0,
                     f"{tag} xp_ZCreate of binary data gives a handle", handle)
        outputs, _, _ = odbc.call("{? = CALL xp_ZClose(?)}", [("out", 0, "int"),
                                                               ("in", handle or 0, "int")])
        checks.equal(outputs[0], 1, f"{tag} xp_ZClose of the handle")
    finally:
        odbc.close()


def transactions(pyodbc, checks, cs, tag):
    """autocommit off: the driver begins a transaction (a TM request from TDS 7.2 on). Each
    result is read to its end: the driver changes the transaction state only when idle."""
    cn = pyodbc.connect(cs, autocommit=False)
    cur = cn.cursor()
    cur.execute("SELECT @@TRANCOUNT")
    checks.equal(cur.fetchall()[0][0], 1, f"{tag} autocommit off: in a transaction")
    cur.execute("DECLARE @o varchar(40); EXEC xp_sha_quick ?, @o OUTPUT; SELECT @o", "abc")
    checks.equal(result_rows(cur), [(SHA1_WIDE_ABC,)], f"{tag} a call inside the transaction")
    cn.commit()
    cur.execute("SELECT @@TRANCOUNT")
    checks.equal(cur.fetchall()[0][0], 1, f"{tag} after commit: the next transaction")
    cn.rollback()
    cur.execute("SELECT @@TRANCOUNT")
    checks.equal(cur.fetchall()[0][0], 1, f"{tag} after rollback: the next transaction")
    cn.autocommit = True
    cur.execute("SELECT @@TRANCOUNT")
    checks.equal(cur.fetchall()[0][0], 0, f"{tag} autocommit back on: no transaction")
    cn.close()


def run(args, checks):
    try:
        import pyodbc
    except ImportError:
        raise fx.Skip("pyodbc is not installed for /usr/bin/python3 (package python3-pyodbc)")
    driver = driver_path()
    print(f"FreeTDS ODBC driver: {driver}; pyodbc {pyodbc.version}")
    with fx.Server(args, checks, "pyodbc") as server:
        for encryption in ("require", "off"):
            cs = connection_string(driver, server, encryption)
            calls(pyodbc, checks, server, cs, f"[{encryption}]")
            return_status(checks, cs, f"[{encryption}]")
        for version in ("7.1", "7.2", "7.3"):
            return_status(checks, connection_string(driver, server, "request", version),
                          f"[TDS {version}]")
        transactions(pyodbc, checks, connection_string(driver, server, "require"), "[TDS 7.4]")
        transactions(pyodbc, checks, connection_string(driver, server, "request", "7.2"),
                     "[TDS 7.2, login packet encrypted]")
        # Before 7.2 the driver ends transactions with IF @@TRANCOUNT > 0 ... batches.
        transactions(pyodbc, checks, connection_string(driver, server, "off", "7.1"),
                     "[TDS 7.1]")


if __name__ == "__main__":
    fx.main(run)
