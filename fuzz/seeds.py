#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target under fuzz/corpus/, from the byte examples the
tests hold. Run it again after changing a seed; the files are committed."""
import hashlib
import pathlib
import shutil
import struct

root = pathlib.Path(__file__).resolve().parent / "corpus"


def pack(fmt, *values):
    """The records of PackRecord: A text + NUL, B, W, I, D (T reads 8 raw bytes), F."""
    out = b""
    for letter, v in zip(fmt, values):
        if letter == "A":
            out += (v.encode() if isinstance(v, str) else v) + b"\0"
        elif letter == "B":
            out += struct.pack("<B", v & 0xFF)
        elif letter == "W":
            out += struct.pack("<H", v & 0xFFFF)
        elif letter == "I":
            out += struct.pack("<i", v)
        elif letter in "DT":
            out += struct.pack("<d", v)
        elif letter == "F":
            out += struct.pack("<f", v)
    return out


def body(code, payload, seq=1):
    return code.encode() + struct.pack("<H", seq) + payload


def frame(path, data, keep_alive=True):
    head = b"POST " + path + b"\r\n"
    if keep_alive:
        head += b"Connection: Keep-Alive\r\n"
    return head + b"Content-Length: " + str(len(data)).encode() + b"\r\n\r\n" + data


def record(kind, payload=b""):
    return struct.pack("<H", 3 + len(payload)) + kind + b"\0\0" + payload


PING = b"/mrPing/mrpingserver.dll"
SHARE = b"/sharing/mrsharev1.dll"
LISTING = pack("IITWBAAA", 2, 3, 1.0, 0, 0, "a", "b", "") + pack(
    "IITWBAAA", 2, -1, 0.0, 0, 1, "Music/Live ", "set", "desc")
FOUND = pack("IITWBAAAAAWWBB", 7, 1000, 0.0, 0, 0, "Music", "a.mp3", "a song", "bob",
             "10.0.0.5", 1111, 2222, 3, 1)
CRITERIA = pack("AAIIABBB", "mus%", "%%", -2, -2, "%", 0, 100, 0)

seeds = {
    "record": [
        b"\x83" + bytes.fromhex("07000000 02 61626300 E803"),
        b"\x06" + b"I" + pack("I", -5) + b"B\xc8" + b"Ah\xc3\xa9llo\0" + b"W\xff\xff"
        + b"D" + pack("D", 0.25) + b"F" + pack("F", 2.5) + b"T" + bytes(range(1, 9)),
        b"\x80" + FOUND,
        b"\x81" + pack("AAAAABTBAAAI", "Bob", "Smith", "bob", "US", "b@x", 2, 36000.0, 77,
                       "en", "hi", "http://x", 5),
    ],
    "fields": [b"MSG 7 bob 1111 hello\\ world\r\n", b"a\\*b * \\\\ c\\\r\\\n", b"*", b"  x  "],
    "wire": [
        b"\x00" + record(b"R", b"abc") + record(b"T"),
        b"\x03" + record(b"R", b"x") + record(b"R", b"y") + record(b"T") + b"\0",
        b"\x02" + record(b"E") + b"\0",
        b"\x01" + bytes.fromhex("1000 52 0000"),
        b"\x00" + bytes.fromhex("0500 54 0000 AAAA 00"),
    ],
    "service_request": [
        b"\x07" + frame(PING, body("L", pack("IAWW", 1, "pw", 1111, 2222)))
        + frame(PING, body("C", b"")),
        b"\x20" + frame(SHARE, body("T", pack("BIA", ord("L"), 1, "pw")), keep_alive=False),
        b"\x00" + b"POST /x\r\nContent-Length: 99999999999\r\n\r\n",
        b"\x00" + b"POST  \r\nContent-Length: 0\r\n\r\n",
    ],
    "service_handler": [
        b"\x02" + body("L", pack("IAWW", 1, "pw", 1111, 2222)),
        b"\x00" + body("H", pack("I", 2)),
        b"\x00" + body("F", pack("IA", 1, "Music")),
        b"\x00" + body("S", CRITERIA),
        b"\x00" + body("V", pack("AAAAB", "%", "%", "%", "%", 0)),
        b"\x00" + body("I", pack("I", 1)),
        b"\x03" + body("?", pack("AAAAABDAAAAB", "Bob", "S", "b@x", "US", "", 2, 0.0, "M",
                                 "hi", "en", "http://x", 1)),
        b"\x03" + body("C", b""),
        b"\x03" + body("A", pack("I", 2)),
        b"\x03" + body("D", pack("I", 2)),
        b"\x03" + body("Q", b""),
        b"\x04" + body("T", pack("BIA", ord("L"), 1, "pw")
                       + pack("BIDWBAAA", ord("A"), -1, 0.0, 0, 0, "", "Music", " ")
                       + pack("BIDWBAAA", ord("A"), 5, 0.0, 0, 1, "Music", "a.mp3", "song")
                       + pack("BA", ord("R"), "Music/old")),
    ],
    "web": [
        b"\x00GET /motd/motd.txt HTTP/1.0\r\n\r\n",
        b"\x05GET /a?b=%20 HTTP/1.1\nHost: x\nUser-Agent: t\n\n",
        b"\x01GET /Search/mrSearch.dll?Register?username=Zoe&password=p%26q%3Dr%20s HTTP/1.0"
        b"\r\n\r\n",
        b"\x02GET /Search/mrSearch.dll?SetUserInfo?UserID=1&Password=pw&FirstName=Bo HTTP/1.1"
        b"\r\nHost: web\r\n\r\n",
    ],
    "smtp": [
        b"\x00EHLO client\r\nMAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\nSubject: x\r\n\r\n"
        b"..dot\r\nbody\r\n.\r\nQUIT\r\n",
        b"\x01HELO x\r\nMAIL FROM:<>\r\nRCPT TO:<c@d>\r\nRSET\r\nNOOP\r\nVRFY\r\n",
    ],
    "chatserver": [
        b"LOGIN 1 pw\r\nLIST\r\nJOIN @Music rock\r\nMSG @Music rock 'hello there'\r\n"
        b"USERID cy\r\nPART @Music rock\r\n",
        b"LOGIN 1 pw\r\nJOIN Music 'new one'\r\nMSG Music 'new one' hi\r\nLOGIN 1 pw\r\n",
        b"LIST\r\n",
        b"LOGIN 2 pw\r\nJOIN @Music\r\n",
    ],
    "ftpline": [
        b"\x10USER bob\r\nPASS qlmtvokrenbhxa\r\nPORT 127,0,0,1,4,1\r\nREQF /Music/a.mp3*0*1111*7"
        b"\0*bob*\r\n",
        b"\x00  retr  /a b \r\n227 Entering Passive Mode (127,0,0,1,4,1).\r\n150-x\n",
        b"\x01" + b"A" * 300 + b"\n",
    ],
    "peerparams": [
        b"\x00/Music/a.mp3*0*1111*7\0*bob*",
        b"\x00  /a b*100*65535*-3  ",
        b"\x01127,0,0,1,4,1",
        b"\x01 10 , 0 ,0,5, 255,255 ",
        b"\x02" + b"2 1 0 0 12345",
        b"\x02" + b"404 File not found",
    ],
    "listing": [
        b"F" + LISTING[:35] + b"F" + LISTING[35:],
        bytes.fromhex("46 02000000 03000000 000000000000F03F 0000 00 6100 6200 00"),
        b"XYF" + pack("IITWBAAA", 2, 3, 0.0, 0, 0, "a/b", "", "x"),
    ],
    "replies": [
        b"\x00" + FOUND + FOUND[:20],
        b"\x01" + bytes.fromhex("07000000 626F6200 426F6200 00 624078 00 02"),
        b"\x02" + pack("AAAAABTBAAAI", "Bob", "Smith", "bob", "US", "b@x", 2, 36000.0, 77,
                       "en", "hi", "http://x", 5),
        b"\x03" + b"C" + pack("IB", 4, 1) + b"Q" + pack("IIII", 1, 2, 3, 4) + b"C"
        + bytes.fromhex("0400"),
    ],
    "info": [b"MSG 7 bob 1111 hello\\ there\\r\\n", b"PTPCHAT bob hi\\ you", b"PING!",
             b"MSG x bob 1 t", b"MSG 7 bob 70000 t"],
    "chatline": [b"301 @Music rock 'it''s me' bob", b"  'a b' \t c'd e'f ''", b"YES 4000",
                 b"YES  65536", b"NO"],
    "motd": [
        b"\x01chat.example:2000,chat2:2001\r\nservice:7000\nweb:80\r1.05\nHello\nthere\n",
        b"\x00\n\r\nb\nc\rcaf\xc3\xa9\n",
        b"\x00a:1\nb\nc:\n 2.00005 \n",
        b"\x02HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nchat:1\nx\ny\nextra",
        b"\x04HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        b"5;ext=1\r\nchat:\r\n3\r\n1\nz\r\n0\r\n\r\n",
        b"\x06HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\nbody till close",
    ],
    "rtf": [
        b"{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}"
        b"\\f0\\fs20 {\\b Big} news\\par {\\i\\cf1 Caf\\'e9} {\\fs40 more}\\par"
        b"\\{braces\\} \\u8364?5}",
        b"  {\\rtf1{\\pict 0102}{\\*\\generator x;}\\ul under\\ulnone\\b0 \\tab x}",
        b"plain text",
    ],
}

for target, inputs in seeds.items():
    folder = root / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for data in inputs:
        (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)
