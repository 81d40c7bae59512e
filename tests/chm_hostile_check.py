#!/usr/bin/env python3
"""Books no compiler writes, built byte by byte (tests/chm_builder.py) or patched from a compiled
one, each converted with `sitemap-to-qhp --output-dir out BOOK.chm` and held to what a user
gets: the status, a line of standard error, the files written and what the .qhp says. These are
the books a stranger can hand the reader: names that are not UTF-8, hold a control character,
a stored '\\' or the format's own prefixes; a recorded length no page has; settings in every
place a book keeps them.

usage: chm_hostile_check.py QHP_BIN WORK_DIR [ROOT CHMCMD]
With chmcmd, books it compiles are patched and converted too: an entry that claims a length no
page has, and a real book of one page of 6 MB of repeated text, 29 KB compressed.
"""
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chm_builder as cb  # noqa: E402

PAGE = b'<html><head><title>Page</title></head><body>page</body></html>'


def toc(*pages):
    entries = ''.join('<LI><OBJECT type="text/sitemap"><param name="Name" value="%s">'
                      '<param name="Local" value="%s"></OBJECT>' % (p, p) for p in pages)
    return ('<HTML><BODY><UL>%s</UL></BODY></HTML>' % entries).encode()


def system(*records):
    return cb.system_file([(code, text + b'\0') for code, text in records])


def book(extra=None, system_records=((0, b'toc.hhc'),), lcid=0x409, **options):
    files = {'/toc.hhc': toc('a.htm'), '/a.htm': PAGE, '/#SYSTEM': system(*system_records)}
    files.update(extra or {})
    return cb.build(files, lcid=lcid, **options)


def windows_book(windows, system_records, extra):
    win, strings = cb.windows_file(windows)
    files = {'/a.htm': PAGE, '/#SYSTEM': system(*system_records), '/#WINDOWS': win,
             '/#STRINGS': strings}
    files.update(extra)
    return cb.build(files)


def read_encint(data, at):
    n = 0
    while True:
        b = data[at]
        at += 1
        n = (n << 7) | (b & 0x7F)
        if b < 0x80:
            return n, at


def with_lengths(data, lengths):
    """A compiled book with the recorded lengths of some entries changed: each listing chunk
    that holds one is written anew."""
    data = bytearray(data)
    directory = struct.unpack_from('<Q', data, 0x48)[0]
    header, chunk_size = struct.unpack_from('<I', data, directory + 8)[0], struct.unpack_from(
        '<I', data, directory + 0x10)[0]
    chunks = struct.unpack_from('<I', data, directory + 0x2C)[0]
    found = set()
    for c in range(chunks):
        at = directory + header + c * chunk_size
        chunk = data[at:at + chunk_size]
        if chunk[:4] != b'PMGL':
            continue
        count = struct.unpack_from('<H', chunk, chunk_size - 2)[0]
        pos, entries, changed = 0x14, b'', False
        for _ in range(count):
            length, pos = read_encint(chunk, pos)
            name = bytes(chunk[pos:pos + length])
            pos += length
            section, pos = read_encint(chunk, pos)
            offset, pos = read_encint(chunk, pos)
            size, pos = read_encint(chunk, pos)
            if name in lengths:
                size, changed = lengths[name], True
                found.add(name)
            entries += (cb.encint(len(name)) + name + cb.encint(section) + cb.encint(offset) +
                        cb.encint(size))
        if changed:
            new = bytearray(chunk_size)
            new[:0x14] = chunk[:0x14]
            struct.pack_into('<I', new, 4, chunk_size - 0x14 - len(entries))
            new[0x14:0x14 + len(entries)] = entries
            struct.pack_into('<H', new, chunk_size - 2, count)
            data[at:at + chunk_size] = new
    assert found == set(lengths), 'no such entries: %s' % (set(lengths) - found)
    return bytes(data)


