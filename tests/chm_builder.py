#!/usr/bin/env python3
"""Builds .chm books byte by byte, every file stored uncompressed, so that tests can give a reader
the books no compiler writes: names that are not UTF-8 or hold a control character or a stored
'\\', entries whose recorded length is far beyond the book, #SYSTEM and #WINDOWS records of any
shape, a directory whose first listing chunk is recorded wrong. The layout is the one HTML Help
Workshop writes (ITSF version 3, one ITSP directory of PMGL listing chunks).
"""
import struct

GUID1 = bytes.fromhex('10fd017caa7bd0119e0c00a0c922e6ec')
GUID2 = bytes.fromhex('11fd017caa7bd0119e0c00a0c922e6ec')
CHUNK = 4096


def encint(n):
    """7 bits a byte, most significant first, the high bit on all but the last."""
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def system_file(records, version=3):
    """#SYSTEM: a version, then (code, data) records; texts are given with their NUL."""
    out = struct.pack('<I', version)
    for code, data in records:
        out += struct.pack('<HH', code, len(data)) + data
    return out


def windows_file(windows):
    """#WINDOWS and #STRINGS from windows given as {field offset: text}: each text is put in
    #STRINGS and its offset into the entry (0x08 name, 0x14 title, 0x60 contents, 0x64 index,
    0x68 default file)."""
    table = b'\0'
    entries = b''
    for window in windows:
        entry = bytearray(0xC4)
        for field, text in window.items():
            struct.pack_into('<I', entry, field, len(table))
            table += text + b'\0'
        entries += bytes(entry)
    return struct.pack('<II', len(windows), 0xC4) + entries, table


def build(files, lcid=0x409, lengths=None, chunk_names=None, first_pmgl=None, pad_chunks=0):
    """A book of `files` ({stored name: bytes}, names as bytes or str, '/' first for files of
    the book). `lengths` records other lengths than the data's for some names; `chunk_names`
    splits the names over listing chunks (a list of lists; default: as many as fit in one);
    `first_pmgl` records another first listing chunk; `pad_chunks` puts that many chunks that
    are no listing chunks (PMGI) before the listing chunks."""
    lengths = lengths or {}
    names = [n.encode() if isinstance(n, str) else n for n in files]
    data = {n.encode() if isinstance(n, str) else n: d for n, d in files.items()}
    lengths = {n.encode() if isinstance(n, str) else n: v for n, v in lengths.items()}
    content = b''
    offsets = {}
    for name in names:
        offsets[name] = len(content)
        content += data[name]
    groups = chunk_names or [sorted(names)]
    groups = [[n.encode() if isinstance(n, str) else n for n in g] for g in groups]
    chunks = []
    for _ in range(pad_chunks):
        chunk = bytearray(CHUNK)
        chunk[0:4] = b'PMGI'
        struct.pack_into('<I', chunk, 4, CHUNK - 8)
        chunks.append(bytes(chunk))
    listing_start = len(chunks)
    for g, group in enumerate(groups):
        entries = b''
        for name in group:
            entries += (encint(len(name)) + name + encint(0) + encint(offsets[name]) +
                        encint(lengths.get(name, len(data[name]))))
        assert 0x14 + len(entries) + 2 <= CHUNK, 'too many names for one chunk'
        chunk = bytearray(CHUNK)
        chunk[0:4] = b'PMGL'
        struct.pack_into('<IIii', chunk, 4, CHUNK - 0x14 - len(entries), 0,
                         listing_start + g - 1 if g > 0 else -1,
                         listing_start + g + 1 if g + 1 < len(groups) else -1)
        chunk[0x14:0x14 + len(entries)] = entries
        struct.pack_into('<H', chunk, CHUNK - 2, len(group))
        chunks.append(bytes(chunk))
    first = listing_start if first_pmgl is None else first_pmgl
    itsp = bytearray(0x54)
    itsp[0:4] = b'ITSP'
    struct.pack_into('<IIIIIiiiIII', itsp, 4, 1, 0x54, 0x0A, CHUNK, 2, 1, -1, first,
                     len(chunks) - 1, 0xFFFFFFFF, len(chunks))
    struct.pack_into('<I', itsp, 0x30, lcid)
    struct.pack_into('<I', itsp, 0x44, 0x54)
    directory = bytes(itsp) + b''.join(chunks)
    header_len = 0x60
    hs0_at = header_len
    dir_at = hs0_at + 0x18
    content_at = dir_at + len(directory)
    total = content_at + len(content)
    itsf = bytearray(header_len)
    itsf[0:4] = b'ITSF'
    struct.pack_into('<IIII', itsf, 4, 3, header_len, 1, 0)
    struct.pack_into('<I', itsf, 0x14, lcid)
    itsf[0x18:0x28] = GUID1
    itsf[0x28:0x38] = GUID2
    struct.pack_into('<QQQQQ', itsf, 0x38, hs0_at, 0x18, dir_at, len(directory), content_at)
    hs0 = struct.pack('<IIQII', 0x1FE, 0, total, 0, 0)
    return bytes(itsf) + hs0 + directory + content
