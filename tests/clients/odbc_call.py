"""ODBC procedure calls with OUTPUT parameters, which pyodbc cannot bind.

`{? = CALL proc(?, ?)}` through unixODBC's C interface with ctypes: the return status and the
OUTPUT parameters are bound as output, the driver (FreeTDS) sends an RPC by name and fills them
in when the results have been read.
"""

import ctypes
import ctypes.util

SQL_HANDLE_ENV, SQL_HANDLE_DBC, SQL_HANDLE_STMT = 1, 2, 3
SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3 = 200, 3
SQL_DRIVER_NOPROMPT = 0
SQL_NTS = -3
SQL_NULL_DATA = -1
SQL_NO_DATA = 100
SQL_PARAM_INPUT, SQL_PARAM_OUTPUT, SQL_PARAM_INPUT_OUTPUT = 1, 4, 2
SQL_C_CHAR, SQL_C_SLONG, SQL_C_BINARY, SQL_C_WCHAR = 1, -16, -2, -8
SQL_INTEGER, SQL_VARCHAR, SQL_VARBINARY, SQL_WVARCHAR = 4, 12, -3, -9


class OdbcError(Exception):
    pass


class Odbc:
    """One connection through the driver manager; `call` runs one procedure call."""

    def __init__(self, connection_string):
        path = ctypes.util.find_library("odbc") or "libodbc.so.2"
        self.lib = ctypes.CDLL(path)
        for name in ("SQLAllocHandle", "SQLSetEnvAttr", "SQLDriverConnect", "SQLGetDiagRec",
                     "SQLExecDirect", "SQLBindParameter", "SQLNumResultCols", "SQLFetch",
                     "SQLGetData", "SQLMoreResults", "SQLFreeHandle", "SQLDisconnect"):
            getattr(self.lib, name).restype = ctypes.c_short  # SQLRETURN
        self.env = ctypes.c_void_p()
        self.dbc = ctypes.c_void_p()
        self._ok(self.lib.SQLAllocHandle(SQL_HANDLE_ENV, None, ctypes.byref(self.env)), None, 0,
                 "SQLAllocHandle(ENV)")
        self.lib.SQLSetEnvAttr(self.env, SQL_ATTR_ODBC_VERSION, ctypes.c_void_p(SQL_OV_ODBC3), 0)
        self._ok(self.lib.SQLAllocHandle(SQL_HANDLE_DBC, self.env, ctypes.byref(self.dbc)),
                 self.env, SQL_HANDLE_ENV, "SQLAllocHandle(DBC)")
        text = connection_string.encode()
        self._ok(self.lib.SQLDriverConnect(self.dbc, None, text, len(text), None, 0, None,
                                           SQL_DRIVER_NOPROMPT), self.dbc, SQL_HANDLE_DBC,
                 "SQLDriverConnect")

    def _diagnostics(self, handle, kind):
        out = []
        state = ctypes.create_string_buffer(6)
        native = ctypes.c_int()
        message = ctypes.create_string_buffer(1024)
        length = ctypes.c_short()
        for record in range(1, 10):
            if self.lib.SQLGetDiagRec(kind, handle, record, state, ctypes.byref(native), message,
                                      len(message), ctypes.byref(length)) not in (0, 1):
                break
            out.append(f"[{state.value.decode()}] ({native.value}) "
                       f"{message.value.decode(errors='replace')}")
        return out

    def _ok(self, rc, handle, kind, what):
        if rc not in (0, 1):  # SQL_SUCCESS, SQL_SUCCESS_WITH_INFO
            details = self._diagnostics(handle, kind) if handle is not None else []
            raise OdbcError(f"{what} returned {rc}: " + "; ".join(details))

    def call(self, sql, params):
        """Runs `sql` with `params`, a list of (direction, value or output size, kind) where kind
        is 'int', 'text', 'wtext' or 'binary'. Returns (output values by position, rows of
        every result set as lists of text, diagnostics)."""
        stmt = ctypes.c_void_p()
        self._ok(self.lib.SQLAllocHandle(SQL_HANDLE_STMT, self.dbc, ctypes.byref(stmt)), self.dbc,
                 SQL_HANDLE_DBC, "SQLAllocHandle(STMT)")
        keep = []
        try:
            for number, (direction, value, kind) in enumerate(params, 1):
                keep.append(self._bind(stmt, number, direction, value, kind))
            text = sql.encode()
            rc = self.lib.SQLExecDirect(stmt, text, len(text))
            if rc == SQL_NO_DATA:  # nothing but the return status and OUTPUT parameters
                rows = []
            else:
                self._ok(rc, stmt, SQL_HANDLE_STMT, "SQLExecDirect")
                rows = self._all_rows(stmt)
            notes = self._diagnostics(stmt, SQL_HANDLE_STMT)
            outputs = [self._value(kind, buffer, indicator)
                       for (buffer, indicator, kind) in keep]
            return outputs, rows, notes
        finally:
            self.lib.SQLFreeHandle(SQL_HANDLE_STMT, stmt)

    def _bind(self, stmt, number, direction, value, kind):
        odbc_direction = {"in": SQL_PARAM_INPUT, "out": SQL_PARAM_OUTPUT,
                          "inout": SQL_PARAM_INPUT_OUTPUT}[direction]
        indicator = ctypes.c_long()
        if kind == "int":
            buffer = ctypes.c_int(value if direction != "out" else 0)
            c_type, sql_type, size = SQL_C_SLONG, SQL_INTEGER, 0
        elif kind == "wtext":
            data = (value if direction != "out" else "").encode("utf-16-le")
            size = max(len(data) // 2, 1) if direction != "out" else value
            buffer = ctypes.create_string_buffer(data, max(len(data), size * 2) + 2)
            c_type, sql_type = SQL_C_WCHAR, SQL_WVARCHAR
            indicator.value = len(data)
        else:
            data = value if kind == "binary" else value.encode() if direction != "out" else b""
            if direction == "out":
                data, size = b"", value
            else:
                size = max(len(data), 1)
            buffer = ctypes.create_string_buffer(data, max(len(data), size) + 1)
            c_type = SQL_C_BINARY if kind == "binary" else SQL_C_CHAR
            sql_type = SQL_VARBINARY if kind == "binary" else SQL_VARCHAR
            indicator.value = len(data)
        if direction == "out":
            indicator.value = SQL_NULL_DATA
        rc = self.lib.SQLBindParameter(stmt, number, odbc_direction, c_type, sql_type,
                                       ctypes.c_ulong(size), 0, ctypes.byref(buffer),
                                       ctypes.c_long(ctypes.sizeof(buffer)),
                                       ctypes.byref(indicator))
        self._ok(rc, stmt, SQL_HANDLE_STMT, f"SQLBindParameter({number})")
        return buffer, indicator, kind

    @staticmethod
    def _value(kind, buffer, indicator):
        if indicator.value == SQL_NULL_DATA:
            return None
        if kind == "int":
            return buffer.value
        raw = buffer.raw[:indicator.value]
        if kind == "wtext":
            return raw.decode("utf-16-le")
        return raw if kind == "binary" else raw.decode()

    def _all_rows(self, stmt):
        rows = []
        while True:
            columns = ctypes.c_short()
            self.lib.SQLNumResultCols(stmt, ctypes.byref(columns))
            while columns.value and self.lib.SQLFetch(stmt) in (0, 1):
                row = []
                for column in range(1, columns.value + 1):
                    cell = ctypes.create_string_buffer(8192)
                    got = ctypes.c_long()
                    self.lib.SQLGetData(stmt, column, SQL_C_CHAR, cell, len(cell),
                                        ctypes.byref(got))
                    row.append(None if got.value == SQL_NULL_DATA else cell.value.decode())
                rows.append(row)
            rc = self.lib.SQLMoreResults(stmt)
            if rc == SQL_NO_DATA:
                return rows
            self._ok(rc, stmt, SQL_HANDLE_STMT, "SQLMoreResults")

    def close(self):
        self.lib.SQLDisconnect(self.dbc)
        self.lib.SQLFreeHandle(SQL_HANDLE_DBC, self.dbc)
        self.lib.SQLFreeHandle(SQL_HANDLE_ENV, self.env)
