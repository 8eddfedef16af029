#!/usr/bin/env python3
"""A scripted TDS 7 server for the SQL Server and Sybase driver tests (standard library only).

Usage: tds_peer.py --port-file F --database FILE --journal FILE [--user NAME:PASSWORD ...]
                   [--parent PID]

Listens on 127.0.0.1 at a port the system chooses, writes the port to the port file once it
listens, and serves every connection in a thread of its own until it is killed or, with
--parent, until the process that started it is gone. It speaks the
server side of TDS 7.0 to 7.2 as the FreeTDS client libraries use it:

  pre-login      answered without encryption (ENCRYPT_NOT_SUP)
  login          the user and password are checked against the --user list (every login when
                 the list is empty); refused with message 18456, integrated security with 18452
  SQL batches    run on SQLite (one connection per client, the file given by --database), after
                 mapping what the drivers send: SET options, "use", the transaction batches,
                 @@version, @@IDENTITY, @@TRANCOUNT, CONVERT, 0x... and 'yyyymmdd hh:mm:ss:mmm'
                 literals, "dbo." prefixes; sysobjects, sysusers, syscolumns, systypes and
                 sysindexes are views; a statement SQLite cannot run is answered from the
                 canned answers (see "kwpeer canned") or refused with message 102
  RPC            the peer's own procedures (PROCEDURES below), with result sets, return values
                 and a return status; they can also be called by name in a batch
  attention      answered with DONE and the attention flag

Column types come from the declared types of the tables (CREATE TABLE keeps the T-SQL type
names as SQLite declared types, "identity" and "not null" folded into them), from CONVERT or
CAST in the select list, or from the values themselves.

Control batches (texts that begin with "kwpeer "):
  kwpeer drop                  closes this connection at once, without an answer
  kwpeer kill SPID             closes the connection of that spid
  kwpeer killall               closes every other connection
  kwpeer messages JSON         sends the messages of the JSON list ({"number", "class",
                               "state", "text", "line", "proc"}) and a DONE (with the error
                               flag when one has a class above 10)
  kwpeer canned JSON           adds a canned answer {"contains": TEXT, "columns": [[NAME,
                               TYPE], ...], "rows": [[...], ...]} for statements that contain
                               TEXT and that SQLite cannot run
  kwpeer set NAME VALUE        peer options: xp_msver on|off lists an object named xp_msver

Every request is written to the journal as one JSON line ({"spid", "kind", ...}) and flushed
before the answer goes out, so a client that has its answer finds its request there.
"""
import argparse
import datetime
import decimal
import json
import os
import re
import socket
import sqlite3
import struct
import sys
import threading
import time

# Packet types.
PKT_BATCH = 0x01
PKT_RPC = 0x03
PKT_REPLY = 0x04
PKT_ATTENTION = 0x06
PKT_LOGIN7 = 0x10
PKT_PRELOGIN = 0x12

# Token types.
TOK_COLMETADATA = 0x81
TOK_ROW = 0xD1
TOK_DONE = 0xFD
TOK_DONEPROC = 0xFE
TOK_DONEINPROC = 0xFF
TOK_ENVCHANGE = 0xE3
TOK_LOGINACK = 0xAD
TOK_INFO = 0xAB
TOK_ERROR = 0xAA
TOK_RETURNSTATUS = 0x79
TOK_RETURNVALUE = 0xAC

DONE_MORE = 0x01
DONE_ERROR = 0x02
DONE_COUNT = 0x10
DONE_ATTN = 0x20

# TDS data types.
T_IMAGE = 0x22
T_TEXT = 0x23
T_VARBINARY = 0x25
T_INTN = 0x26
T_VARCHAR = 0x27
T_BINARY = 0x2D
T_CHAR = 0x2F
T_INT1 = 0x30
T_BIT = 0x32
T_INT2 = 0x34
T_INT4 = 0x38
T_DATETIM4 = 0x3A
T_FLT4 = 0x3B
T_MONEY = 0x3C
T_DATETIME = 0x3D
T_FLT8 = 0x3E
T_NTEXT = 0x63
T_BITN = 0x68
T_DECIMALN = 0x6A
T_NUMERICN = 0x6C
T_FLTN = 0x6D
T_MONEYN = 0x6E
T_DATETIMN = 0x6F
T_MONEY4 = 0x7A
T_INT8 = 0x7F
T_BIGVARBINARY = 0xA5
T_BIGVARCHAR = 0xA7
T_BIGBINARY = 0xAD
T_BIGCHAR = 0xAF
T_NVARCHAR = 0xE7
T_NCHAR = 0xEF

FIXED_SIZES = {T_INT1: 1, T_BIT: 1, T_INT2: 2, T_INT4: 4, T_DATETIM4: 4, T_FLT4: 4, T_MONEY: 8,
               T_DATETIME: 8, T_FLT8: 8, T_MONEY4: 4, T_INT8: 8}
BYTELEN_TYPES = (T_INTN, T_BITN, T_FLTN, T_MONEYN, T_DATETIMN, 0x24)
USHORTLEN_TYPES = (T_BIGVARBINARY, T_BIGVARCHAR, T_BIGBINARY, T_BIGCHAR, T_NVARCHAR, T_NCHAR)
OLD_BYTELEN_TYPES = (T_VARBINARY, T_VARCHAR, T_BINARY, T_CHAR)
LONGLEN_TYPES = (T_TEXT, T_IMAGE, T_NTEXT)
CHAR_TYPES = (T_BIGVARCHAR, T_BIGCHAR, T_TEXT, T_VARCHAR, T_CHAR)
UNICODE_TYPES = (T_NVARCHAR, T_NCHAR, T_NTEXT)

# Latin1_General, case-insensitive: code page 1252.
COLLATION = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])
SERVER_CODEPAGE = "cp1252"
SERVER_NAME = "KWPEER"
VERSION_TEXT = ("Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) \n\tSep 24 2019 13:48:23 \n\t"
                "Copyright (C) 2019 Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux\n")
BASE_DATE = datetime.datetime(1900, 1, 1)


class ClientGone(Exception):
    pass


class PeerError(Exception):
    """A server message that ends the statement (class above 10)."""

    def __init__(self, number, text, cls=16, state=1, line=1, proc=""):
        super().__init__(text)
        self.number, self.text, self.cls, self.state, self.line, self.proc = number, text, cls, state, line, proc


# --------------------------------------------------------------------------------------------
# Column types


class Col:
    """A result column: its TDS type and what the type info carries."""

    def __init__(self, name, tds, size=0, prec=0, scale=0, nullable=True, identity=False, usertype=0):
        self.name, self.tds, self.size, self.prec, self.scale = name, tds, size, prec, scale
        self.nullable, self.identity, self.usertype = nullable, identity, usertype


def decimal_size(prec):
    if prec <= 9:
        return 5
    if prec <= 19:
        return 9
    if prec <= 28:
        return 13
    return 17


TYPE_WORDS = re.compile(r"^\s*((?:identity|kwnotnull)\s+)*([a-z_]+)\s*(?:\(\s*(\d+)\s*(?:,\s*(\d+)\s*)?\))?\s*$", re.I)


def parse_decltype(decl):
    """(base type, n1, n2, identity, notnull) of a declared type, or None."""
    if not decl:
        return None
    m = TYPE_WORDS.match(decl)
    if not m:
        return None
    words = decl.lower().split()
    base = m.group(2).lower()
    return (TYPE_ALIASES.get(base, base), int(m.group(3)) if m.group(3) else None,
            int(m.group(4)) if m.group(4) else None, "identity" in words[:-1] or words[0] == "identity",
            "kwnotnull" in words)