# (name, book bytes, status, a line stderr must hold, checks on the output folder `out`):
# ('file', PATH, BYTES) written with these bytes; ('nofile', PATH); ('qhp', TEXT) in the .qhp;
# ('noqhp', TEXT); ('gone',) no output folder left.
def cases(compiled):
    yield ('names not UTF-8, with a control character, or the format\'s own: left out',
           book({b'/caf\xe9.htm': PAGE, '/ctl\x01.htm': PAGE, '/$WWKeywordLinks/Property': b'x',
                 '/#IDXHDR': b'x', '::DataSpace/NameList': b'x', '/sub/': b''}),
           0, 'Warning: left out /caf\\xE9.htm of the book',
           [('qhp', '<file>a.htm</file>'), ('nofile', '$WWKeywordLinks/Property'),
            ('nofile', '#IDXHDR'), ('nofile', 'ctl\x01.htm'), ('noqhp', 'ctl'),
            ('noqhp', '#IDXHDR'), ('err', 'Warning: left out /ctl\\x01.htm of the book')])
    yield ('a stored \\ read as /, and a second name of one path left out',
           book({'/sub\\b.htm': b'first', '/sub/b.htm': b'second'}),
           0, 'Warning: left out /sub/b.htm of the book: sub/b.htm is written already.',
           [('file', 'sub/b.htm', b'first'), ('qhp', '<file>sub/b.htm</file>')])
    yield ('chmcmd\'s note on the book is no file of it',
           book({'/_#_README_#_': b'This archive was not made by the MS HTML Help Workshop'}),
           0, None, [('nofile', '_#_README_#_'), ('noqhp', 'README')])
    yield ('the language of the ITSF header where #SYSTEM gives none; pages to UTF-8',
           book({'/a.htm': b'<html><head><title>\xc0\xe1</title></head><body>\xc2</body></html>'},
                system_records=((0, b'toc.hhc'), (3, b'\xca\xed\xe8\xe3\xe0')), lcid=0x419),
           0, None,
           [('qhp', 'title="\u041a\u043d\u0438\u0433\u0430"'),
            ('file', 'a.htm', '<html><head><meta charset="utf-8"><title>\u0410\u0431</title>'
                              '</head><body>\u0412</body></html>'.encode())])
    yield ('the language of #SYSTEM over the header\'s',
           book({'/a.htm': b'<html><head></head><body>\xc1</body></html>'},
                system_records=((0, b'toc.hhc'), (4, struct.pack('<I', 0x408) + b'\0' * 24)),
                lcid=0x419),
           0, None, [('file', 'a.htm', '<body>\u0391</body>'.encode())])
    yield ('contents from the window\'s contents field, the default window in any letter case',
           windows_book([{0x08: b'first', 0x14: b'First', 0x60: b'b.hhc'},
                         {0x08: b'main', 0x14: b'Main', 0x60: b'a.hhc', 0x64: b'b.hhc',
                          0x68: b'a.htm'}],
                        [(5, b'MAIN')],
                        {'/a.hhc': toc('a.htm'), '/b.hhc': toc('b.htm'), '/b.htm': PAGE}),
           0, None, [('qhp', '<section title="Main" ref="a.htm">'),
                     ('qhp', '<section title="a.htm" ref="a.htm"/>'),
                     ('qhp', '<keyword name="b.htm" ref="b.htm"/>'),
                     ('noqhp', 'section title="b.htm"')])
    yield ('contents only in binary form',
           cb.build({'/a.htm': PAGE, '/#TOCIDX': b'\0' * 16, '/#SYSTEM': system((3, b'T'))}),
           1, 'holds its contents only in binary form (#TOCIDX)', [('gone',)])
    yield ('neither contents nor index: the start page, every file',
           cb.build({'/a.htm': PAGE, '/b.htm': PAGE, '/#SYSTEM': system((2, b'b.htm'))}),
           0, 'has no contents', [('qhp', '<section title="Page" ref="b.htm">'),
                                  ('qhp', '<file>a.htm</file>')])
    # #SYSTEM with "Untitled" (what compilers write for no title) and a last record cut short;
    # #WINDOWS that says it has more windows than it holds, and a text past #STRINGS.
    broken_system = (cb.system_file([(3, b'Untitled\0'), (0, b'toc.hhc\0'), (2, b'a.htm\0')]) +
                     struct.pack('<HH', 5, 500) + b'main')
    one_window = bytearray(0xC4)
    struct.pack_into('<II', one_window, 0x14, 9999, 0)
    yield ('records cut short, more windows than held, texts past #STRINGS, "Untitled"',
           cb.build({'/a.htm': PAGE, '/toc.hhc': toc('a.htm'), '/#SYSTEM': broken_system,
                     '/#WINDOWS': struct.pack('<II', 3, 0xC4) + bytes(one_window),
                     '/#STRINGS': b'\0'}),
           0, None, [('qhp', '<section title="Page" ref="a.htm">')])
    yield ('windows of a size too small to hold their fields are none',
           cb.build({'/a.htm': PAGE, '/toc.hhc': toc('a.htm'),
                     '/#SYSTEM': system((0, b'toc.hhc'), (3, b'From SYSTEM')),
                     '/#WINDOWS': struct.pack('<II', 1, 0x20) + b'\xff' * 0x20,
                     '/#STRINGS': b'\0'}),
           0, None, [('qhp', '<section title="From SYSTEM" ref="a.htm">')])
    # #IVB: pairs of a context number and the offset of its page's path in #STRINGS.
    paths = [b'SUB\\B.HTM', b'/build/host/help/a.htm', b'gone.htm']
    strings = b'\0' + b''.join(path + b'\0' for path in paths)
    at = [strings.index(path) for path in paths]
    pairs = [(1, at[0]), (2, at[1]), (3, 0), (4, at[2]), (5, 9999), (1, at[1])]
    # A pair past the length #IVB gives is none.
    ivb = (struct.pack('<I', 8 * len(pairs)) + b''.join(struct.pack('<II', *p) for p in pairs) +
           struct.pack('<II', 6, at[0]))
    yield ('context ids: \\ and letter case, a compiling machine\'s path, no page, a second page',
           book({'/sub/b.htm': PAGE, '/#IVB': ivb, '/#STRINGS': strings}), 0,
           'Warning: the context id 4 leads to gone.htm, which is not in the book.',
           [('qhp', 'id="1" ref="sub/b.htm"'), ('qhp', 'id="2" ref="a.htm"'),
            ('noqhp', 'id="6"'), ('err', 'Warning: the context id 3 names no page.'),
            ('err', 'Warning: the context id 5 names no page.'),
            ('err', 'Warning: the context id 1 leads to sub/b.htm and to a.htm: sub/b.htm is '
                    'kept.')])
    # One page with many ids and no keyword: each gets a keyword of its own, found in one pass.
    many = 20000
    # (and a length past what #IVB holds)
    ivb = struct.pack('<I', 8 * many + 800) + b''.join(struct.pack('<II', n, 1) for n in range(many))
    yield ('%d ids of one page' % many,
           book({'/#IVB': ivb, '/#STRINGS': b'\0a.htm\0'}), 0, None,
           [('qhp', '<keyword name="a.htm" id="0" ref="a.htm"/>'),
            ('qhp', '<keyword name="Page" id="1" ref="a.htm"/>'),
            ('qhp', '<keyword name="a.htm" id="%d" ref="a.htm"/>' % (many - 1))])
    # A crafted #IVB of more ids than any book maps.
    most = 1 << 20
    ivb = struct.pack('<I', 8 * (most + 5)) + struct.pack('<II', 7, 1) * (most + 5)
    yield ('more than %d context ids' % most,
           book({'/#IVB': ivb, '/#STRINGS': b'\0a.htm\0'}), 0,
           'Warning: left out the last 5 context ids of the book: it holds more than 1048576.',
           [('qhp', 'id="7" ref="a.htm"')])
    damaged = bytearray(book())
    struct.pack_into('<I', damaged, struct.unpack_from('<Q', damaged, 0x48)[0] + 0x2C, 0)
    yield ('a directory of no chunks', bytes(damaged), 1,
           'Error: book.chm is not a .chm book that can be read (damaged).', [('gone',)])
    yield ('a .chm that is no book', b'<html>no book</html>', 1,
           'Error: book.chm is not a .chm book (it does not start with ITSF).', [('gone',)])
    # Chunk 0 holds no listing: the repair for chmcmd's directories must leave the first
    # listing chunk where the header says.
    yield ('chunk 0 is no listing chunk',
           book(pad_chunks=1), 0, None, [('qhp', '<file>a.htm</file>')])
    yield ('chunk 0 is a listing chunk the header passes over (chmcmd): read too',
           book({'/b.htm': PAGE}, chunk_names=[['/a.htm', '/b.htm'],
                                               ['/#SYSTEM', '/toc.hhc']], first_pmgl=1),
           0, None, [('qhp', '<file>a.htm</file>'), ('qhp', '<file>b.htm</file>')])
    if compiled is not None:
        data = open(compiled[0], 'rb').read()
        # libmspack would write out whatever length an entry claims: one far beyond any page
        # is refused before anything is decompressed.
        yield ('an entry that claims 2 TiB', with_lengths(data, {b'/index.html': 1 << 41}),
               1, 'Error: index.html of book.chm claims more bytes than a book of its size can '
               'hold.', [('gone',)])
        yield ('a real book of a 6 MB page, 29 KB compressed', open(compiled[1], 'rb').read(),
               0, None, [('file', 'big.htm', b'makes Jack a dull boy.</p>\n</body></html>\n')])
        yield ('an entry cut short in a stored section',
               book(lengths={'/a.htm': len(PAGE) + 100}), 1,
               'Error: Failed to decompress a.htm of book.chm.', [('gone',)])


