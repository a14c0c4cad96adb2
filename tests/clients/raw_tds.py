"""TDS messages built by hand, for the refusals no real client will send: a request before the
login, a client that will not encrypt, and a login whose answer is read token by token."""

import socket
import struct

PRELOGIN, LOGIN7, SQL_BATCH, RPC, REPLY = 0x12, 0x10, 0x01, 0x03, 0x04
ENCRYPT_OFF, ENCRYPT_ON, ENCRYPT_NOT_SUP, ENCRYPT_REQ = 0, 1, 2, 3


def packet(kind, payload, status=0x01):
    return struct.pack(">BBHHBB", kind, status, 8 + len(payload), 0, 1, 0) + payload


def prelogin(encryption):
    options = [(0, bytes([16, 0, 0, 0, 0, 0])),  # VERSION
               (1, bytes([encryption])),          # ENCRYPTION
               (2, b"\x00"),                      # INSTOPT
               (3, b"\x00\x00\x00\x00"),          # THREADID
               (4, b"\x00")]                      # MARS
    offset = len(options) * 5 + 1
    head, body = b"", b""
    for token, data in options:
        head += struct.pack(">BHH", token, offset + len(body), len(data))
        body += data
    return packet(PRELOGIN, head + b"\xff" + body)


def login7(user, password, version=0x74000004):
    def scramble(text):
        return bytes(((b << 4 | b >> 4) & 0xFF) ^ 0xA5 for b in text.encode("utf-16-le"))

    fields = [("raw-client", None), (user, None), (password, scramble(password)),
              ("refusal test", None), ("127.0.0.1", None), ("", None), ("raw_tds", None),
              ("", None), ("master", None)]
    fixed = 94
    offsets, data = b"", b""
    for number, (text, encoded) in enumerate(fields):
        encoded = encoded if encoded is not None else text.encode("utf-16-le")
        if number == 5:  # the extension: unused
            offsets += struct.pack("<HH", 0, 0)
            continue
        offsets += struct.pack("<HH", fixed + len(data), len(text))
        data += encoded
    tail = b"\x00" * 6 + struct.pack("<HHHHHHI", fixed + len(data), 0, fixed + len(data), 0,
                                     fixed + len(data), 0, 0)
    head = struct.pack("<IIIIII", 0, version, 4096, 7, 1234, 0) + bytes([0xE0, 0x03, 0, 0]) + \
        struct.pack("<iI", 0, 0x409)
    body = head + offsets + tail
    assert len(body) == fixed
    message = body + data
    return packet(LOGIN7, struct.pack("<I", len(message)) + message[4:])


class Link:
    """A socket that reads whole TDS messages."""

    def __init__(self, host, port, timeout=10):
        self.sock = socket.create_connection((host, port), timeout=timeout)

    def send(self, data):
        self.sock.sendall(data)

    def _exactly(self, count):
        data = b""
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                return None
            data += chunk
        return data

    def message(self):
        """The payload of the next message and its type; (None, None) when the server closed
        the connection before a whole message."""
        payload, kind = b"", None
        while True:
            header = self._exactly(8)
            if header is None:
                return None, None
            kind, status, length = struct.unpack(">BBH", header[:4])
            body = self._exactly(length - 8)
            if body is None:
                return None, None
            payload += body
            if status & 0x01:
                return kind, payload

    def closed(self):
        """True when the server closes the connection (EOF or reset) without another byte."""
        try:
            return self.sock.recv(1) == b""
        except ConnectionResetError:
            return True
        except socket.timeout:
            return False

    def close(self):
        self.sock.close()


def prelogin_encryption(payload):
    """The ENCRYPTION option of a PRELOGIN answer."""
    at = 0
    while payload[at] != 0xFF:
        token, offset, length = struct.unpack(">BHH", payload[at:at + 5])
        if token == 1 and length >= 1:
            return payload[offset]
        at += 5
    return None


def tokens(payload):
    """The tokens of a login answer: ('error'|'info', number, text), ('loginack',),
    ('envchange', type), ('status', value), ('done', status), and ('result',) where a result
    set starts, which ends the list."""
    found, at = [], 0
    while at < len(payload):
        token = payload[at]
        if token in (0xAA, 0xAB):
            length, = struct.unpack("<H", payload[at + 1:at + 3])
            number, = struct.unpack("<i", payload[at + 3:at + 7])
            chars, = struct.unpack("<H", payload[at + 9:at + 11])
            text = payload[at + 11:at + 11 + 2 * chars].decode("utf-16-le")
            found.append(("error" if token == 0xAA else "info", number, text))
            at += 3 + length
        elif token in (0xAD, 0xE3):
            length, = struct.unpack("<H", payload[at + 1:at + 3])
            found.append(("loginack",) if token == 0xAD else ("envchange", payload[at + 3]))
            at += 3 + length
        elif token in (0xFD, 0xFE, 0xFF):
            status, = struct.unpack("<H", payload[at + 1:at + 3])
            found.append(("done", status))
            at += 13
        elif token == 0x79:  # RETURNSTATUS
            found.append(("status", struct.unpack("<i", payload[at + 1:at + 5])[0]))
            at += 5
        elif token == 0x81:  # COLMETADATA: rows follow, which these tests do not read
            found.append(("result",))
            break
        elif token == 0xAE:  # FEATUREEXTACK: features up to 0xFF
            at += 1
            while payload[at] != 0xFF:
                length, = struct.unpack("<I", payload[at + 1:at + 5])
                at += 5 + length
            at += 1
        else:
            found.append(("unknown", token))
            break
    return found