def col_for_type(name, base, n1=None, n2=None, identity=False, notnull=False):
    """The Col of a T-SQL type name; None for a name the peer does not know."""
    nullable = not (identity or notnull)
    fixed = not nullable
    if base == "int":
        return Col(name, T_INT4 if fixed else T_INTN, 4, nullable=nullable, identity=identity)
    if base == "smallint":
        return Col(name, T_INT2 if fixed else T_INTN, 2, nullable=nullable, identity=identity)
    if base == "tinyint":
        return Col(name, T_INT1 if fixed else T_INTN, 1, nullable=nullable, identity=identity)
    if base == "bigint":
        return Col(name, T_INT8 if fixed else T_INTN, 8, nullable=nullable, identity=identity)
    if base == "bit":
        return Col(name, T_BIT if fixed else T_BITN, 1, nullable=nullable)
    if base == "real":
        return Col(name, T_FLT4 if fixed else T_FLTN, 4, nullable=nullable)
    if base == "float":
        return Col(name, T_FLT8 if fixed else T_FLTN, 8, nullable=nullable)
    if base == "money":
        return Col(name, T_MONEY if fixed else T_MONEYN, 8, nullable=nullable)
    if base == "smallmoney":
        return Col(name, T_MONEY4 if fixed else T_MONEYN, 4, nullable=nullable)
    if base == "datetime":
        return Col(name, T_DATETIME if fixed else T_DATETIMN, 8, nullable=nullable)
    if base == "smalldatetime":
        return Col(name, T_DATETIM4 if fixed else T_DATETIMN, 4, nullable=nullable)
    if base in ("decimal", "numeric"):
        prec = n1 or 18
        scale = n2 or 0
        return Col(name, T_DECIMALN if base == "decimal" else T_NUMERICN, decimal_size(prec), prec, scale,
                   nullable=nullable, identity=identity)
    if base in ("char", "varchar", "binary", "varbinary", "nchar", "nvarchar"):
        size = n1 or 1
        tds = {"char": T_BIGCHAR, "varchar": T_BIGVARCHAR, "binary": T_BIGBINARY, "varbinary": T_BIGVARBINARY,
               "nchar": T_NCHAR, "nvarchar": T_NVARCHAR}[base]
        if tds in UNICODE_TYPES:
            size *= 2
        return Col(name, tds, size, nullable=nullable)
    if base == "text":
        return Col(name, T_TEXT, 0x7FFFFFFF, nullable=True)
    if base == "image":
        return Col(name, T_IMAGE, 0x7FFFFFFF, nullable=True)
    return None


def col_for_value(name, value):
    if isinstance(value, bool) or isinstance(value, int):
        return Col(name, T_INTN, 4 if -2**31 <= value < 2**31 else 8)
    if isinstance(value, float):
        return Col(name, T_FLTN, 8)
    if isinstance(value, (bytes, bytearray, memoryview)):
        return Col(name, T_BIGVARBINARY, max(len(value), 1))
    text = "" if value is None else str(value)
    return Col(name, T_BIGVARCHAR, max(len(text.encode(SERVER_CODEPAGE, "replace")), 1))


# --------------------------------------------------------------------------------------------
# Values on the wire


def b_varchar(text):
    data = text.encode("utf-16-le")
    return bytes([len(text)]) + data