def check(qhp, work, n, case):
    name, data, status, line, checks = case
    folder = os.path.join(work, 'case-%d' % n)
    os.makedirs(folder)
    with open(os.path.join(folder, 'book.chm'), 'wb') as f:
        f.write(data)
    done = subprocess.run([qhp, '--output-dir', 'out', 'book.chm'], cwd=folder,
                          capture_output=True)
    err = done.stderr.decode(errors='replace')
    out = os.path.join(os.fsencode(folder), b'out')
    text = ''
    if os.path.exists(os.path.join(out, b'book.qhp')):
        text = open(os.path.join(out, b'book.qhp'), encoding='utf-8').read()
    wrong = []
    if done.returncode != status:
        wrong.append('status %d' % done.returncode)
    if line is not None and line not in err:
        wrong.append('no line with %r' % line)
    if status == 1 and sum(l.startswith('Error: ') for l in err.splitlines()) != 1:
        wrong.append('not one error line')
    for c in checks:
        if c[0] == 'file':
            path = os.path.join(out, c[1].encode())
            got = open(path, 'rb').read() if os.path.isfile(path) else None
            if got is None or c[2] not in got:
                wrong.append('%s: %r' % (c[1], got and got[:100]))
        elif c[0] == 'nofile' and os.path.lexists(os.path.join(out, c[1].encode())):
            wrong.append('%r written' % c[1])
        elif c[0] == 'qhp' and c[1] not in text:
            wrong.append('.qhp lacks %r' % c[1])
        elif c[0] == 'noqhp' and c[1] in text:
            wrong.append('.qhp holds %r' % c[1])
        elif c[0] == 'err' and c[1] not in err:
            wrong.append('no line with %r' % c[1])
        elif c[0] == 'gone' and os.path.exists(out):
            wrong.append('the output folder stays')
    leftover = set(os.listdir(folder)) - {'book.chm', 'out'}
    if leftover:
        wrong.append('wrote beside the folder: %s' % sorted(leftover))
    print('%s: %s' % (name, '; '.join(wrong) if wrong else 'ok'))
    if wrong:
        print('  stderr: %s' % err.strip().replace('\n', ' | ')[:400])
    return bool(wrong)


