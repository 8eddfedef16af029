#!/usr/bin/env python3
"""tests/peers/tlspeer.py: a scripted SSL 2.0, SSL 3.0 and TLS 1.0-1.2 server for the TLS
engine's tests.

It does what no real server on this machine does (SSL 3.0 and 2.0, SEED, fixed DH, export and
SRP suites at their old codes, truncated HMAC, handshake messages cut across records, a
HelloRequest without renegotiation_info), and it breaks the protocol on purpose where a test
asks for it (bad padding, wrong MAC, records of every wrong size, messages out of turn, suites,
versions and extensions the client never offered, bad signatures, weak DH groups). With
params["compression"] 1 it compresses its records with deflate (RFC 3749, Python's zlib, one
stream per direction and key change) and inflates the client's, and it can send compressed
records no sound server makes. It records what the client sent, so a test can check the exact
bytes.

Usage: tlspeer.py DIR        (DIR/params.json holds the scenario)
It listens on 127.0.0.1, writes the port to DIR/port, serves params["connections"] connections
one after the other, and writes DIR/result-N.json for each: the client's hello as parsed, the
alerts the client sent, what the client's application data said, the last failure.
params["each"], when given, is a list whose item N holds settings that replace the scenario's
for connection N only. With params["http_response"] the peer is an HTTP server after the
handshake: it reads one request up to its empty line, sends that text and closes with
close_notify (instead of answering each line reversed).

Standard library only; the ciphers come from libcrypto (and its legacy provider) through ctypes,
RSA, DSA, DH and SRP are computed with pow.
"""

import ctypes
import ctypes.util
import hashlib
import hmac
import json
import os
import socket
import struct
import sys
import time
import traceback
import zlib

from peer_process import TIMEOUT, accept, listen, write_atomically

# ---------------------------------------------------------------------------------------------
# libcrypto ciphers

_lib = ctypes.CDLL(ctypes.util.find_library("crypto") or "libcrypto.so.3")
_lib.OSSL_PROVIDER_load.restype = ctypes.c_void_p
_lib.OSSL_PROVIDER_load.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
_lib.OSSL_PROVIDER_load(None, b"legacy")
_lib.OSSL_PROVIDER_load(None, b"default")
_lib.EVP_CIPHER_fetch.restype = ctypes.c_void_p
_lib.EVP_CIPHER_fetch.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
_lib.EVP_CIPHER_CTX_new.restype = ctypes.c_void_p
_lib.EVP_CIPHER_CTX_free.argtypes = [ctypes.c_void_p]
_lib.EVP_CipherInit_ex.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p,
                                   ctypes.c_char_p, ctypes.c_int]
_lib.EVP_CIPHER_CTX_set_key_length.argtypes = [ctypes.c_void_p, ctypes.c_int]
_lib.EVP_CIPHER_CTX_set_padding.argtypes = [ctypes.c_void_p, ctypes.c_int]
_lib.EVP_CipherUpdate.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int),
                                  ctypes.c_char_p, ctypes.c_int]


class Cipher:
    """One direction of a cipher in its running (CBC chain or RC4 stream) state."""

    NAMES = {"RC4": b"RC4", "RC2": b"RC2-CBC", "DES": b"DES-CBC", "3DES": b"DES-EDE3-CBC",
             "AES128": b"AES-128-CBC", "AES256": b"AES-256-CBC", "CAM128": b"CAMELLIA-128-CBC",
             "CAM256": b"CAMELLIA-256-CBC", "SEED": b"SEED-CBC", "IDEA": b"IDEA-CBC"}

    def __init__(self, name, key, iv, encrypt):
        self.name = name
        self.block = 0 if name == "RC4" else (16 if name in ("AES128", "AES256", "CAM128", "CAM256", "SEED") else 8)
        cipher = _lib.EVP_CIPHER_fetch(None, self.NAMES[name], None)
        if not cipher:
            raise RuntimeError("libcrypto has no " + name)
        self.ctx = _lib.EVP_CIPHER_CTX_new()
        _lib.EVP_CipherInit_ex(self.ctx, cipher, None, None, None, 1 if encrypt else 0)
        if name in ("RC4", "RC2"):
            _lib.EVP_CIPHER_CTX_set_key_length(self.ctx, len(key))
        _lib.EVP_CIPHER_CTX_set_padding(self.ctx, 0)
        _lib.EVP_CipherInit_ex(self.ctx, None, None, bytes(key), bytes(iv) if iv else None, -1)

    def update(self, data):
        out = ctypes.create_string_buffer(len(data) + 32)
        n = ctypes.c_int(0)
        _lib.EVP_CipherUpdate(self.ctx, out, ctypes.byref(n), bytes(data), len(data))
        return out.raw[:n.value]


# ---------------------------------------------------------------------------------------------
# DER, keys and public-key arithmetic

def der_read(data, pos=0):
    tag = data[pos]
    length = data[pos + 1]
    pos += 2
    if length & 0x80:
        n = length & 0x7F
        length = int.from_bytes(data[pos:pos + n], "big")
        pos += n
    return tag, data[pos:pos + length], pos + length


def der_children(data):
    out, pos = [], 0
    while pos < len(data):
        tag, content, pos = der_read(data, pos)
        out.append((tag, content))
    return out


def pem_der(path, label=None):
    text = open(path).read()
    import base64
    blocks = []
    inside = False
    for line in text.splitlines():
        if line.startswith("-----BEGIN"):
            inside, current = True, []
        elif line.startswith("-----END"):
            inside = False
            blocks.append(base64.b64decode("".join(current)))
        elif inside:
            current.append(line.strip())
    return blocks


def certificate_rsa_key(der):
    """The RSA public key of a certificate (None for another kind)."""
    _, cert, _ = der_read(der)
    tbs = der_children(der_children(cert)[0][1])
    fields = tbs[1:] if tbs[0][0] == 0xA0 else tbs  # skip the [0] version
    spki = der_children(fields[5][1])
    if der_children(spki[0][1])[0][1] != bytes.fromhex("2a864886f70d010101"):
        return None
    _, rsa, _ = der_read(spki[1][1][1:])  # the BIT STRING's unused-bits octet first
    n, e = [int.from_bytes(c, "big") for _, c in der_children(rsa)]
    return {"type": "rsa", "n": n, "e": e}


def load_private_key(path):
    """RSA (PKCS#1 or PKCS#8), DSA (traditional or PKCS#8) or DH (PKCS#8) private key."""
    der = pem_der(path)[0]
    _, body, _ = der_read(der)
    items = der_children(body)
    ints = [int.from_bytes(c, "big") for t, c in items if t == 2]
    if len(items) == 3 and items[1][0] == 0x30:  # PKCS#8
        alg = der_children(items[1][1])
        oid = alg[0][1]
        _, inner, _ = der_read(items[2][1])
        if oid == bytes.fromhex("2a864886f70d010101"):
            r = [int.from_bytes(c, "big") for t, c in der_children(inner)]
            return {"type": "rsa", "n": r[1], "e": r[2], "d": r[3]}
        params = [int.from_bytes(c, "big") for t, c in der_children(alg[1][1])]
        x = int.from_bytes(items[2][1][2:] if items[2][1][0] == 2 else inner, "big")
        if items[2][1][0] == 2:
            x = int.from_bytes(der_read(items[2][1])[1], "big")
        if oid == bytes.fromhex("2a8648ce380401"):
            return {"type": "dsa", "p": params[0], "q": params[1], "g": params[2], "x": x}
        return {"type": "dh", "p": params[0], "g": params[1], "x": x}
    if len(ints) >= 9:
        return {"type": "rsa", "n": ints[1], "e": ints[2], "d": ints[3]}
    return {"type": "dsa", "p": ints[1], "q": ints[2], "g": ints[3], "x": ints[5]}