def us_varchar(text):
    data = text.encode("utf-16-le")
    return struct.pack("<H", len(data) // 2) + data


def to_datetime(value):
    """A Python datetime from what SQLite holds (ISO text, a time alone, a number of days)."""
    if value is None:
        return None
    if isinstance(value, datetime.datetime):
        return value
    if isinstance(value, str) and not value.strip():
        # The server reads an empty text as its base date.
        return BASE_DATE
    if isinstance(value, (int, float)):
        return BASE_DATE + datetime.timedelta(days=value)
    text = str(value).strip()
    for fmt in ("%Y-%m-%d %H:%M:%S.%f", "%Y-%m-%d %H:%M:%S", "%Y-%m-%d", "%Y-%m-%dT%H:%M:%S.%f",
                "%Y-%m-%dT%H:%M:%S", "%H:%M:%S.%f", "%H:%M:%S"):
        try:
            parsed = datetime.datetime.strptime(text, fmt)
        except ValueError:
            continue
        if fmt.startswith("%H"):
            parsed = parsed.replace(year=1900, month=1, day=1)
        return parsed
    raise PeerError(241, "Conversion failed when converting date and/or time from character string.")


def datetime_parts(value):
    """(days since 1900-01-01, 1/300-second ticks) of a datetime, rounded as the server does."""
    delta = value - BASE_DATE
    ms = delta.seconds * 1000 + delta.microseconds // 1000
    ticks = (ms * 300 + 500) // 1000
    days = delta.days
    if ticks >= 300 * 86400:
        days += 1
        ticks -= 300 * 86400
    return days, ticks


def from_datetime_parts(days, ticks):
    return BASE_DATE + datetime.timedelta(days=days, milliseconds=(ticks * 1000 + 150) // 300)


def iso(value):
    return value.strftime("%Y-%m-%d %H:%M:%S.") + "%03d" % (value.microsecond // 1000)


def encode_text(col, value):
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    text = value if isinstance(value, str) else fmt_number(value)
    if col.tds in UNICODE_TYPES:
        return text.encode("utf-16-le")
    return text.encode(SERVER_CODEPAGE, "replace")


def fmt_number(value):
    if isinstance(value, float) and value == int(value) and abs(value) < 1e15:
        return str(int(value))
    return str(value)


def encode_value(col, value):
    t = col.tds
    if t in FIXED_SIZES:
        if value is None:
            raise PeerError(515, "Cannot insert the value NULL into a column that does not allow nulls.")
        return encode_fixed(t, value)
    if t in (T_INTN, T_BITN, T_FLTN, T_MONEYN, T_DATETIMN):
        if value is None:
            return b"\x00"
        fixed = {T_INTN: {1: T_INT1, 2: T_INT2, 4: T_INT4, 8: T_INT8}, T_BITN: {1: T_BIT},
                 T_FLTN: {4: T_FLT4, 8: T_FLT8}, T_MONEYN: {4: T_MONEY4, 8: T_MONEY},
                 T_DATETIMN: {4: T_DATETIM4, 8: T_DATETIME}}[t][col.size]
        data = encode_fixed(fixed, value)
        return bytes([len(data)]) + data
    if t in (T_DECIMALN, T_NUMERICN):
        if value is None:
            return b"\x00"
        scaled = int((decimal.Decimal(str(value)) * (10 ** col.scale)).to_integral_value(decimal.ROUND_HALF_UP))
        size = col.size
        body = bytes([1 if scaled >= 0 else 0]) + abs(scaled).to_bytes(size - 1, "little")
        return bytes([size]) + body
    if t in USHORTLEN_TYPES:
        if value is None:
            return b"\xff\xff"
        data = encode_text(col, value)
        if t in (T_BIGCHAR, T_NCHAR) and len(data) < col.size and not getattr(col, "overlong", False):
            data += (b" " if t == T_BIGCHAR else " ".encode("utf-16-le")) * ((col.size - len(data)) // (1 if t == T_BIGCHAR else 2))
        if t == T_BIGBINARY and len(data) < col.size:
            data += b"\x00" * (col.size - len(data))
        return struct.pack("<H", len(data)) + data
    if t in LONGLEN_TYPES:
        if value is None:
            return b"\x00"
        data = encode_text(col, value)
        return bytes([16]) + b"\x01" * 16 + b"\x00" * 8 + struct.pack("<i", len(data)) + data
    raise PeerError(50000, "peer cannot send type 0x%02x" % t)


def encode_fixed(t, value):
    if t == T_INT1:
        return struct.pack("<B", int(value) & 0xFF)
    if t == T_BIT:
        return b"\x01" if int(value) else b"\x00"
    if t == T_INT2:
        return struct.pack("<h", int(value))
    if t == T_INT4:
        return struct.pack("<i", int(value))
    if t == T_INT8:
        return struct.pack("<q", int(value))
    if t == T_FLT4:
        return struct.pack("<f", float(value))
    if t == T_FLT8:
        return struct.pack("<d", float(value))
    if t == T_MONEY:
        scaled = int((decimal.Decimal(str(value)) * 10000).to_integral_value(decimal.ROUND_HALF_UP))
        return struct.pack("<iI", scaled >> 32, scaled & 0xFFFFFFFF)
    if t == T_MONEY4:
        scaled = int((decimal.Decimal(str(value)) * 10000).to_integral_value(decimal.ROUND_HALF_UP))
        return struct.pack("<i", scaled)
    if t == T_DATETIME:
        days, ticks = datetime_parts(to_datetime(value))
        return struct.pack("<iI", days, ticks)
    if t == T_DATETIM4:
        v = to_datetime(value)
        delta = v - BASE_DATE
        minutes = (delta.seconds + 30) // 60
        return struct.pack("<HH", delta.days, minutes)
    raise PeerError(50000, "peer cannot send type 0x%02x" % t)


def type_info(col, tds_version):
    t = col.tds
    out = bytes([t])
    if t in FIXED_SIZES:
        return out
    if t in BYTELEN_TYPES:
        return out + bytes([col.size])
    if t in (T_DECIMALN, T_NUMERICN):
        return out + bytes([col.size, col.prec, col.scale])
    if t in USHORTLEN_TYPES:
        out += struct.pack("<H", min(col.size, 8000))
        if tds_version >= 0x71 and t in (T_BIGCHAR, T_BIGVARCHAR, T_NCHAR, T_NVARCHAR):
            out += COLLATION
        return out
    if t in LONGLEN_TYPES:
        out += struct.pack("<i", col.size)
        if tds_version >= 0x71 and t in (T_TEXT, T_NTEXT):
            out += COLLATION
        return out
    raise PeerError(50000, "peer cannot describe type 0x%02x" % t)


def col_flags(col):
    flags = 0
    if col.nullable:
        flags |= 0x0001
    flags |= 0x0008  # updatable unknown
    if col.identity:
        flags |= 0x0010
    return flags


# --------------------------------------------------------------------------------------------
# Reading values (RPC parameters)


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError("message ends inside a field (%d bytes wanted at %d of %d)" % (n, self.pos, len(self.data)))
        out = self.data[self.pos:self.pos + n]
        self.pos += n
        return out

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def i32(self):
        return struct.unpack("<i", self.take(4))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def at_end(self):
        return self.pos >= len(self.data)


def read_type_info(r, tds_version):
    t = r.u8()
    col = Col("", t)
    if t in FIXED_SIZES:
        col.size = FIXED_SIZES[t]
    elif t in BYTELEN_TYPES or t in OLD_BYTELEN_TYPES:
        col.size = r.u8()
    elif t in (T_DECIMALN, T_NUMERICN):
        col.size, col.prec, col.scale = r.u8(), r.u8(), r.u8()
    elif t in USHORTLEN_TYPES:
        col.size = r.u16()
        if tds_version >= 0x71 and t in (T_BIGCHAR, T_BIGVARCHAR, T_NCHAR, T_NVARCHAR):
            r.take(5)
    elif t in LONGLEN_TYPES:
        col.size = r.i32()
        if tds_version >= 0x71 and t in (T_TEXT, T_NTEXT):
            r.take(5)
    else:
        raise ValueError("unknown parameter type 0x%02x" % t)
    return col


def decode_fixed(t, data):
    if t == T_INT1:
        return data[0]
    if t == T_BIT:
        return 1 if data[0] else 0
    if t == T_INT2:
        return struct.unpack("<h", data)[0]
    if t == T_INT4:
        return struct.unpack("<i", data)[0]
    if t == T_INT8:
        return struct.unpack("<q", data)[0]
    if t == T_FLT4:
        return struct.unpack("<f", data)[0]
    if t == T_FLT8:
        return struct.unpack("<d", data)[0]
    if t == T_MONEY:
        hi, lo = struct.unpack("<iI", data)
        return float(decimal.Decimal((hi << 32) | lo) / 10000)
    if t == T_MONEY4:
        return float(decimal.Decimal(struct.unpack("<i", data)[0]) / 10000)
    if t == T_DATETIME:
        days, ticks = struct.unpack("<iI", data)
        return iso(from_datetime_parts(days, ticks))
    if t == T_DATETIM4:
        days, minutes = struct.unpack("<HH", data)
        return iso(BASE_DATE + datetime.timedelta(days=days, minutes=minutes))
    raise ValueError("type 0x%02x" % t)


def read_value(r, col):
    t = col.tds
    if t in FIXED_SIZES:
        return decode_fixed(t, r.take(FIXED_SIZES[t]))
    if t in BYTELEN_TYPES:
        n = r.u8()
        if n == 0:
            return None
        fixed = {T_INTN: {1: T_INT1, 2: T_INT2, 4: T_INT4, 8: T_INT8}, T_BITN: {1: T_BIT},
                 T_FLTN: {4: T_FLT4, 8: T_FLT8}, T_MONEYN: {4: T_MONEY4, 8: T_MONEY},
                 T_DATETIMN: {4: T_DATETIM4, 8: T_DATETIME}}.get(t, {}).get(n)
        data = r.take(n)
        return decode_fixed(fixed, data) if fixed else data
    if t in (T_DECIMALN, T_NUMERICN):
        n = r.u8()
        if n == 0:
            return None
        data = r.take(n)
        magnitude = int.from_bytes(data[1:], "little")
        value = decimal.Decimal(magnitude if data[0] else -magnitude) / (10 ** col.scale)
        return float(value)
    if t in USHORTLEN_TYPES:
        n = r.u16()
        if n == 0xFFFF:
            return None
        return decode_data(t, r.take(n))
    if t in OLD_BYTELEN_TYPES:
        n = r.u8()
        return decode_data(t, r.take(n)) if n else None
    if t in LONGLEN_TYPES:
        n = r.i32()
        if n < 0:
            return None
        return decode_data(t, r.take(n))
    raise ValueError("type 0x%02x" % t)


def decode_data(t, data):
    if t in UNICODE_TYPES:
        return data.decode("utf-16-le")
    if t in CHAR_TYPES:
        return data.decode(SERVER_CODEPAGE, "replace")
    return bytes(data)


# --------------------------------------------------------------------------------------------
# The catalog views and the peer's own procedures

# name: (type code, usertype, xusertype, length)
SYSTYPES = {
    "char": (47, 1, 175, 1), "varchar": (39, 2, 167, 1), "binary": (45, 3, 173, 1), "varbinary": (37, 4, 165, 1),
    "tinyint": (48, 5, 48, 1), "smallint": (52, 6, 52, 2), "int": (56, 7, 56, 4), "float": (62, 8, 62, 8),
    "numeric": (63, 10, 108, 17), "money": (60, 11, 60, 8), "datetime": (61, 12, 61, 8), "bit": (50, 16, 104, 1),
    "text": (35, 19, 35, 16), "image": (34, 20, 34, 16), "smallmoney": (122, 21, 122, 4),
    "smalldatetime": (58, 22, 58, 4), "real": (59, 23, 59, 4), "decimal": (55, 26, 106, 17),
    "bigint": (127, 0, 127, 8),
}
# Other names of the same types.
TYPE_ALIASES = {"integer": "int", "double": "float"}


class Proc:
    def __init__(self, pid, name, params, body):
        self.id, self.name, self.params, self.body = pid, name, params, body


def proc_add(session, args):
    """@a int, @b int, @sum int output: one result set (a, b), @sum := a + b, status a - b."""
    a, b = args.get("@a"), args.get("@b")
    rs = ([Col("a", T_INTN, 4), Col("b", T_INTN, 4)], [[a, b]])
    total = None if a is None or b is None else a + b
    return [rs], {"@sum": total}, (a or 0) - (b or 0)


def proc_echo(session, args):
    """Every output parameter gives back its input, changed a little so a copy cannot pass."""
    out = {}
    for name, value in args.items():
        if value is None:
            out[name] = None
        elif name == "@i":
            out[name] = value + 1
        elif name == "@s":
            out[name] = value.upper() + "!"
        elif name == "@f":
            out[name] = value * 2
        elif name == "@m":
            out[name] = value + 0.5
        elif name == "@d":
            out[name] = iso(to_datetime(value) + datetime.timedelta(days=1))
        elif name == "@b":
            out[name] = 0 if value else 1
        elif name == "@v":
            out[name] = bytes(reversed(value))
        else:
            out[name] = value
    return [], out, 5


def proc_multi(session, args):
    """Two result sets and a return status."""
    first = ([Col("n", T_INTN, 4), Col("word", T_BIGVARCHAR, 10)], [[1, "um"], [2, "dois"]])
    second = ([Col("total", T_FLTN, 8)], [[2.5]])
    return [first, second], {}, 3


def proc_fail(session, args):
    """Fails with a user message numbered above 32767."""
    raise PeerError(50001, "kw_fail: refused on purpose", cls=16, state=2, line=7, proc="kw_fail")


def proc_overlong(session, args):
    """A result whose values are longer than the columns announce."""
    short = Col("short", T_BIGVARCHAR, 4)
    short.overlong = True
    return [([Col("id", T_INTN, 4), short], [[1, "abcdefghijklmnopqrstuvwxyz"]])], {}, 0


def proc_server_info(session, args):
    rows = [[2, "DBMS_VER", "Adaptive Server Enterprise/15.7/EBF 99999 SMP/P/x86_64/Linux/kwpeer"]]
    wanted = args.get("@attribute_id")
    if wanted is not None:
        rows = [r for r in rows if r[0] == wanted]
    cols = [Col("attribute_id", T_INTN, 4), Col("attribute_name", T_BIGVARCHAR, 60),
            Col("attribute_value", T_BIGVARCHAR, 255)]
    return [(cols, rows)], {}, 0


# (name, type, length, output)
PROCEDURES = [
    Proc(1000001, "kw_add", [("@a", "int", 4, False), ("@b", "int", 4, False), ("@sum", "int", 4, True)], proc_add),
    Proc(1000002, "kw_echo", [("@i", "int", 4, True), ("@s", "varchar", 30, True), ("@f", "float", 8, True),
                              ("@m", "money", 8, True), ("@d", "datetime", 8, True), ("@b", "bit", 1, True),
                              ("@v", "varbinary", 16, True)], proc_echo),
    Proc(1000003, "kw_multi", [], proc_multi),
    Proc(1000004, "kw_fail", [], proc_fail),
    Proc(1000005, "kw_overlong", [], proc_overlong),
    Proc(1000006, "sp_server_info", [("@attribute_id", "int", 4, False)], proc_server_info),
]
PROCS_BY_NAME = {p.name.lower(): p for p in PROCEDURES}

CATALOG_SQL = """
create table if not exists kw_procs(id integer primary key, name text, type text);
create table if not exists kw_params(id integer, name text, colid integer, type text, length integer,
                                     isoutparam integer);
create table if not exists kw_systypes(name text, type integer, usertype integer, xusertype integer,
                                       length integer);
create table if not exists kw_options(name text primary key, value text);
create view if not exists sysusers as select 1 as uid, 'dbo' as name;
create view if not exists sysobjects as
  select rowid as id, name, case type when 'table' then 'U' else 'V' end as type,
         case type when 'table' then 'U' else 'V' end as xtype, 1 as uid, 0 as parent_obj
    from sqlite_master where type in ('table', 'view') and name not like 'sqlite%' and name not like 'kw!_%' escape '!'
      and name not in ('sysusers', 'sysobjects', 'syscolumns', 'systypes', 'sysindexes', 'sysindexkeys',
                       'syscomments')
  union all select id, name, type, type, 1, 0 from kw_procs
  union all select 999999, 'xp_msver', 'X', 'X', 1, 0 from kw_options where name = 'xp_msver' and value = 'on';
create view if not exists syscolumns as
  select o.id as id, c.name as name, c.cid + 1 as colid, 0 as number, kw_typecode(c.type) as type,
         kw_usertype(c.type) as usertype, kw_xusertype(c.type) as xusertype, kw_length(c.type) as length,
         kw_prec(c.type) as prec, kw_scale(c.type) as scale,
         case when c."notnull" or kw_notnull(c.type) then 0 else 1 end as isnullable,
         case when c."notnull" or kw_notnull(c.type) then 0 else 8 end as status, 0 as status2,
         0 as cdefault, 0 as isoutparam
    from sysobjects o join pragma_table_info(o.name) c where o.type in ('U', 'V')
  union all
  select p.id, p.name, p.colid, 1, kw_typecode(p.type), kw_usertype(p.type), kw_xusertype(p.type), p.length,
         kw_prec(p.type), kw_scale(p.type), 1, case when p.isoutparam then 72 else 8 end,
         case when p.isoutparam then 2 else 1 end, 0, p.isoutparam
    from kw_params p;
create view if not exists systypes as select name, type, usertype, xusertype, length from kw_systypes;
create view if not exists sysindexes as
  select o.id as id, i.name as name, i.seq + 1 as indid,
         case when i."unique" then 2 else 0 end + case when i.origin = 'pk' then 2048 else 0 end as status,
         (select count(*) from pragma_index_info(i.name)) as keycnt
    from sysobjects o join pragma_index_list(o.name) i where o.type = 'U';
create view if not exists sysindexkeys as
  select o.id as id, i.seq + 1 as indid, k.seqno + 1 as keyno, k.cid + 1 as colid
    from sysobjects o join pragma_index_list(o.name) i join pragma_index_info(i.name) k where o.type = 'U';
create view if not exists syscomments as select id, 1 as colid, 1 as number, '' as text from kw_procs;
"""


def fill_catalog(db):
    db.executescript(CATALOG_SQL)
    db.execute("delete from kw_procs")
    db.execute("delete from kw_params")
    db.execute("delete from kw_systypes")
    for p in PROCEDURES:
        db.execute("insert into kw_procs values (?, ?, 'P')", (p.id, p.name))
        for i, (name, typ, length, out) in enumerate(p.params):
            db.execute("insert into kw_params values (?, ?, ?, ?, ?, ?)", (p.id, name, i + 1, typ, length, int(out)))
    for name, (code, usertype, xusertype, length) in SYSTYPES.items():
        db.execute("insert into kw_systypes values (?, ?, ?, ?, ?)", (name, code, usertype, xusertype, length))


def register_functions(db, session):
    def parsed(decl):
        return parse_decltype(decl) or (None, None, None, False, False)

    db.create_function("kw_typecode", 1, lambda d: SYSTYPES.get(parsed(d)[0], (0,))[0], deterministic=True)
    db.create_function("kw_usertype", 1, lambda d: SYSTYPES.get(parsed(d)[0], (0, 0))[1], deterministic=True)
    db.create_function("kw_xusertype", 1, lambda d: SYSTYPES.get(parsed(d)[0], (0, 0, 0))[2], deterministic=True)

    def length(d):
        base, n1, _, _, _ = parsed(d)
        if base in ("char", "varchar", "binary", "varbinary"):
            return n1 or 1
        return SYSTYPES.get(base, (0, 0, 0, 0))[3]

    db.create_function("kw_length", 1, length, deterministic=True)
    db.create_function("kw_prec", 1, lambda d: parsed(d)[1] or 0, deterministic=True)
    db.create_function("kw_scale", 1, lambda d: parsed(d)[2] or 0, deterministic=True)
    db.create_function("kw_notnull", 1, lambda d: int(parsed(d)[4] or parsed(d)[3]), deterministic=True)

    def object_id(name):
        if name is None:
            return None
        bare = str(name).split(".")[-1].split(";")[0].strip("[]\"")
        row = db.execute("select id from sysobjects where lower(name) = lower(?)", (bare,)).fetchone()
        return row[0] if row else None

    db.create_function("object_id", 1, object_id)
    db.create_function("object_name", 1, lambda i: (db.execute("select name from sysobjects where id = ?", (i,))
                                                    .fetchone() or [None])[0])
    db.create_function("db_name", 0, lambda: session.database)

    def index_property(object_id_value, index_name, prop):
        table = db.execute("select name from sysobjects where id = ?", (object_id_value,)).fetchone()
        if table is None or str(prop).lower() != "isunique":
            return None
        row = db.execute('select "unique" from pragma_index_list(?) where name = ?', (table[0], index_name)).fetchone()
        return None if row is None else int(row[0])

    db.create_function("indexproperty", 3, index_property)
    db.create_function("indexkey_property", 4, lambda *args: 0)
    db.create_function("getdate", 0, lambda: iso(datetime.datetime.now()))
    db.create_function("xp_msver", 1, lambda what: {"FileDescription": "SQL Anywhere Server",
                                                     "ProductVersion": "17.0.10.1234"}.get(what, ""))


# --------------------------------------------------------------------------------------------
# Mapping T-SQL to SQLite


def outside_quotes(text):
    """(start, end, quoted) pieces of the text: quoted pieces keep their quotes."""
    pieces = []
    i, start, n = 0, 0, len(text)
    while i < n:
        c = text[i]
        if c in "'\"[":
            close = "]" if c == "[" else c
            if i > start:
                pieces.append((start, i, False))
            j = i + 1
            while j < n:
                if text[j] == close:
                    if close != "]" and j + 1 < n and text[j + 1] == close:
                        j += 2
                        continue
                    break
                j += 1
            pieces.append((i, min(j + 1, n), True))
            i = start = min(j + 1, n)
            continue
        i += 1
    if start < n:
        pieces.append((start, n, False))
    return pieces


DATE_LITERAL = re.compile(r"^'(\d{4})(\d{2})(\d{2})(?: (\d{2}):(\d{2})(?::(\d{2})(?::(\d{3}))?)?)?'$")
TIME_LITERAL = re.compile(r"^'(\d{2}):(\d{2}):(\d{2})(?::(\d{3}))?'$")
HEX_LITERAL = re.compile(r"\b0x([0-9a-fA-F]*)")
CONVERT_CALL = re.compile(r"\bconvert\s*\(\s*([a-z]+(?:\s*\(\s*\d+\s*(?:,\s*\d+\s*)?\))?)\s*,", re.I)


def hex_literal(piece, m):
    """0x... as a binary value, or as the integer it is in a bit operation (status & 0x8)."""
    before = piece[:m.start()].rstrip()
    if before.endswith(("&", "|")):
        return m.group(0)
    digits = m.group(1)
    return "X'" + (digits if len(digits) % 2 == 0 else "0" + digits) + "'"


def map_literal(piece):
    m = DATE_LITERAL.match(piece)
    if m:
        y, mo, d, h, mi, s, ms = m.groups()
        return "'%s-%s-%s %s:%s:%s.%s'" % (y, mo, d, h or "00", mi or "00", s or "00", ms or "000")
    m = TIME_LITERAL.match(piece)
    if m:
        h, mi, s, ms = m.groups()
        return "'1900-01-01 %s:%s:%s.%s'" % (h, mi, s, ms or "000")
    if piece.startswith("["):
        return '"' + piece[1:-1].replace('"', '""') + '"'
    return piece


def rewrite_convert(text):
    """CONVERT(type, expr) becomes CAST(expr AS type), innermost first."""
    while True:
        m = None
        for cand in CONVERT_CALL.finditer(text):
            m = cand
        if m is None:
            return text
        depth, j = 1, m.end()
        while j < len(text) and depth:
            if text[j] == "(":
                depth += 1
            elif text[j] == ")":
                depth -= 1
            j += 1
        expr = text[m.end():j - 1]
        text = text[:m.start()] + "CAST(" + expr + " AS " + m.group(1) + ")" + text[j:]


def to_sqlite(text, session):
    out = []
    for start, end, quoted in outside_quotes(text):
        piece = text[start:end]
        if quoted:
            out.append(map_literal(piece))
            continue
        piece = re.sub(r"\bdbo\.", "", piece, flags=re.I)
        piece = HEX_LITERAL.sub(lambda m: hex_literal(piece, m), piece)
        piece = re.sub(r"@@identity\b", lambda m: "NULL" if session.identity is None else str(session.identity),
                       piece, flags=re.I)
        piece = re.sub(r"@@trancount\b", lambda m: str(session.trancount()), piece, flags=re.I)
        piece = re.sub(r"@@spid\b", lambda m: str(session.spid), piece, flags=re.I)
        piece = re.sub(r"@@version\b", lambda m: "'" + VERSION_TEXT.replace("'", "''") + "'", piece, flags=re.I)
        piece = re.sub(r"\bgetdate\s*\(\s*\)", "getdate()", piece, flags=re.I)
        out.append(piece)
    return rewrite_convert("".join(out))


INTEGER_LIMITS = {"int": (-2**31, 2**31 - 1), "integer": (-2**31, 2**31 - 1), "smallint": (-2**15, 2**15 - 1),
                  "tinyint": (0, 255)}
def wrap_ordered_union(sql):
    """A UNION whose ORDER BY sorts the whole result runs as a select from the union: SQLite
    3.40 loses the rows of such a compound over the catalog's views of pragma functions."""
    low = sql.lower()
    union = low.rfind(" union ")
    order = low.rfind(" order by ")
    if union < 0 or order < union or not low.lstrip().startswith("select"):
        return sql
    return "select * from (" + sql[:order] + ")" + sql[order:]


COLUMN_DEF = re.compile(r"^\s*(\"[^\"]+\"|\[[^\]]+\]|\w+)\s+(\w+(?:\s*\(\s*\d+\s*(?:,\s*\d+\s*)?\))?)(.*)$", re.S | re.I)


def split_top(text, sep=","):
    parts, depth, cur, quote = [], 0, [], None
    for c in text:
        if quote:
            cur.append(c)
            if c == quote:
                quote = None
            continue
        if c in "'\"":
            quote = c
        elif c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
        if c == sep and depth == 0:
            parts.append("".join(cur))
            cur = []
            continue
        cur.append(c)
    if cur:
        parts.append("".join(cur))
    return parts


def rewrite_create_table(sql):
    """T-SQL CREATE TABLE: "identity" and "not null" go into the declared type, an identity column
    gets a trigger that numbers it. Answers (sqlite text, table, identity column or None)."""
    m = re.match(r"^\s*create\s+table\s+(\"[^\"]+\"|\w+)\s*\((.*)\)\s*;?\s*$", sql, re.S | re.I)
    if not m:
        return sql, None, None
    table, body = m.group(1), m.group(2)
    identity_col = None
    cols = []
    for part in split_top(body):
        cm = COLUMN_DEF.match(part)
        if not cm or cm.group(1).lower() in ("primary", "unique", "constraint", "foreign", "check"):
            cols.append(part)
            continue
        name, typ, rest = cm.group(1), cm.group(2), cm.group(3)
        words = []
        if re.search(r"\bidentity\b(\s*\(\s*\d+\s*,\s*\d+\s*\))?", rest, re.I):
            rest = re.sub(r"\bidentity\b(\s*\(\s*\d+\s*,\s*\d+\s*\))?", "", rest, flags=re.I)
            words.append("identity")
            identity_col = name
        if re.search(r"\bnot\s+null\b", rest, re.I):
            words.append("kwnotnull")
            rest = re.sub(r"\bnot\s+null\b", "", rest, flags=re.I)
        rest = re.sub(r"(?<!not)\s\bnull\b", " ", rest, flags=re.I)
        # The server refuses an integer its column cannot hold.
        limits = INTEGER_LIMITS.get(typ.lower())
        if limits:
            rest += " CHECK (%s IS NULL OR %s BETWEEN %d AND %d)" % (name, name, limits[0], limits[1])
        cols.append('%s "%s"%s' % (name, " ".join(words + [typ]), rest))
    return "create table %s (%s)" % (table, ", ".join(cols)), table, identity_col


# --------------------------------------------------------------------------------------------
# The server


class Server:
    def __init__(self, args):
        self.args = args
        self.users = {}
        for u in args.user or []:
            name, _, password = u.partition(":")
            self.users[name] = password
        self.journal_lock = threading.Lock()
        self.journal = open(args.journal, "a", encoding="utf-8")
        self.sessions = {}
        self.sessions_lock = threading.Lock()
        self.next_spid = 51
        self.canned = []
        db = sqlite3.connect(args.database, isolation_level=None)
        db.execute("pragma journal_mode=wal")
        session = type("S", (), {"database": "kwtest"})()
        register_functions(db, session)
        fill_catalog(db)
        db.close()

    def log(self, spid, kind, **fields):
        entry = {"spid": spid, "kind": kind}
        entry.update(fields)
        with self.journal_lock:
            self.journal.write(json.dumps(entry, ensure_ascii=True, default=lambda b: b.hex()) + "\n")
            self.journal.flush()

    def serve(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        port = listener.getsockname()[1]
        tmp = self.args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(str(port))
        os.replace(tmp, self.args.port_file)
        while True:
            conn, _ = listener.accept()
            with self.sessions_lock:
                spid = self.next_spid
                self.next_spid += 1
            session = Session(self, conn, spid)
            with self.sessions_lock:
                self.sessions[spid] = session
            threading.Thread(target=session.run, daemon=True).start()


class Session:
    def __init__(self, server, conn, spid):
        self.server, self.conn, self.spid = server, conn, spid
        self.tds = 0x71
        self.packet_size = 4096
        self.database = "kwtest"
        self.identity = None
        self.db = None
        self.options = {}
        self.pending = bytearray()

    # -- packets --------------------------------------------------------------------------

    def recv_exactly(self, n):
        out = bytearray()
        while len(out) < n:
            chunk = self.conn.recv(n - len(out))
            if not chunk:
                raise ClientGone()
            out += chunk
        return bytes(out)

    def read_message(self):
        payload = bytearray()
        while True:
            header = self.recv_exactly(8)
            ptype, status, length = header[0], header[1], struct.unpack(">H", header[2:4])[0]
            if length < 8:
                raise ClientGone()
            payload += self.recv_exactly(length - 8)
            if status & 0x01:
                return ptype, bytes(payload)

    def send_message(self, ptype, payload):
        size = max(512, self.packet_size) - 8
        chunks = [payload[i:i + size] for i in range(0, len(payload), size)] or [b""]
        out = bytearray()
        for i, chunk in enumerate(chunks):
            last = i == len(chunks) - 1
            out += struct.pack(">BBHHBB", ptype, 1 if last else 0, len(chunk) + 8, self.spid, (i + 1) & 0xFF, 0)
            out += chunk
        self.conn.sendall(bytes(out))

    # -- tokens ---------------------------------------------------------------------------

    def done(self, token=TOK_DONE, status=0, count=None, curcmd=0):
        if count is not None:
            status |= DONE_COUNT
        rows = count or 0
        if self.tds >= 0x72:
            return struct.pack("<BHHQ", token, status, curcmd, rows)
        return struct.pack("<BHHi", token, status, curcmd, rows)

    def message(self, token, number, cls, state, text, line=1, proc=""):
        body = struct.pack("<iBB", number, state, cls) + us_varchar(text) + b_varchar(SERVER_NAME) + b_varchar(proc)
        body += struct.pack("<i", line) if self.tds >= 0x72 else struct.pack("<H", line & 0xFFFF)
        return struct.pack("<BH", token, len(body)) + body

    def error(self, e):
        return self.message(TOK_ERROR if e.cls > 10 else TOK_INFO, e.number, e.cls, e.state, e.text, e.line, e.proc)

    def envchange(self, kind, new, old):
        if kind == 7:
            body = bytes([kind, len(new)]) + new + bytes([len(old)]) + old
        else:
            body = bytes([kind]) + b_varchar(new) + b_varchar(old)
        return struct.pack("<BH", TOK_ENVCHANGE, len(body)) + body

    def colmetadata(self, cols):
        out = struct.pack("<BH", TOK_COLMETADATA, len(cols))
        for c in cols:
            out += struct.pack("<I", c.usertype) if self.tds >= 0x72 else struct.pack("<H", c.usertype)
            out += struct.pack("<H", col_flags(c)) + type_info(c, self.tds)
            if c.tds in LONGLEN_TYPES:
                if self.tds >= 0x72:
                    out += b"\x01" + us_varchar("t")
                else:
                    out += us_varchar("t")
            out += b_varchar(c.name)
        return out

    def result_set(self, cols, rows, token=TOK_DONE, more=False):
        out = bytearray(self.colmetadata(cols))
        for row in rows:
            out.append(TOK_ROW)
            for c, v in zip(cols, row):
                out += encode_value(c, v)
        out += self.done(token, DONE_MORE if more else 0, len(rows), 0xC1)
        return bytes(out)

    # -- the connection -------------------------------------------------------------------

    def run(self):
        try:
            self.serve()
        except (ClientGone, ConnectionError, OSError):
            pass
        finally:
            try:
                self.conn.close()
            except OSError:
                pass
            if self.db is not None:
                try:
                    if self.db.in_transaction:
                        self.db.execute("rollback")
                    self.db.close()
                except sqlite3.Error:
                    pass
            with self.server.sessions_lock:
                self.server.sessions.pop(self.spid, None)
            self.server.log(self.spid, "closed")

    def serve(self):
        ptype, payload = self.read_message()
        if ptype == PKT_PRELOGIN:
            self.server.log(self.spid, "prelogin", options=self.parse_prelogin(payload))
            self.send_message(PKT_REPLY, self.prelogin_reply())
            ptype, payload = self.read_message()
        if ptype != PKT_LOGIN7:
            self.server.log(self.spid, "unexpected", packet=ptype)
            return
        if not self.login(payload):
            return
        while True:
            ptype, payload = self.read_message()
            if ptype == PKT_ATTENTION:
                self.server.log(self.spid, "attention")
                self.send_message(PKT_REPLY, self.done(TOK_DONE, DONE_ATTN))
            elif ptype == PKT_BATCH:
                self.batch(self.strip_headers(payload).decode("utf-16-le", "replace"))
            elif ptype == PKT_RPC:
                self.rpc(self.strip_headers(payload))
            else:
                self.server.log(self.spid, "unexpected", packet=ptype)
                self.send_message(PKT_REPLY, self.error(PeerError(50000, "unexpected packet type %d" % ptype))
                                  + self.done(TOK_DONE, DONE_ERROR))

    def strip_headers(self, payload):
        if self.tds >= 0x72 and len(payload) >= 4:
            total = struct.unpack("<I", payload[:4])[0]
            if 4 <= total <= len(payload):
                return payload[total:]
        return payload

    def parse_prelogin(self, payload):
        options = {}
        i = 0
        while i < len(payload) and payload[i] != 0xFF:
            token, offset, length = payload[i], struct.unpack(">H", payload[i + 1:i + 3])[0], struct.unpack(">H", payload[i + 3:i + 5])[0]
            options[str(token)] = payload[offset:offset + length].hex()
            i += 5
        return options

    def prelogin_reply(self):
        items = [(0, bytes([15, 0, 0x07, 0xD0, 0, 0])), (1, b"\x02"), (2, b"\x00"), (3, b""), (4, b"\x00")]
        header_len = 5 * len(items) + 1
        header, data = bytearray(), bytearray()
        for token, value in items:
            header += struct.pack(">BHH", token, header_len + len(data), len(value))
            data += value
        return bytes(header) + b"\xff" + bytes(data)

    def login(self, payload):
        r = Reader(payload)
        (length, version, packet_size, prog_ver, pid, conn_id, flags1, flags2, type_flags, flags3, tz,
         lcid) = struct.unpack("<IIIIIIBBBBiI", r.take(36))

        def field(index):
            off, count = struct.unpack("<HH", payload[36 + 4 * index:40 + 4 * index])
            return payload[off:off + 2 * count]

        def text(index):
            return field(index).decode("utf-16-le", "replace")

        raw_password = field(2)
        password = bytes((((b ^ 0xA5) << 4) & 0xF0) | ((b ^ 0xA5) >> 4) for b in raw_password).decode("utf-16-le", "replace")
        major = version >> 24
        self.tds = {0x70: 0x70, 0x71: 0x71, 0x72: 0x72, 0x73: 0x73, 0x74: 0x74}.get(major, 0x70)
        if version == 0x00000070:
            self.tds = 0x70
        if packet_size:
            self.packet_size = min(max(packet_size, 512), 32767)
        info = {"tds_version": "%08x" % version, "packet_size": packet_size, "flags1": flags1, "flags2": flags2,
                "type_flags": type_flags, "flags3": flags3, "lcid": lcid, "host": text(0), "user": text(1),
                "password": password, "app": text(3), "server": text(4), "library": text(6), "language": text(7),
                "database": text(8), "integrated": bool(flags2 & 0x80)}
        self.server.log(self.spid, "login", **info)
        user = info["user"]
        if flags2 & 0x80:
            self.send_message(PKT_REPLY, self.message(TOK_ERROR, 18452, 14, 1,
                                                      "Login failed. The login is from an untrusted domain and cannot be used with Integrated authentication.")
                              + self.done(TOK_DONE, DONE_ERROR))
            return False
        users = self.server.users
        if users and users.get(user) != password:
            self.send_message(PKT_REPLY, self.message(TOK_ERROR, 18456, 14, 1, "Login failed for user '%s'." % user)
                              + self.done(TOK_DONE, DONE_ERROR))
            return False
        self.db = sqlite3.connect(self.server.args.database, isolation_level=None, timeout=30,
                                  check_same_thread=False)
        self.db.execute("pragma busy_timeout=30000")
        register_functions(self.db, self)
        out = bytearray()
        if info["database"]:
            self.database = info["database"]
        out += self.envchange(1, self.database, "master")
        out += self.message(TOK_INFO, 5701, 0, 2, "Changed database context to '%s'." % self.database)
        if self.tds >= 0x71:
            out += self.envchange(7, COLLATION, b"")
        else:
            out += self.envchange(3, "iso_1", "")
        out += self.envchange(2, "us_english", "")
        out += self.message(TOK_INFO, 5703, 0, 1, "Changed language setting to us_english.")
        out += self.envchange(4, str(self.packet_size), str(self.packet_size))
        ack_version = {0x70: b"\x07\x00\x00\x00", 0x71: b"\x71\x00\x00\x01", 0x72: b"\x72\x09\x00\x02",
                       0x73: b"\x73\x0b\x00\x03", 0x74: b"\x74\x00\x00\x04"}[self.tds]
        name = "Microsoft SQL Server\x00\x00"
        body = b"\x01" + ack_version + b_varchar(name) + bytes([15, 0, 0x07, 0xD0])
        out += struct.pack("<BH", TOK_LOGINACK, len(body)) + body
        out += self.done(TOK_DONE, 0)
        self.send_message(PKT_REPLY, bytes(out))
        return True

    # -- batches --------------------------------------------------------------------------

    def trancount(self):
        return 1 if self.db is not None and self.db.in_transaction else 0

    def batch(self, text):
        self.server.log(self.spid, "batch", text=text)
        stripped = text.strip()
        if stripped.lower().startswith("kwpeer "):
            self.control(stripped[7:].strip())
            return
        statements = self.split_batch(stripped)
        out = bytearray()
        for i, stmt in enumerate(statements):
            last = i == len(statements) - 1
            try:
                out += self.statement(stmt, more=not last)
            except PeerError as e:
                out += self.error(e) + self.done(TOK_DONE, DONE_ERROR | (0 if last else DONE_MORE))
            except sqlite3.Error as e:
                out += self.error(self.sqlite_error(e, stmt)) + self.done(TOK_DONE, DONE_ERROR | (0 if last else DONE_MORE))
        if not statements:
            out += self.done(TOK_DONE, 0)
        self.send_message(PKT_REPLY, bytes(out))

    def split_batch(self, text):
        """A batch of SET statements is one statement per SET; otherwise statements end at ';'."""
        if re.match(r"^\s*set\s", text, re.I) and not re.search(r";", text):
            parts = re.split(r"(?=\bset\s)", text, flags=re.I)
            return [p.strip() for p in parts if p.strip()]
        if re.match(r"^\s*(declare|if\s+@@)", text, re.I):
            return [text]
        parts, cur = [], []
        for start, end, quoted in outside_quotes(text):
            piece = text[start:end]
            if quoted:
                cur.append(piece)
                continue
            bits = piece.split(";")
            cur.append(bits[0])
            for b in bits[1:]:
                parts.append("".join(cur))
                cur = [b]
        parts.append("".join(cur))
        return [p.strip() for p in parts if p.strip()]

    def sqlite_error(self, e, stmt):
        text = str(e)
        if "no such table" in text:
            name = text.split(":", 1)[-1].strip()
            return PeerError(208, "Invalid object name '%s'." % name)
        if "no such column" in text:
            name = text.split(":", 1)[-1].strip()
            return PeerError(207, "Invalid column name '%s'." % name)
        if "UNIQUE constraint" in text or "PRIMARY KEY" in text:
            return PeerError(2627, "Violation of PRIMARY KEY constraint. Cannot insert duplicate key.", cls=14)
        if "CHECK constraint" in text:
            return PeerError(8115, "Arithmetic overflow error converting expression to data type int.")
        if "NOT NULL constraint" in text:
            return PeerError(515, "Cannot insert the value NULL into column; column does not allow nulls.")
        return PeerError(102, "Incorrect syntax near '%s': %s" % (stmt[:20], text), cls=15)

    def statement(self, stmt, more):
        low = stmt.lower()
        flag = DONE_MORE if more else 0
        m = re.match(r"^set\s+(\w+)\s*(.*)$", low, re.S)
        if m:
            self.options[m.group(1)] = m.group(2).strip()
            return self.done(TOK_DONE, flag)
        m = re.match(r"^use\s+(\"[^\"]+\"|\[[^\]]+\]|\w+)$", stmt, re.I)
        if m:
            name = m.group(1).strip("[]\"")
            if name.lower() not in ("kwtest", "master", "tempdb", "kwother"):
                raise PeerError(911, "Database '%s' does not exist. Make sure that the name is entered correctly." % name)
            old, self.database = self.database, name
            return (self.envchange(1, name, old)
                    + self.message(TOK_INFO, 5701, 0, 1, "Changed database context to '%s'." % name)
                    + self.done(TOK_DONE, flag))
        if re.match(r"^if\s+@@trancount\s*=\s*0\s+begin\s+begin\s+tran(saction)?\s+end$", low) or \
                re.match(r"^begin\s+tran(saction)?$", low):
            if not self.db.in_transaction:
                self.db.execute("begin")
            return self.done(TOK_DONE, flag)
        m = re.match(r"^if\s+@@trancount\s*>\s*0\s+begin\s+(commit|rollback)\s+tran(saction)?\s+end$", low) or \
            re.match(r"^(commit|rollback)\s+tran(saction)?$", low)
        if m:
            if self.db.in_transaction:
                self.db.execute(m.group(1))
            return self.done(TOK_DONE, flag)
        if "#spindcols" in stmt:
            return self.sybase_indexes(stmt, more)
        m = re.match(r"^(?:exec(?:ute)?\s+)?(?:dbo\.)?(\w+)\s*(.*)$", stmt, re.I | re.S)
        if m and m.group(1).lower() in PROCS_BY_NAME:
            return self.call_text(PROCS_BY_NAME[m.group(1).lower()], m.group(2), more)
        if re.match(r"^create\s+table\b", low):
            sql, table, identity = rewrite_create_table(to_sqlite(stmt, self))
            self.db.execute(sql)
            if identity:
                self.db.execute(
                    'create trigger "kw_id_%s" after insert on %s when new.%s is null begin '
                    'update %s set %s = (select coalesce(max(%s), 0) + 1 from %s) where rowid = new.rowid; end'
                    % (table.strip('"'), table, identity, table, identity, identity, table))
            return self.done(TOK_DONE, flag)
        return self.run_sql(stmt, more)

    def sybase_indexes(self, stmt, more):
        """The index batch of the Sybase catalog: its rows computed from SQLite's own lists."""
        flag = DONE_MORE if more else 0
        m = re.search(r"object_id\('((?:[^']|'')*)'\)", stmt)
        name = m.group(1).replace("''", "'").split(".")[-1] if m else ""
        tables = [r[0] for r in self.db.execute(
            "select name from sysobjects where type = 'U' and lower(name) = lower(?)", (name,))]
        if not tables:
            return self.done(TOK_DONE, flag)
        table = tables[0]
        rows = []
        for _, index, unique, origin, _ in self.db.execute("select * from pragma_index_list(?)", (table,)).fetchall():
            kind = (2 if unique else 0) + (4 if origin == "pk" else 0)
            for keyno, _, column in self.db.execute("select * from pragma_index_info(?)", (index,)).fetchall():
                rows.append([self.database, "dbo", table, index, column, keyno + 1, kind, "A", ""])
        cols = [Col(n, T_BIGVARCHAR, 30) for n in ("CATALOG_NAME", "SCHEMA_NAME", "TABLE_NAME", "INDEX_NAME",
                                                    "COLUMN_NAME")]
        cols += [Col("COLUMN_POSITION", T_INTN, 4), Col("INDEX_TYPE", T_INTN, 4), Col("SORT_ORDER", T_BIGVARCHAR, 1),
                 Col("INDEX_FILTER", T_BIGVARCHAR, 1)]
        return self.result_set(cols, rows, more=more)

    def run_sql(self, stmt, more):
        sql = wrap_ordered_union(to_sqlite(stmt, self))
        flag = DONE_MORE if more else 0
        try:
            cur = self.db.execute(sql)
        except sqlite3.Error:
            canned = self.find_canned(stmt)
            if canned is None:
                raise
            cols, rows = canned
            return self.result_set(cols, rows, more=more)
        if cur.description is None:
            count = cur.rowcount
            m = re.match(r"^\s*insert\s+(?:into\s+)?(\"[^\"]+\"|\w+)", sql, re.I)
            if m and count > 0:
                self.update_identity(m.group(1))
            return self.done(TOK_DONE, flag, count if count >= 0 else None, 0xC3)
        rows = [list(r) for r in cur.fetchall()]
        cols = self.describe(sql, stmt, cur.description, rows)
        rows = [[self.coerce(c, v) for c, v in zip(cols, r)] for r in rows]
        return self.result_set(cols, rows, more=more)

    def update_identity(self, table):
        name = table.strip('"')
        info = self.db.execute('select name, type from pragma_table_info(?)', (name,)).fetchall()
        for col, decl in info:
            parsed = parse_decltype(decl)
            if parsed and parsed[3]:
                row = self.db.execute('select "%s" from "%s" where rowid = last_insert_rowid()' % (col, name)).fetchone()
                self.identity = row[0] if row else None

    def describe(self, sql, stmt, description, rows):
        names = [d[0] for d in description]
        decls = [""] * len(names)
        if re.match(r"^\s*select\b", sql, re.I):
            try:
                self.db.execute("drop view if exists temp.kw_probe")
                self.db.execute("create temp view kw_probe as " + sql)
                info = self.db.execute("pragma temp.table_info(kw_probe)").fetchall()
                self.db.execute("drop view temp.kw_probe")
                if len(info) == len(names):
                    decls = [i[2] for i in info]
            except sqlite3.Error:
                pass
            items = self.select_items(sql)
            if items is not None and len(items) == len(names):
                for i, item in enumerate(items):
                    m = re.match(r"^\s*cast\s*\(.*\s+as\s+(\w+(?:\s*\(\s*\d+\s*(?:,\s*\d+\s*)?\))?)\s*\)", item, re.I | re.S)
                    if not decls[i] and m:
                        decls[i] = m.group(1)
        cols = []
        for i, name in enumerate(names):
            parsed = parse_decltype(decls[i])
            col = col_for_type(name, *parsed) if parsed else None
            if col is None:
                sample = next((r[i] for r in rows if r[i] is not None), None)
                col = col_for_value(name, sample)
                if col.tds == T_BIGVARCHAR:
                    col.size = max([len(encode_text(col, r[i])) for r in rows if r[i] is not None] + [1])
                if col.tds == T_BIGVARBINARY:
                    col.size = max([len(r[i]) for r in rows if r[i] is not None] + [1])
            cols.append(col)
        return cols

    def select_items(self, sql):
        m = re.match(r"^\s*select\s+(?:distinct\s+)?(.*?)(?:\s+from\s+.*)?$", sql, re.I | re.S)
        if not m:
            return None
        items = split_top(m.group(1))
        if any(i.strip() == "*" or i.strip().endswith(".*") for i in items):
            return None
        return items

    def coerce(self, col, value):
        if value is None:
            return None
        t = col.tds
        if t in (T_INT1, T_INT2, T_INT4, T_INT8, T_INTN, T_BIT, T_BITN):
            if isinstance(value, (bytes, str)):
                try:
                    return int(float(value))
                except ValueError:
                    raise PeerError(245, "Conversion failed when converting the value '%s' to data type int." % value)
            return int(value)
        if t in (T_FLT4, T_FLT8, T_FLTN, T_MONEY, T_MONEY4, T_MONEYN, T_DECIMALN, T_NUMERICN):
            return float(value)
        if t in (T_BIGBINARY, T_BIGVARBINARY, T_IMAGE) and isinstance(value, str):
            return value.encode(SERVER_CODEPAGE, "replace")
        return value

    def find_canned(self, stmt):
        for entry in self.server.canned:
            if entry["contains"] in stmt:
                cols = [col_for_type(name, *(parse_decltype(typ) or ("varchar", 30, None, False, False)))
                        for name, typ in entry["columns"]]
                return cols, entry["rows"]
        return None

    # -- control batches ------------------------------------------------------------------

    def control(self, command):
        verb, _, rest = command.partition(" ")
        verb = verb.lower()
        if verb == "drop":
            self.conn.shutdown(socket.SHUT_RDWR)
            raise ClientGone()
        if verb == "killall":
            with self.server.sessions_lock:
                victims = [v for spid, v in self.server.sessions.items() if spid != self.spid]
            for victim in victims:
                try:
                    victim.conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            self.send_message(PKT_REPLY, self.done(TOK_DONE, 0))
            return
        if verb == "kill":
            with self.server.sessions_lock:
                victim = self.server.sessions.get(int(rest))
            if victim is not None:
                try:
                    victim.conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            self.send_message(PKT_REPLY, self.done(TOK_DONE, 0))
            return
        if verb == "messages":
            out = bytearray()
            failed = False
            for m in json.loads(rest):
                cls = m.get("class", 16)
                failed = failed or cls > 10
                out += self.message(TOK_ERROR if cls > 10 else TOK_INFO, m["number"], cls, m.get("state", 1),
                                    m.get("text", ""), m.get("line", 0), m.get("proc", ""))
            out += self.done(TOK_DONE, DONE_ERROR if failed else 0)
            self.send_message(PKT_REPLY, bytes(out))
            return
        if verb == "canned":
            self.server.canned.append(json.loads(rest))
            self.send_message(PKT_REPLY, self.done(TOK_DONE, 0))
            return
        if verb == "set":
            name, _, value = rest.partition(" ")
            self.db.execute("insert or replace into kw_options values (?, ?)", (name, value.strip()))
            self.send_message(PKT_REPLY, self.done(TOK_DONE, 0))
            return
        self.send_message(PKT_REPLY, self.error(PeerError(50000, "unknown peer command '%s'" % verb))
                          + self.done(TOK_DONE, DONE_ERROR))

    # -- procedures -----------------------------------------------------------------------

    def call_text(self, proc, arg_text, more):
        """A procedure called by name in a batch: "name @p = value, ..." or positional values."""
        args = {}
        params = [p[0] for p in proc.params]
        for i, part in enumerate(split_top(arg_text.strip())):
            part = part.strip()
            if not part:
                continue
            m = re.match(r"^(@\w+)\s*=\s*(.*)$", part, re.S)
            name, value = (m.group(1), m.group(2)) if m else (params[i] if i < len(params) else "@p%d" % i, part)
            args[name] = self.literal_value(value.strip())
        return self.run_proc(proc, args, {}, TOK_DONE, more)

    def literal_value(self, text):
        if text.upper() == "NULL":
            return None
        if text.startswith("'"):
            return text[1:-1].replace("''", "'")
        if text.lower().startswith("0x"):
            return bytes.fromhex(text[2:])
        try:
            return int(text)
        except ValueError:
            return float(text)

    def rpc(self, payload):
        r = Reader(payload)
        name_len = r.u16()
        if name_len == 0xFFFF:
            name = "proc#%d" % r.u16()
        else:
            name = r.take(2 * name_len).decode("utf-16-le")
        flags = r.u16()
        params = []
        try:
            while not r.at_end():
                if r.data[r.pos] in (0x80, 0xFF):
                    break
                pname = r.take(2 * r.u8()).decode("utf-16-le")
                status = r.u8()
                col = read_type_info(r, self.tds)
                value = read_value(r, col)
                params.append({"name": pname, "status": status, "type": col.tds, "size": col.size,
                               "prec": col.prec, "scale": col.scale, "value": value})
        except ValueError as e:
            self.server.log(self.spid, "rpc", proc=name, flags=flags, params=params, error=str(e))
            self.send_message(PKT_REPLY, self.error(PeerError(8016, "The incoming RPC stream is incorrect: %s" % e))
                              + self.done(TOK_DONEPROC, DONE_ERROR))
            return
        self.server.log(self.spid, "rpc", proc=name, flags=flags, params=params)
        proc = PROCS_BY_NAME.get(name.split(";")[0].lower().replace("dbo.", ""))
        if proc is None:
            self.send_message(PKT_REPLY, self.error(PeerError(2812, "Could not find stored procedure '%s'." % name))
                              + self.done(TOK_DONEPROC, DONE_ERROR))
            return
        args = {p["name"]: p["value"] for p in params}
        outputs = {p["name"]: (i, p) for i, p in enumerate(params) if p["status"] & 0x01}
        self.send_message(PKT_REPLY, self.run_proc(proc, args, outputs, TOK_DONEPROC, False))

    def run_proc(self, proc, args, outputs, final_token, more):
        out = bytearray()
        try:
            result_sets, values, status = proc.body(self, args)
        except PeerError as e:
            return bytes(self.error(e) + self.done(final_token, DONE_ERROR | (DONE_MORE if more else 0)))
        for cols, rows in result_sets:
            out += self.result_set(cols, rows, TOK_DONEINPROC, more=True)
        out += struct.pack("<Bi", TOK_RETURNSTATUS, status)
        for name, (ordinal, p) in outputs.items():
            decl = next((d for d in proc.params if d[0].lower() == name.lower()), None)
            if decl is not None:
                col = col_for_type(name, decl[1], decl[2] if decl[1] in ("varchar", "varbinary", "char", "binary") else None)
            else:
                col = Col(name, p["type"], p["size"], p["prec"], p["scale"])
            value = values.get(decl[0] if decl else name, p["value"])
            out += struct.pack("<BH", TOK_RETURNVALUE, ordinal) + b_varchar(name) + b"\x01"
            out += struct.pack("<I", 0) if self.tds >= 0x72 else struct.pack("<H", 0)
            out += struct.pack("<H", 0x0001) + type_info(col, self.tds) + encode_value(col, self.coerce(col, value))
        out += self.done(final_token, DONE_MORE if more else 0)
        return bytes(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--database", required=True)
    parser.add_argument("--journal", required=True)
    parser.add_argument("--user", action="append")
    parser.add_argument("--parent", type=int, default=0)
    args = parser.parse_args()
    if args.parent:
        threading.Thread(target=watch_parent, args=(args.parent,), daemon=True).start()
    Server(args).serve()


def watch_parent(parent):
    """Ends the peer when the process that started it is gone, even if it could not stop it."""
    while True:
        if os.getppid() != parent:
            os._exit(0)
        time.sleep(0.5)


if __name__ == "__main__":
    main()