def compile_books(root, chmcmd, work):
    """The example and a book of one page of 6 MB of repeated text, compiled by chmcmd."""
    handbook = os.path.join(work, 'handbook')
    shutil.copytree(os.path.join(root, 'examples', 'handbook'), handbook)
    big = os.path.join(work, 'big')
    os.makedirs(big)
    line = '<p>All work and no play makes Jack a dull boy. All work and no play makes Jack a ' \
           'dull boy.</p>\n'
    with open(os.path.join(big, 'big.htm'), 'w') as f:
        f.write('<html><head><title>Big</title></head><body>' + line * (6 * 2**20 // len(line)) +
                '</body></html>\n')
    with open(os.path.join(big, 'toc.hhc'), 'wb') as f:
        f.write(toc('big.htm'))
    with open(os.path.join(big, 'big.hhp'), 'w') as f:
        f.write('[OPTIONS]\nCompiled file=big.chm\nContents file=toc.hhc\n'
                'Default topic=big.htm\nTitle=Big\n\n[FILES]\nbig.htm\n')
    for folder, project in ((handbook, 'handbook.hhp'), (big, 'big.hhp')):
        subprocess.run([chmcmd, project], cwd=folder, capture_output=True)
    return os.path.join(handbook, 'handbook.chm'), os.path.join(big, 'big.chm')


def main():
    qhp, work = sys.argv[1:3]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    compiled = None
    if len(sys.argv) > 4:
        compiled = compile_books(sys.argv[3], sys.argv[4], os.path.join(work, 'compiled'))
    failed = [check(qhp, work, n, case) for n, case in enumerate(cases(compiled))]
    print('%d cases, %d wrong' % (len(failed), failed.count(True)))
    sys.exit(1 if any(failed) else 0)


if __name__ == '__main__':
    main()