def i2b(v, n=None):
    if n is None:
        n = max(1, (v.bit_length() + 7) // 8)
    return v.to_bytes(n, "big")


def b2i(b):
    return int.from_bytes(b, "big")


DIGEST_INFO = {
    "md5": bytes.fromhex("3020300c06082a864886f70d020505000410"),
    "sha1": bytes.fromhex("3021300906052b0e03021a05000414"),
    "sha224": bytes.fromhex("302d300d06096086480165030402040500041c"),
    "sha256": bytes.fromhex("3031300d060960864801650304020105000420"),
    "sha384": bytes.fromhex("3041300d060960864801650304020205000430"),
    "sha512": bytes.fromhex("3051300d060960864801650304020305000440"),
}
HASH_CODES = {1: "md5", 2: "sha1", 3: "sha224", 4: "sha256", 5: "sha384", 6: "sha512"}


def rsa_sign(key, digest, digest_name=None):
    k = (key["n"].bit_length() + 7) // 8
    t = (DIGEST_INFO[digest_name] if digest_name else b"") + digest
    em = b"\x00\x01" + b"\xff" * (k - len(t) - 3) + b"\x00" + t
    return i2b(pow(b2i(em), key["d"], key["n"]), k)


def rsa_verify(key, digest, signature, digest_name=None):
    k = (key["n"].bit_length() + 7) // 8
    t = (DIGEST_INFO[digest_name] if digest_name else b"") + digest
    em = b"\x00\x01" + b"\xff" * (k - len(t) - 3) + b"\x00" + t
    return len(signature) == k and i2b(pow(b2i(signature), key["e"], key["n"]), k) == em


def rsa_decrypt(key, data):
    k = (key["n"].bit_length() + 7) // 8
    em = i2b(pow(b2i(data), key["d"], key["n"]), k)
    if em[0] != 0 or em[1] != 2:
        raise ValueError("bad PKCS#1 block")
    sep = em.index(b"\x00", 2)
    if sep < 10:
        raise ValueError("bad PKCS#1 padding")
    return em[sep + 1:]


def rsa_encrypt(n, e, data):
    k = (n.bit_length() + 7) // 8
    pad = bytes(b % 255 + 1 for b in os.urandom(k - len(data) - 3))
    return i2b(pow(b2i(b"\x00\x02" + pad + b"\x00" + data), e, n), k)


def dsa_sign(key, digest):
    q = key["q"]
    z = b2i(digest[: (q.bit_length() + 7) // 8])
    while True:
        k = b2i(os.urandom(40)) % (q - 1) + 1
        r = pow(key["g"], k, key["p"]) % q
        s = (pow(k, -1, q) * (z + key["x"] * r)) % q
        if r and s:
            break

    def der_int(v):
        b = i2b(v)
        if b[0] & 0x80:
            b = b"\x00" + b
        return b"\x02" + bytes([len(b)]) + b

    body = der_int(r) + der_int(s)
    return b"\x30" + bytes([len(body)]) + body


# RFC 5054 appendix A, the 1024-bit group.
SRP_N_1024 = int(
    "EEAF0AB9ADB38DD69C33F80AFA8FC5E86072618775FF3C0B9EA2314C9C256576D674DF7496EA81D3383B4813D692C6E0E0D5D8E250B98BE4"
    "8E495C1D6089DAD15DC7D7B46154D6B6CE8EF4AD69B15D4982559B297BCF1885C529F566660E57EC68EDBC3C05726CC02FD4CBF4976EAA9A"
    "FD5138FE8376435B9FC61D2FC0EB06E3", 16)

# RFC 7919 ffdhe2048.
FFDHE2048 = int(
    "FFFFFFFFFFFFFFFFADF85458A2BB4A9AAFDC5620273D3CF1D8B9C583CE2D3695A9E13641146433FBCC939DCE249B3EF97D2FE363630C75D8"
    "F681B202AEC4617AD3DF1ED5D5FD65612433F51F5F066ED0856365553DED1AF3B557135E7F57C935984F0C70E0E68B77E2A689DAF3EFE872"
    "1DF158A136ADE73530ACCA4F483A797ABC0AB182B324FB61D108A94BB2C8E3FBB96ADAB760D7F4681D4F42A3DE394DF4AE56EDE76372BB19"
    "0B07A7C8EE0A6D709E02FCE1CDF7E2ECC03404CD28342F619172FE9CE98583FF8E4F1232EEF28183C3FE3B1B4C6FAD733BB5FCBC2EC22005"
    "C58EF1837D1683B2C6F34A26C1B2EFFA886B423861285C97FFFFFFFFFFFFFFFF", 16)


# ---------------------------------------------------------------------------------------------
# Suites: code -> (key exchange, cipher, mac, export, signature)

SUITES = {
    0x0000: ("NULL", None, None, False, None), 0x0001: ("RSA", None, "md5", True, None),
    0x0002: ("RSA", None, "sha1", True, None), 0x0003: ("RSA", "RC4", "md5", True, None),
    0x0004: ("RSA", "RC4", "md5", False, None), 0x0005: ("RSA", "RC4", "sha1", False, None),
    0x0006: ("RSA", "RC2", "md5", True, None), 0x0008: ("RSA", "DES", "sha1", True, None),
    0x0009: ("RSA", "DES", "sha1", False, None), 0x000A: ("RSA", "3DES", "sha1", False, None),
    0x000B: ("DH", "DES", "sha1", True, "dsa"), 0x000C: ("DH", "DES", "sha1", False, "dsa"),
    0x000D: ("DH", "3DES", "sha1", False, "dsa"), 0x000E: ("DH", "DES", "sha1", True, "rsa"),
    0x000F: ("DH", "DES", "sha1", False, "rsa"), 0x0010: ("DH", "3DES", "sha1", False, "rsa"),
    0x0011: ("DHE", "DES", "sha1", True, "dsa"), 0x0012: ("DHE", "DES", "sha1", False, "dsa"),
    0x0013: ("DHE", "3DES", "sha1", False, "dsa"), 0x0014: ("DHE", "DES", "sha1", True, "rsa"),
    0x0015: ("DHE", "DES", "sha1", False, "rsa"), 0x0016: ("DHE", "3DES", "sha1", False, "rsa"),
    0x0017: ("ADH", "RC4", "md5", True, None), 0x0018: ("ADH", "RC4", "md5", False, None),
    0x0019: ("ADH", "DES", "sha1", True, None), 0x001A: ("ADH", "DES", "sha1", False, None),
    0x001B: ("ADH", "3DES", "sha1", False, None), 0x002F: ("RSA", "AES128", "sha1", False, None),
    0x0030: ("DH", "AES128", "sha1", False, "dsa"), 0x0031: ("DH", "AES128", "sha1", False, "rsa"),
    0x0032: ("DHE", "AES128", "sha1", False, "dsa"), 0x0033: ("DHE", "AES128", "sha1", False, "rsa"),
    0x0034: ("ADH", "AES128", "sha1", False, None), 0x0035: ("RSA", "AES256", "sha1", False, None),
    0x0036: ("DH", "AES256", "sha1", False, "dsa"), 0x0037: ("DH", "AES256", "sha1", False, "rsa"),
    0x0038: ("DHE", "AES256", "sha1", False, "dsa"), 0x0039: ("DHE", "AES256", "sha1", False, "rsa"),
    0x003A: ("ADH", "AES256", "sha1", False, None), 0x0041: ("RSA", "CAM128", "sha1", False, None),
    0x0045: ("DHE", "CAM128", "sha1", False, "rsa"), 0x0084: ("RSA", "CAM256", "sha1", False, None),
    0x008A: ("PSK", "RC4", "sha1", False, None), 0x008B: ("PSK", "3DES", "sha1", False, None),
    0x008C: ("PSK", "AES128", "sha1", False, None), 0x008D: ("PSK", "AES256", "sha1", False, None),
    0x008E: ("DHEPSK", "RC4", "sha1", False, None), 0x008F: ("DHEPSK", "3DES", "sha1", False, None),
    0x0090: ("DHEPSK", "AES128", "sha1", False, None), 0x0091: ("DHEPSK", "AES256", "sha1", False, None),
    0x0092: ("RSAPSK", "RC4", "sha1", False, None), 0x0093: ("RSAPSK", "3DES", "sha1", False, None),
    0x0094: ("RSAPSK", "AES128", "sha1", False, None), 0x0095: ("RSAPSK", "AES256", "sha1", False, None),
    0x0096: ("RSA", "SEED", "sha1", False, None), 0x0097: ("DH", "SEED", "sha1", False, "dsa"),
    0x0098: ("DH", "SEED", "sha1", False, "rsa"), 0x0099: ("DHE", "SEED", "sha1", False, "dsa"),
    0x009A: ("DHE", "SEED", "sha1", False, "rsa"), 0x009B: ("ADH", "SEED", "sha1", False, None),
    0x0050: ("SRP", "3DES", "sha1", False, None), 0x0051: ("SRP", "3DES", "sha1", False, "rsa"),
    0x0052: ("SRP", "3DES", "sha1", False, "dsa"), 0x0053: ("SRP", "AES128", "sha1", False, None),
    0x0054: ("SRP", "AES128", "sha1", False, "rsa"), 0x0055: ("SRP", "AES128", "sha1", False, "dsa"),
    0x0056: ("SRP", "AES256", "sha1", False, None), 0x0057: ("SRP", "AES256", "sha1", False, "rsa"),
    0x0058: ("SRP", "AES256", "sha1", False, "dsa"),
}
KEY_SIZES = {None: 0, "RC4": 16, "RC2": 16, "DES": 8, "3DES": 24, "AES128": 16, "AES256": 32, "CAM128": 16,
             "CAM256": 32, "SEED": 16, "IDEA": 16}
IV_SIZES = {None: 0, "RC4": 0, "RC2": 8, "DES": 8, "3DES": 8, "IDEA": 8}
MAC_SIZES = {None: 0, "md5": 16, "sha1": 20}

# SSL 2.0 cipher specs: spec -> (cipher, master key length, export)
SSL2_SPECS = {
    b"\x01\x00\x80": ("RC4", 16, False), b"\x02\x00\x80": ("RC4", 16, True),
    b"\x03\x00\x80": ("RC2", 16, False), b"\x04\x00\x80": ("RC2", 16, True),
    b"\x06\x00\x40": ("DES", 8, False), b"\x07\x00\xc0": ("3DES", 24, False),
}


class Failure(Exception):
    """The client did something the scenario does not accept."""


class PeerClosed(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# PRFs

def p_hash(name, secret, seed, n):
    out, a = b"", seed
    while len(out) < n:
        a = hmac.new(secret, a, name).digest()
        out += hmac.new(secret, a + seed, name).digest()
    return out[:n]


def prf(version, secret, label, seed, n):
    if version >= 0x0303:
        return p_hash("sha256", secret, label + seed, n)
    half = (len(secret) + 1) // 2
    a = p_hash("md5", secret[:half], label + seed, n)
    b = p_hash("sha1", secret[len(secret) - half:], label + seed, n)
    return bytes(x ^ y for x, y in zip(a, b))


def ssl3_master(pre, cr, sr):
    out = b""
    for label in (b"A", b"BB", b"CCC"):
        out += hashlib.md5(pre + hashlib.sha1(label + pre + cr + sr).digest()).digest()
    return out


def ssl3_key_block(master, sr, cr, n):
    out, i = b"", 0
    while len(out) < n:
        label = bytes([65 + i]) * (i + 1)
        out += hashlib.md5(master + hashlib.sha1(label + master + sr + cr).digest()).digest()
        i += 1
    return out[:n]


def ssl3_hashes(transcript, master, sender):
    md5 = hashlib.md5(master + b"\x5c" * 48 + hashlib.md5(transcript + sender + master + b"\x36" * 48).digest())
    sha = hashlib.sha1(master + b"\x5c" * 40 + hashlib.sha1(transcript + sender + master + b"\x36" * 40).digest())
    return md5.digest() + sha.digest()


# ---------------------------------------------------------------------------------------------
# One TLS / SSL 3.0 connection

class Direction:
    def __init__(self):
        self.cipher = None
        self.mac_key = b""
        self.mac = None
        self.mac_len = 0
        self.seq = 0
        self.active = False
        self.deflate = None  # the direction's zlib stream once compression is in force
        self.inflate = None


class Connection:
    def __init__(self, sock, params, result, cache):
        self.sock = sock
        self.p = params
        self.result = result
        self.cache = cache
        self.version = 0x0301
        self.record_version = 0x0301
        self.read = Direction()
        self.write = Direction()
        self.pending_read = None
        self.pending_write = None
        self.transcript = b""
        self.buffer = b""
        self.hs_buffer = b""
        self.ssl3 = False
        self.compression = 0
        self.early_data = []

    # -- raw input ------------------------------------------------------------------------------
    def recv_exact(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise PeerClosed()
            self.result["client_bytes"] = self.result.get("client_bytes", "") + chunk.hex()
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def send_raw(self, data):
        self.sock.sendall(data)

    # -- records --------------------------------------------------------------------------------
    def mac_of(self, d, ctype, data):
        if not d.mac:
            return b""
        seq = struct.pack(">Q", d.seq)
        if self.ssl3:
            pad = 48 if d.mac == "md5" else 40
            inner = hashlib.new(d.mac, d.mac_key + b"\x36" * pad + seq + bytes([ctype]) +
                                struct.pack(">H", len(data)) + data).digest()
            return hashlib.new(d.mac, d.mac_key + b"\x5c" * pad + inner).digest()
        tag = hmac.new(d.mac_key, seq + bytes([ctype]) + struct.pack(">HH", self.version, len(data)) + data,
                       d.mac).digest()
        return tag[:d.mac_len]

    def protect(self, ctype, data, tamper=None, compressed=False):
        d = self.write
        if not d.active:
            return data
        if d.deflate and not compressed:
            data = d.deflate.compress(data) + d.deflate.flush(zlib.Z_SYNC_FLUSH)
        mac = self.mac_of(d, ctype, data)
        if tamper == "bad_mac":
            mac = bytes([mac[0] ^ 1]) + mac[1:]
        body = data + mac
        if d.cipher and d.cipher.block:
            bs = d.cipher.block
            pad = bs - (len(body) % bs)
            padding = bytes([pad - 1]) * pad
            if tamper == "bad_padding" and pad > 1:
                padding = bytes([pad - 1]) * (pad - 2) + bytes([(pad - 1) ^ 0x40]) + bytes([pad - 1])
            if tamper == "bad_padding" and pad == 1:
                body = body + bytes([bs])  # a length byte that runs past the record
                padding = bytes([bs]) * (bs - 1)
            if tamper == "long_padding":
                padding = bytes([pad - 1 + bs]) * (pad + bs)
            body += padding
            if self.version >= 0x0302 and not self.ssl3:
                body = os.urandom(bs) + body
        if tamper == "short_record" and d.cipher and d.cipher.block:
            body = body[:d.cipher.block]
        if d.cipher:
            body = d.cipher.update(body)
        return body

    def send_record(self, ctype, data, tamper=None, compressed=False):
        """compressed: data is already the record's compressed fragment."""
        body = self.protect(ctype, data, tamper, compressed)
        if self.write.active:
            self.write.seq += 1
        self.send_raw(struct.pack(">BHH", ctype, self.record_version, len(body)) + body)

    def recv_record(self):
        header = self.recv_exact(5)
        ctype, version, length = struct.unpack(">BHH", header)
        body = self.recv_exact(length)
        d = self.read
        if d.active:
            if d.cipher:
                body = d.cipher.update(body)
            if d.cipher and d.cipher.block:
                if self.version >= 0x0302 and not self.ssl3:
                    body = body[d.cipher.block:]
                pad = body[-1] + 1
                body = body[:-pad]
            mac = body[len(body) - d.mac_len:] if d.mac_len else b""
            body = body[:len(body) - d.mac_len]
            if d.mac and self.mac_of(d, ctype, body) != mac:
                raise Failure("bad MAC from the client")
            d.seq += 1
            if d.inflate:
                if ctype == 23:
                    self.result.setdefault("client_compressed_sizes", []).append(len(body))
                self.result.setdefault("client_compressed", []).append(body[:2].hex())
                body = d.inflate.decompress(body)
        return ctype, body

    def record_alert(self, body):
        for i in range(0, len(body) - 1, 2):
            self.result.setdefault("alerts", []).append([body[i], body[i + 1]])

    # -- handshake messages ---------------------------------------------------------------------
    def send_handshake(self, msg_type, body, add_to_transcript=True):
        msg = bytes([msg_type]) + struct.pack(">I", len(body))[1:] + body
        if add_to_transcript:
            self.transcript += msg
        self.pending_out.append(msg)

    def flush(self, tamper=None):
        data = b"".join(self.pending_out)
        self.pending_out = []
        split = self.p.get("split_handshake", 0)
        if split:
            for i in range(0, len(data), split):
                self.send_record(22, data[i:i + split])
        else:
            self.send_record(22, data, tamper)

    def recv_handshake(self):
        """The next handshake message (type, body); alerts are recorded and end the connection."""
        while True:
            if len(self.hs_buffer) >= 4:
                n = struct.unpack(">I", b"\x00" + self.hs_buffer[1:4])[0]
                if len(self.hs_buffer) >= 4 + n:
                    msg, self.hs_buffer = self.hs_buffer[:4 + n], self.hs_buffer[4 + n:]
                    return msg[0], msg[4:], msg
            ctype, body = self.recv_record()
            if ctype == 21:
                self.record_alert(body)
                raise PeerClosed()
            if ctype == 20:
                return "ccs", body, b""
            if ctype != 22:
                raise Failure("record type %d during the handshake" % ctype)
            self.hs_buffer += body

    # -- key derivation -------------------------------------------------------------------------
    def derive(self, premaster):
        cr, sr = self.client_random, self.server_random
        if self.resumed:
            self.master = self.cache["master"]
        elif self.ssl3:
            self.master = ssl3_master(premaster, cr, sr)
        elif self.ems:
            h = hashlib.sha256(self.transcript).digest() if self.version >= 0x0303 else \
                hashlib.md5(self.transcript).digest() + hashlib.sha1(self.transcript).digest()
            self.master = prf(self.version, premaster, b"extended master secret", h, 48)
        else:
            self.master = prf(self.version, premaster, b"master secret", cr + sr, 48)
        self.result["master_secret"] = self.master.hex()
        kex, cipher, mac, export, _ = SUITES[self.suite]
        ms, ks, ivs = MAC_SIZES[mac], KEY_SIZES[cipher], IV_SIZES.get(cipher, 16)
        if export and cipher:
            ks = 5
        n = 2 * (ms + ks + ivs)
        block = ssl3_key_block(self.master, sr, cr, n) if self.ssl3 else \
            prf(self.version, self.master, b"key expansion", sr + cr, n)
        cm, sm = block[:ms], block[ms:2 * ms]
        ck, sk = block[2 * ms:2 * ms + ks], block[2 * ms + ks:2 * (ms + ks)]
        civ, siv = block[2 * (ms + ks):2 * (ms + ks) + ivs], block[2 * (ms + ks) + ivs:n]
        if export and cipher:
            final = 8 if cipher == "DES" else 16
            if self.ssl3:
                ck = hashlib.md5(ck + cr + sr).digest()[:final]
                sk = hashlib.md5(sk + sr + cr).digest()[:final]
                civ = hashlib.md5(cr + sr).digest()[:ivs]
                siv = hashlib.md5(sr + cr).digest()[:ivs]
            else:
                ck = prf(self.version, ck, b"client write key", cr + sr, 16)[:final]
                sk = prf(self.version, sk, b"server write key", cr + sr, 16)[:final]
                ivb = prf(self.version, b"", b"IV block", cr + sr, 2 * ivs)
                civ, siv = ivb[:ivs], ivb[ivs:]
        mac_len = 10 if (self.truncated_hmac and mac) else MAC_SIZES[mac]

        def side(mac_key, key, iv, encrypt):
            d = Direction()
            d.mac, d.mac_key, d.mac_len, d.active = mac, mac_key, mac_len, True
            d.cipher = Cipher(cipher, key, iv, encrypt) if cipher else None
            if self.compression == 1:
                # A fresh stream with each key change (RFC 3749 2), in zlib's format.
                if encrypt:
                    d.deflate = zlib.compressobj(self.p.get("server_level", 6))
                else:
                    d.inflate = zlib.decompressobj()
            return d

        self.pending_read = side(cm, ck, civ, False)
        self.pending_write = side(sm, sk, siv, True)

    def finished(self, client):
        if self.ssl3:
            return ssl3_hashes(self.transcript, self.master, b"CLNT" if client else b"SRVR")
        h = hashlib.sha256(self.transcript).digest() if self.version >= 0x0303 else \
            hashlib.md5(self.transcript).digest() + hashlib.sha1(self.transcript).digest()
        return prf(self.version, self.master, b"client finished" if client else b"server finished", h, 12)

    # -- the server's side ----------------------------------------------------------------------
    def parse_client_hello(self, first):
        """Reads the client's hello (TLS record or SSL 2.0 version-compatible form)."""
        if first[0] & 0x80:
            length = ((first[0] & 0x7F) << 8) | first[1]
            body = self.recv_exact(length)
            self.result["compatible_hello"] = body.hex()
            version, specs_len, sid_len, chal_len = struct.unpack(">HHHH", body[1:9])
            specs = body[9:9 + specs_len]
            chal = body[9 + specs_len + sid_len:9 + specs_len + sid_len + chal_len]
            self.client_random = (b"\x00" * 32 + chal)[-32:]
            suites = [struct.unpack(">H", specs[i + 1:i + 3])[0] for i in range(0, len(specs), 3) if specs[i] == 0]
            self.result["ssl2_specs"] = [specs[i:i + 3].hex() for i in range(0, len(specs), 3) if specs[i] != 0]
            self.transcript += body
            hello = {"version": version, "suites": suites, "compressions": [0], "extensions": [], "session_id": ""}
        else:
            rest = self.recv_exact(3)
            length = struct.unpack(">H", rest[1:3])[0]
            record = self.recv_exact(length)
            self.hs_buffer += record
            msg_type, body, raw = self.recv_handshake()
            if msg_type != 1:
                raise Failure("not a ClientHello")
            self.transcript += raw
            self.result["client_hello_record_version"] = (first[1] << 8) | rest[0]
            self.result["client_hello"] = body.hex()
            pos = 0
            version = struct.unpack(">H", body[0:2])[0]
            self.client_random = body[2:34]
            sid_len = body[34]
            sid = body[35:35 + sid_len]
            pos = 35 + sid_len
            n = struct.unpack(">H", body[pos:pos + 2])[0]
            suites = [struct.unpack(">H", body[pos + 2 + i:pos + 4 + i])[0] for i in range(0, n, 2)]
            pos += 2 + n
            comp = list(body[pos + 1:pos + 1 + body[pos]])
            pos += 1 + body[pos]
            extensions = []
            if pos < len(body):
                end = pos + 2 + struct.unpack(">H", body[pos:pos + 2])[0]
                pos += 2
                while pos < end:
                    t, l = struct.unpack(">HH", body[pos:pos + 4])
                    extensions.append([t, body[pos + 4:pos + 4 + l].hex()])
                    pos += 4 + l
            hello = {"version": version, "suites": suites, "compressions": comp, "extensions": extensions,
                     "session_id": sid.hex()}
        self.result["hello"] = hello
        return hello

    def server_extensions(self, hello):
        offered = {t: bytes.fromhex(d) for t, d in hello["extensions"]}
        ext = b""
        reply = self.p.get("extensions", {})
        self.truncated_hmac = 4 in offered and reply.get("truncated_hmac", False)
        self.ems = 23 in offered and reply.get("ems", True) and not self.ssl3
        self.ticket = 35 in offered and reply.get("ticket", False)
        if self.truncated_hmac:
            ext += struct.pack(">HH", 4, 0)
        if self.ems:
            ext += struct.pack(">HH", 23, 0)
        # client_certificate_url (RFC 6066 5): true echoes it empty, a hex text with that data.
        url_reply = reply.get("client_certificate_url", False)
        if 2 in offered and url_reply is not False:
            d = bytes.fromhex(url_reply) if isinstance(url_reply, str) else b""
            ext += struct.pack(">HH", 2, len(d)) + d
        if 1 in offered and reply.get("max_fragment_length", False):
            ext += struct.pack(">HH", 1, 1) + offered[1][:1]
        if self.ticket:
            ext += struct.pack(">HH", 35, 0)
        secure = (0xFF01 in offered or 0x00FF in hello["suites"]) and reply.get("renegotiation_info", True)
        self.secure_renegotiation = secure
        if secure:
            ri = b""
            if self.renegotiating:
                ri = self.client_verify + self.server_verify
            ext += struct.pack(">HHB", 0xFF01, 1 + len(ri), len(ri)) + ri
        for t, data in reply.get("extra", []):
            d = bytes.fromhex(data)
            ext += struct.pack(">HH", t, len(d)) + d
        return ext

    def choose_suite(self, hello):
        wanted = self.p["suite"]
        if isinstance(wanted, list):
            for w in wanted:
                if w in hello["suites"]:
                    return w
            raise Failure("no suite in common")
        if wanted not in hello["suites"] and not self.p.get("force_suite"):
            raise Failure("suite %04x not offered" % wanted)
        return wanted

    def server_key_exchange(self, kex, sig):
        cr, sr = self.client_random, self.server_random
        if kex in ("DHE", "ADH", "DHEPSK"):
            p = int(self.p.get("dh_p", "%x" % FFDHE2048), 16)
            g = self.p.get("dh_g", 2)
            self.dh_p, self.dh_x = p, b2i(os.urandom(32))
            ys = self.p.get("dh_ys")
            ys = int(ys, 16) if ys else pow(g, self.dh_x, p)
            params = b"".join(struct.pack(">H", len(i2b(v))) + i2b(v) for v in (p, g, ys))
            if kex == "DHEPSK":
                hint = self.p.get("psk_hint", "").encode()
                return struct.pack(">H", len(hint)) + hint + params
        elif kex == "RSA":
            # Export: a temporary 512-bit key (RFC 2246 7.4.3); nothing otherwise.
            if "temp_rsa" not in self.p:
                return None
            tmp = self.p["temp_rsa"]
            self.temp_rsa = tmp
            params = b"".join(struct.pack(">H", len(i2b(v))) + i2b(v) for v in (tmp["n"], tmp["e"]))
        elif kex in ("PSK", "RSAPSK"):
            hint = self.p.get("psk_hint", "").encode()
            return struct.pack(">H", len(hint)) + hint
        elif kex == "SRP":
            s = self.p["srp"]
            N, g, salt = int(s.get("N", "%x" % SRP_N_1024), 16), s.get("g", 2), bytes.fromhex(s["salt"])
            x = b2i(hashlib.sha1(salt + hashlib.sha1((s["user"] + ":" + s["password"]).encode()).digest()).digest())
            v = pow(g, x, N)
            k = b2i(hashlib.sha1(i2b(N) + i2b(g, len(i2b(N)))).digest())
            self.srp_b = b2i(os.urandom(32))
            B = (k * v + pow(g, self.srp_b, N)) % N
            if "B" in s:
                B = int(s["B"], 16)
            self.srp = (N, g, v, B)
            params = b"".join(struct.pack(">H", len(i2b(v))) + i2b(v) for v in (N, g))
            params += bytes([len(salt)]) + salt + struct.pack(">H", len(i2b(B))) + i2b(B)
        else:
            return None
        # An export suite's temporary RSA key is signed with the certificate's (RFC 2246 7.4.3).
        if (sig is None and kex != "RSA") or kex == "ADH":
            return params
        signed = cr + sr + params
        if self.p.get("bad_signature"):
            signed = os.urandom(32) + sr + params
        key = self.server_key
        if self.version >= 0x0303:
            hash_name = self.p.get("ske_hash", "sha256")
            digest = hashlib.new(hash_name, signed).digest()
            code = {v: k for k, v in HASH_CODES.items()}[hash_name]
            if key["type"] == "rsa":
                s = rsa_sign(key, digest, hash_name)
                alg = bytes([code, 1])
            else:
                s = dsa_sign(key, digest)
                alg = bytes([code, 2])
            alg = bytes.fromhex(self.p["ske_algorithm"]) if "ske_algorithm" in self.p else alg
            return params + alg + struct.pack(">H", len(s)) + s
        md5sha = hashlib.md5(signed).digest() + hashlib.sha1(signed).digest()
        s = rsa_sign(key, md5sha) if key["type"] == "rsa" else dsa_sign(key, md5sha[16:])
        return params + struct.pack(">H", len(s)) + s

    def client_key_exchange(self, kex, body):
        if kex in ("RSA", "RSAPSK"):
            if kex == "RSAPSK":
                il = struct.unpack(">H", body[:2])[0]
                self.result["psk_identity"] = body[2:2 + il].decode()
                body = body[2 + il:]
            enc = body if self.ssl3 else body[2:]
            key = self.temp_rsa if getattr(self, "temp_rsa", None) else self.server_key
            pre = rsa_decrypt(key, enc)
            self.result["premaster_version"] = pre[:2].hex()
            if kex == "RSAPSK":
                psk = bytes.fromhex(self.p["psk"])
                return struct.pack(">H", 48) + pre + struct.pack(">H", len(psk)) + psk
            return pre
        if kex in ("DHE", "ADH", "DH"):
            yc = b2i(body[2:])
            p = self.dh_p if kex != "DH" else self.server_key["p"]
            x = self.dh_x if kex != "DH" else self.server_key["x"]
            return i2b(pow(yc, x, p))
        if kex == "PSK":
            il = struct.unpack(">H", body[:2])[0]
            self.result["psk_identity"] = body[2:2 + il].decode()
            psk = bytes.fromhex(self.p["psk"])
            return struct.pack(">H", len(psk)) + b"\x00" * len(psk) + struct.pack(">H", len(psk)) + psk
        if kex == "DHEPSK":
            il = struct.unpack(">H", body[:2])[0]
            self.result["psk_identity"] = body[2:2 + il].decode()
            yc = b2i(body[4 + il:])
            z = i2b(pow(yc, self.dh_x, self.dh_p))
            psk = bytes.fromhex(self.p["psk"])
            return struct.pack(">H", len(z)) + z + struct.pack(">H", len(psk)) + psk
        if kex == "SRP":
            N, g, v, B = self.srp
            A = b2i(body[2:])
            pad = len(i2b(N))
            u = b2i(hashlib.sha1(i2b(A, pad) + i2b(B, pad)).digest())
            S = pow(A * pow(v, u, N) % N, self.srp_b, N)
            return i2b(S)
        if kex == "NULL":
            return b""
        raise Failure("key exchange " + kex)

    def handshake(self, hello):
        p = self.p
        self.pending_out = []
        self.resumed = False
        versions = {"ssl3": 0x0300, "tls1": 0x0301, "tls11": 0x0302, "tls12": 0x0303}
        self.version = versions[p.get("version", "tls12")]
        server_version = p.get("server_version", self.version)
        if hello["version"] < self.version and not p.get("force_version"):
            raise Failure("client offers only %04x" % hello["version"])
        self.ssl3 = self.version == 0x0300
        self.record_version = self.version
        self.truncated_hmac = self.ems = self.ticket = self.secure_renegotiation = False
        for raw in p.get("preface", []):
            self.send_raw(bytes.fromhex(raw))
        self.suite = self.choose_suite(hello)
        self.compression = p.get("compression", 0)
        self.server_random = os.urandom(32)
        kex, cipher, mac, export, sig = SUITES[self.suite]
        session_id = bytes.fromhex(hello["session_id"])
        if p.get("resume") and self.cache.get("id") and session_id == self.cache["id"]:
            self.resumed = True
        elif p.get("resume") and self.cache.get("ticket") and any(
                t == 35 and d == self.cache["ticket"].hex() for t, d in hello["extensions"]):
            self.resumed = True
            self.cache["id"] = session_id
        sid = self.cache["id"] if self.resumed else os.urandom(32)
        if p.get("session_id_length") is not None:
            sid = os.urandom(p["session_id_length"])
        ext = b"" if self.ssl3 and not hello["extensions"] else self.server_extensions(hello)
        body = struct.pack(">H", server_version) + self.server_random + bytes([len(sid)]) + sid + \
            struct.pack(">HB", self.suite, self.compression)
        if ext or p.get("empty_extensions"):
            body += struct.pack(">H", len(ext)) + ext
        self.send_handshake(2, body)
        self.result["session_id"] = sid.hex()
        self.result["resumed"] = self.resumed
        if self.resumed:
            self.derive(None)
            if self.ticket:
                self.send_ticket()
            self.flush()
            self.send_ccs_finished()
            self.read_ccs_finished()
            self.cache["id"] = sid
            return
        self.cache["id"] = sid
        if p.get("early") == "finished":
            self.send_handshake(20, b"\x00" * 12)
        if sig is not None or kex in ("RSA", "RSAPSK"):
            chain = b""
            for path in p["chain"]:
                for der in pem_der(path):
                    chain += struct.pack(">I", len(der))[1:] + der
            self.send_handshake(11, struct.pack(">I", len(chain))[1:] + chain)
        ske = self.server_key_exchange(kex, sig)
        if ske is not None and not (kex == "RSA" and not export) and not (kex in ("PSK", "RSAPSK") and
                                                                          not p.get("psk_hint")):
            self.send_handshake(12, ske)
        if p.get("request_certificate"):
            body = bytes([2, 1, 2])
            if self.version >= 0x0303:
                algs = bytes([4, 1, 2, 1, 4, 2, 2, 2])
                body += struct.pack(">H", len(algs)) + algs
            body += struct.pack(">H", 0)
            self.send_handshake(13, body)
        self.send_handshake(14, b"")
        self.flush(p.get("tamper_flight"))
        # The client's flight.
        t, body, raw = self.recv_handshake()
        client_certs = None
        expect_verify = False
        if p.get("request_certificate"):
            if t == 21:
                self.transcript += raw
                client_certs = self.certificate_url(body)
                expect_verify = True
            elif t == 11:
                self.transcript += raw
                client_certs = body
                self.result["client_certificates"] = body.hex()
                expect_verify = len(body) > 3
            else:
                raise Failure("expected the client's Certificate or CertificateURL")
            t, body, raw = self.recv_handshake()
        if t != 16:
            raise Failure("expected ClientKeyExchange, got %s" % t)
        self.result["client_key_exchange"] = body.hex()
        self.transcript += raw
        pre = self.client_key_exchange(kex, body)
        self.derive(pre)
        if expect_verify:
            t, body, raw = self.recv_handshake()
            if t != 15:
                raise Failure("expected CertificateVerify")
            self.result["certificate_verify"] = body.hex()
            self.result["certificate_verify_ok"] = self.check_certificate_verify(client_certs, body)
            self.transcript += raw
        self.read_ccs_finished()
        if self.ticket:
            self.send_ticket()
        self.send_ccs_finished()

    def certificate_url(self, body):
        """The client's CertificateURL (RFC 6066 5) as read: its chain type and entries of URL and
        hash. params["url_files"] maps a URL to the certificate file it stands for: the hash is
        checked against that certificate, which then stands as the client's certificate for the
        CertificateVerify (as a Certificate message body)."""
        self.result["certificate_url"] = body.hex()
        chain_type, n = body[0], struct.unpack(">H", body[1:3])[0]
        if 3 + n != len(body):
            raise Failure("CertificateURL list length %d in %d bytes" % (n, len(body)))
        entries, pos = [], 3
        while pos < len(body):
            ul = struct.unpack(">H", body[pos:pos + 2])[0]
            url = body[pos + 2:pos + 2 + ul].decode("latin-1")
            pos += 2 + ul
            hash_present = body[pos]
            digest = body[pos + 1:pos + 21] if hash_present == 1 else b""
            pos += 1 + len(digest)
            entries.append([url, digest.hex()])
        self.result["certificate_url_type"] = chain_type
        self.result["certificate_urls"] = entries
        path = self.p.get("url_files", {}).get(entries[0][0]) if entries else None
        if not path:
            return b""
        der = pem_der(path)[0]
        self.result["certificate_url_hash_ok"] = hashlib.sha1(der).hexdigest() == entries[0][1]
        return struct.pack(">I", len(der) + 3)[1:] + struct.pack(">I", len(der))[1:] + der

    def check_certificate_verify(self, certs, body):
        """The client's signature over the transcript so far, with its certificate's RSA key:
        SSL 3.0's hashes with the master secret (RFC 6101 5.6.8), MD5 and SHA-1 before TLS 1.2,
        the named hash with its DigestInfo in TLS 1.2."""
        first = certs[6:6 + int.from_bytes(certs[3:6], "big")]
        key = certificate_rsa_key(first) if first else None
        if key is None:
            return None
        if self.version >= 0x0303:
            name = HASH_CODES.get(body[0])
            if body[1] != 1 or name is None:
                return False
            return rsa_verify(key, hashlib.new(name, self.transcript).digest(), body[4:], name)
        if self.ssl3:
            digest = ssl3_hashes(self.transcript, self.master, b"")
        else:
            digest = hashlib.md5(self.transcript).digest() + hashlib.sha1(self.transcript).digest()
        return rsa_verify(key, digest, body[2:])

    def send_ticket(self):
        ticket = os.urandom(48)
        self.cache["ticket"] = ticket
        self.cache["master_pending"] = True
        self.send_handshake(4, struct.pack(">IH", 300, len(ticket)) + ticket)

    def read_ccs_finished(self):
        t, body, _ = self.recv_handshake()
        if t != "ccs" or body != b"\x01":
            raise Failure("expected the client's ChangeCipherSpec")
        self.read = self.pending_read
        t, body, raw = self.recv_handshake()
        if t != 20:
            raise Failure("expected the client's Finished")
        expected = self.finished(True)
        self.result["client_finished_ok"] = body == expected
        if body != expected:
            raise Failure("client Finished does not match")
        self.client_verify = body
        self.transcript += raw

    def send_ccs_finished(self):
        if self.pending_out:
            self.flush()
        self.send_record(20, b"\x01")
        self.write = self.pending_write
        verify = self.finished(False)
        if self.p.get("bad_finished"):
            verify = bytes([verify[0] ^ 1]) + verify[1:]
        self.server_verify = verify
        self.send_handshake(20, verify)
        self.flush(self.p.get("tamper_finished"))
        self.cache["master"] = self.master

    def serve_http(self, response):
        request = b"".join(self.early_data)
        while b"\r\n\r\n" not in request:
            ctype, body = self.recv_record()
            if ctype == 21:
                self.record_alert(body)
                return
            if ctype != 23:
                raise Failure("record type %d inside the request" % ctype)
            request += body
        self.result["app_data"] = request.decode("latin-1")
        data = response.encode("latin-1")
        for at in range(0, len(data), 16384):
            self.send_record(23, data[at:at + 16384])
        self.send_record(21, b"\x01\x00")

    def serve_application(self):
        """Answers each line reversed, as openssl s_server -rev does, until the client closes."""
        p = self.p
        if p.get("http_response") is not None:
            return self.serve_http(p["http_response"])
        if p.get("after_handshake"):
            for step in p["after_handshake"]:
                self.after_step(step)
        self.line = b""
        for body in self.early_data:
            self.answer(body)
        while True:
            try:
                ctype, body = self.recv_record()
            except PeerClosed:
                return
            if ctype == 21:
                self.record_alert(body)
                if body[:2] == b"\x01\x00":
                    self.send_record(21, b"\x01\x00")
                    return
                if body[0] == 2:
                    return
                continue
            if ctype == 22:
                # a renegotiation the client started on a HelloRequest
                self.hs_buffer += body
                t, hb, raw = self.recv_handshake()
                self.result.setdefault("renegotiation_hellos", []).append(hb.hex())
                continue
            if ctype != 23:
                raise Failure("record type %d after the handshake" % ctype)
            self.answer(body)

    def answer(self, body):
        self.result["app_data"] = self.result.get("app_data", "") + body.decode("latin-1")
        self.line += body
        while b"\n" in self.line:
            one, self.line = self.line.split(b"\n", 1)
            self.send_record(23, one[::-1] + b"\n", self.p.get("tamper_data"))

    def after_step(self, step):
        kind = step[0]
        if kind == "hello_request":
            self.send_record(22, b"\x00\x00\x00\x00")
        elif kind == "record":
            self.send_record(step[1], bytes.fromhex(step[2]), step[3] if len(step) > 3 else None)
        elif kind == "raw":
            self.send_raw(bytes.fromhex(step[1]))
        elif kind == "expect_alert":
            # Application data the client sent meanwhile is answered afterwards.
            while True:
                ctype, body = self.recv_record()
                if ctype == 21:
                    self.record_alert(body)
                    return
                if ctype == 23:
                    self.early_data.append(body)
        elif kind == "data":
            self.send_record(23, step[1].encode())
        elif kind == "fill":
            # n bytes of one value as one application-data record (compressed when the session
            # compresses, so its plaintext may be longer than a record may carry).
            self.send_record(23, bytes([step[2]]) * step[1])
        elif kind == "compressed":
            # A compressed fragment as given (hex), or random bytes deflated on their own to
            # the size given, in place of what the stream would make.
            data = bytes.fromhex(step[2]) if isinstance(step[2], str) else \
                zlib.compress(os.urandom(step[2]))
            self.send_record(step[1], data, compressed=True)

    def run(self):
        first = self.recv_exact(2)
        self.renegotiating = False
        hello = self.parse_client_hello(first)
        if self.p.get("version") == "ssl2":
            return SSL2Server(self, hello).run()
        self.handshake(hello)
        self.result["handshake_done"] = True
        self.serve_application()


# ---------------------------------------------------------------------------------------------
# SSL 2.0

class SSL2Server:
    def __init__(self, conn, hello):
        self.c = conn
        self.p = conn.p
        self.hello = hello
        self.send_seq = 0
        self.recv_seq = 1  # the CLIENT-HELLO was record 0
        self.read = self.write = None
        self.read_key = self.write_key = b""

    def send(self, data, pad=0):
        if self.write and self.write.block and not pad:
            pad = (self.write.block - (len(data) + 16) % self.write.block) % self.write.block
        if self.write:
            mac = hashlib.md5(self.write_key + data + b"\x00" * pad + struct.pack(">I", self.send_seq)).digest()
            if self.p.get("ssl2_bad_mac"):
                mac = bytes([mac[0] ^ 1]) + mac[1:]
            body = self.write.update(mac + data + b"\x00" * pad)
        else:
            body = data
        if pad:
            header = struct.pack(">HB", len(body) & 0x3FFF, pad)
        else:
            header = struct.pack(">H", 0x8000 | len(body))
        self.send_seq += 1
        self.c.send_raw(header + body)

    def recv(self):
        h = self.c.recv_exact(2)
        if h[0] & 0x80:
            length, pad = ((h[0] & 0x7F) << 8) | h[1], 0
        else:
            length, pad = ((h[0] & 0x3F) << 8) | h[1], self.c.recv_exact(1)[0]
        body = self.c.recv_exact(length)
        if self.read:
            body = self.read.update(body)
            mac, data = body[:16], body[16:]
            if hashlib.md5(self.read_key + data + struct.pack(">I", self.recv_seq)).digest() != mac:
                raise Failure("bad SSL 2.0 MAC from the client")
            body = data[:len(data) - pad]
        self.recv_seq += 1
        return body

    def run(self):
        p, c = self.p, self.c
        specs = [bytes.fromhex(s) for s in c.result.get("ssl2_specs", [])]
        if not specs and "hello" in c.result:
            raise Failure("no SSL 2.0 specs offered")
        server_specs = [bytes.fromhex(s) for s in p.get("ssl2_server_specs", [])] or \
            [s for s in specs if s in SSL2_SPECS]
        if not server_specs:
            raise Failure("no SSL 2.0 spec in common")
        challenge = bytes.fromhex(c.result["compatible_hello"])[-16:]
        cert = pem_der(p["chain"][0])[0]
        conn_id = os.urandom(16)
        body = bytes([4, 0, 1]) + struct.pack(">HHHH", p.get("ssl2_server_version", 2), len(cert),
                                                 3 * len(server_specs), len(conn_id))
        body += cert + b"".join(server_specs) + conn_id
        self.send(body)
        if p.get("ssl2_early"):
            self.send(bytes([6]) + os.urandom(16))
        cmk = self.recv()
        if cmk[0] != 2:
            raise Failure("expected CLIENT-MASTER-KEY")
        spec = cmk[1:4]
        c.result["ssl2_spec"] = spec.hex()
        clear_len, enc_len, arg_len = struct.unpack(">HHH", cmk[4:10])
        clear = cmk[10:10 + clear_len]
        enc = cmk[10 + clear_len:10 + clear_len + enc_len]
        arg = cmk[10 + clear_len + enc_len:10 + clear_len + enc_len + arg_len]
        c.result["ssl2_clear_key_length"] = clear_len
        master = clear + rsa_decrypt(c.server_key, enc)
        cipher, key_len, export = SSL2_SPECS[spec]

        def km(n):
            return hashlib.md5(master + str(n).encode() + challenge + conn_id).digest()

        if cipher == "DES":
            server_write, server_read = km(0)[:8], km(0)[8:]
        elif cipher == "3DES":
            k0, k1, k2 = km(0), km(1), km(2)
            server_write, server_read = k0 + k1[:8], k1[8:] + k2
        else:
            server_write, server_read = km(0), km(1)
        iv = arg or None
        self.write = Cipher(cipher, server_write, iv, True)
        self.read = Cipher(cipher, server_read, iv, False)
        self.write_key, self.read_key = server_write, server_read
        verify = challenge if not p.get("ssl2_bad_verify") else bytes([challenge[0] ^ 1]) + challenge[1:]
        self.send(bytes([5]) + verify)
        finished = self.recv()
        if finished[0] != 3 or finished[1:] != conn_id:
            raise Failure("bad CLIENT-FINISHED %s, connection id %s" % (finished.hex(), conn_id.hex()))
        if p.get("ssl2_error"):
            self.send(bytes([0]) + struct.pack(">H", p["ssl2_error"]))
            return
        if p.get("ssl2_request_certificate"):
            # REQUEST-CERTIFICATE (authentication type 1, RSA-MD5), then the client's
            # CLIENT-CERTIFICATE: its response is MD5(client read key, client write key,
            # challenge, server certificate) signed with the certificate's key.
            request = os.urandom(16)
            self.send(bytes([7, 1]) + request)
            m = self.recv()
            if m[0] != 8:
                raise Failure("expected CLIENT-CERTIFICATE")
            cert_len, resp_len = struct.unpack(">HH", m[2:6])
            client_cert, response = m[6:6 + cert_len], m[6 + cert_len:6 + cert_len + resp_len]
            c.result["ssl2_client_certificate"] = client_cert.hex()
            key = certificate_rsa_key(client_cert)
            digest = hashlib.md5(server_write + server_read + request + cert).digest()
            c.result["ssl2_client_certificate_ok"] = bool(key) and rsa_verify(key, digest, response, "md5")
        self.send(bytes([6]) + os.urandom(16))
        c.result["handshake_done"] = True
        line = b""
        while True:
            try:
                data = self.recv()
            except PeerClosed:
                return
            c.result["app_data"] = c.result.get("app_data", "") + data.decode("latin-1")
            line += data
            while b"\n" in line:
                one, line = line.split(b"\n", 1)
                answer = one[::-1] + b"\n"
                block = self.write.block
                pad = (block - (len(answer) + 16) % block) % block if block else 0
                self.send(answer, pad)


# ---------------------------------------------------------------------------------------------

def main():
    folder = sys.argv[1]
    params = json.load(open(os.path.join(folder, "params.json")))
    listener = listen(4, reuse_address=True)
    # The next connection may wait for the test's work on the one before.
    listener.settimeout(2 * TIMEOUT)
    write_atomically(os.path.join(folder, "port"), str(listener.getsockname()[1]).encode())
    server_key = load_private_key(params["key"]) if params.get("key") else None
    if params.get("temp_rsa_key"):
        params["temp_rsa"] = load_private_key(params["temp_rsa_key"])
    cache = {}
    for n in range(params.get("connections", 1)):
        try:
            sock = accept(listener)
        except socket.timeout:
            return
        result = {}
        each = params.get("each", [])
        conn = Connection(sock, dict(params, **each[n]) if n < len(each) else params, result, cache)
        conn.server_key = server_key
        try:
            conn.run()
        except PeerClosed:
            result["closed_by_client"] = True
        except Failure as e:
            result["failure"] = str(e)
        except Exception:
            result["failure"] = traceback.format_exc()
        finally:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()
            write_atomically(os.path.join(folder, "result-%d.json" % n), json.dumps(result).encode())


if __name__ == "__main__":
    main()
