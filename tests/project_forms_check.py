#!/usr/bin/env python3
"""Projects in the odd forms that real .hhp files, sitemaps and pages take, each converted with
`sitemap-to-qhp [ARGS] --output-dir out PROJECT.hhp` in a folder of its own and held to what a
user gets: the status, a line of standard error, what the .qhp holds, what a packed page holds.
Each case writes only the files that matter; the rest come from a small default project.

usage: project_forms_check.py QHP_BIN WORK_DIR
"""
import os
import shutil
import subprocess
import sys

TOC = ('<HTML><BODY><UL>\n'
       '<LI><OBJECT type="text/sitemap"><param name="Name" value="Start">'
       '<param name="Local" value="start.htm"></OBJECT>\n</UL></BODY></HTML>\n')
PAGE = '<html><head><title>Start page</title></head><body>start</body></html>\n'


def toc(*entries):
    """A contents file of (title, page) entries, page None for a heading."""
    lines = ['<HTML><BODY><UL>']
    for title, page in entries:
        local = '<param name="Local" value="%s">' % page if page is not None else ''
        lines.append('<LI><OBJECT type="text/sitemap"><param name="Name" value="%s">%s</OBJECT>'
                     % (title, local))
    return '\n'.join(lines + ['</UL></BODY></HTML>\n'])


def hhp(*lines):
    return '\r\n'.join(lines) + '\r\n'


# (name, files, extra arguments, project file, checks). A check is (what, expected):
#   status N; err TEXT (a line of stderr holds it); noerr TEXT (none does); qhp TEXT (the .qhp
#   holds it); noqhp TEXT; page (PATH, BYTES) (the packed file holds them); same PATH (the
#   packed file is the source byte for byte); nofile PATH (not packed).
CASES = [
    ('a comma inside a quoted window field; the window names the start page',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Default Window=main', '[WINDOWS]',
                   'main="Tools, and more","toc.hhc",,"Start.htm",,,,,,0x2520,,0x0,,,,,0'),
      'toc.hhc': TOC, 'start.htm': PAGE},
     [], 'p.hhp',
     [('status', 0), ('qhp', '<section title="Tools, and more" ref="start.htm">')]),
    ('the default window matched in another letter case wins over [OPTIONS]',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Title=Options title',
                   'Default Window=MAIN', '[WINDOWS]', 'main="Window title","toc.hhc"'),
      'toc.hhc': TOC, 'start.htm': PAGE},
     [], 'p.hhp', [('qhp', '<section title="Window title" ref="start.htm">')]),
    ('Compiled file and Contents file written with backslashes',
     {'p.hhp': hhp('[OPTIONS]', 'Compiled file=..\\out\\My_Book.chm',
                   'Contents file=sub\\toc.hhc', 'Default topic=sub\\start.htm'),
      'sub/toc.hhc': TOC.replace('start.htm', 'sub\\start.htm'), 'sub/start.htm': PAGE},
     [], 'p.hhp',
     [('status', 0), ('qhp', '<namespace>my_book</namespace>'),
      ('qhp', '<section title="Start page" ref="sub/start.htm">'),
      ('qhp', '<file>sub/start.htm</file>')]),
    ('--contents given with a project wins over the one it names',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc'), 'toc.hhc': TOC,
      'other.hhc': toc(('Other', 'start.htm')), 'start.htm': PAGE},
     ['--contents', 'other.hhc'], 'p.hhp', [('status', 0), ('qhp', 'title="Other"')]),
    ('several contents files and none named: an error, not the first one taken',
     {'p.hhp': hhp('[OPTIONS]', 'Title=T'), 'a.hhc': TOC, 'b.hhc': TOC, 'start.htm': PAGE},
     [], 'p.hhp',
     [('status', 1), ('err', 'Error: p.hhp names no contents file (Contents file=).')]),
    ('the start page the project names is packed though nothing links it',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Default topic=welcome.htm'),
      'toc.hhc': TOC, 'start.htm': PAGE, 'index.html': PAGE,
      'welcome.htm': '<title> Welcome  &amp;amp;\n here </title>'},
     [], 'p.hhp',
     [('qhp', '<section title="Welcome &amp;amp; here" ref="welcome.htm">'),
      ('qhp', '<file>welcome.htm</file>'), ('nofile', 'index.html')]),
    ('no start page named: index.html, packed',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Title=T'), 'toc.hhc': TOC,
      'start.htm': PAGE, 'index.html': PAGE},
     [], 'p.hhp', [('qhp', '<section title="T" ref="index.html">'),
                   ('qhp', '<file>index.html</file>')]),
    ('no start page named and no index.html: the first page of the contents',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Title=T'), 'toc.hhc': TOC,
      'start.htm': PAGE},
     [], 'p.hhp', [('qhp', '<section title="T" ref="start.htm">')]),
    ('namespaces: "_" kept, leading "_" and "." trimmed',
     {'p.hhp': hhp('[OPTIONS]', 'Compiled file=._my_Help.chm', 'Contents file=toc.hhc'),
      'toc.hhc': TOC, 'start.htm': PAGE},
     [], 'p.hhp', [('qhp', '<namespace>my_help</namespace>')]),
    ('a name of nothing but "_" never gives an empty namespace',
     {'p.hhp': hhp('[OPTIONS]', 'Compiled file=___.chm', 'Contents file=toc.hhc'),
      'toc.hhc': TOC, 'start.htm': PAGE},
     [], 'p.hhp', [('status', 0), ('qhp', '<namespace>help-'), ('noqhp', '<namespace></')]),
    ('Language in upper-case hex: windows-1254',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Language=0x41F Turkish'),
      'toc.hhc': toc(('\xd0\xfd', 'start.htm')).encode('latin-1'), 'start.htm': PAGE},
     [], 'p.hhp', [('qhp', 'title="\u011e\u0131"')]),
    ('Language in decimal: windows-1251, and &ETH; read as its byte 0xD0',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Language=1049'),
      'toc.hhc': toc(('\xc0&ETH;', 'start.htm')).encode('latin-1'), 'start.htm': PAGE},
     [], 'p.hhp', [('qhp', 'title="\u0410\u0420"')]),
    ('<meta> charset with a blank before "=", in single quotes, after the first kilobyte',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc'),
      'toc.hhc': ('<HTML><HEAD><!-- ' + 'x' * 2000 + ' -->'
                  "<meta http-equiv='Content-Type' content='text/html; charset =shift_jis'>"
                  '</HEAD>' + toc(('\\\x81\x60', 'start.htm'))[6:]).encode('latin-1'),
      'start.htm': PAGE},
     [], 'p.hhp', [('qhp', 'title="\\\uff5e"')]),
    ('file names on disk in windows-1252 where the project gives no Language',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc'),
      'toc.hhc': toc(('Caf\xe9', 'caf\xe9.htm')).encode('latin-1'),
      b'caf\xe9.htm': PAGE},
     [], 'p.hhp',
     [('status', 0), ('noerr', 'no file for page'), ('qhp', '<file>caf\u00e9.htm</file>'),
      ('same', ('caf\u00e9.htm', b'caf\xe9.htm'))]),
    ('links followed: %XX, another letter case, a ?query, url() in style, @import in quotes;'
     ' a link to a folder warns of nothing',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc'), 'toc.hhc': TOC,
      'start.htm': '<html><head><style>@import \'css/a.css\'; p {background: url(img/b.png)}'
                   '</style></head><body><a href="other%20page.htm?x=1#t">o</a>'
                   '<a href="UPPER.HTM">u</a><p style="background:url(\'img/c.png\')">'
                   '<a href="sub/">a folder</a><a href="page.xhtml">x</a></body></html>',
      'other page.htm': 'o', 'upper.htm': 'u', 'css/a.css': '@import "d.css";',
      'css/d.css': 'd', 'img/b.png': 'b', 'img/c.png': 'c', 'unused.htm': 'n',
      'page.xhtml': '<html><head></head><body>\xe9<img src="img/e.png"/></body></html>'
                    .encode('latin-1'),
      'img/e.png': 'e'},
     [], 'p.hhp',
     [('status', 0), ('qhp', '<file>other page.htm</file>'), ('qhp', '<file>upper.htm</file>'),
      ('qhp', '<file>css/a.css</file>'), ('qhp', '<file>css/d.css</file>'),
      ('qhp', '<file>img/b.png</file>'), ('qhp', '<file>img/c.png</file>'),
      ('qhp', '<file>img/e.png</file>'), ('nofile', 'unused.htm'), ('noerr', 'sub'),
      ('page', ('page.xhtml', '<head><meta charset="utf-8"></head><body>\u00e9'.encode()))]),
    ('pages: ASCII left byte for byte, <header> is no <head>',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc'),
      'toc.hhc': toc(('A', 'ascii.htm'), ('H', 'header.htm')),
      'ascii.htm': '<html><head><meta charset="windows-1252"></head>plain</html>\n',
      'header.htm': '<header>\xe9</header>'.encode('latin-1')},
     [], 'p.hhp',
     [('same', ('ascii.htm', 'ascii.htm')),
      ('page', ('header.htm', '<meta charset="utf-8"><header>\u00e9</header>'.encode()))]),
    ('headings lead to the first page below them, else to the start page',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Default topic=start.htm'),
      'toc.hhc': '<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="H1"></OBJECT>'
                 '<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="H2"></OBJECT>'
                 '<UL><LI><OBJECT type="text/sitemap"><param name="Name" value="A">'
                 '<param name="Local" value="a.htm#x"></OBJECT></UL></UL>'
                 '<LI><OBJECT type="text/sitemap"><param name="Name" value="H3"></OBJECT>'
                 '<LI><OBJECT type="text/sitemap"><param name="Name" value="B">'
                 '<param name="Local" value="b.htm"></OBJECT></UL>',
      'start.htm': PAGE, 'a.htm': 'a', 'b.htm': 'b'},
     [], 'p.hhp',
     [('qhp', '<section title="H1" ref="a.htm#x">'), ('qhp', '<section title="H2" ref="a.htm#x">'),
      ('qhp', '<section title="H3" ref="start.htm"/>'), ('noerr', 'index.html')]),
    ('[FILES] with wildcards, as HTML Help Workshop takes them',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', '[FILES]', 'Pages\\*.HTM',
                   'nothing\\*.htm'),
      'toc.hhc': TOC, 'start.htm': PAGE, 'pages/a.htm': 'a', 'pages/b.htm': 'b',
      'pages/sub/c.htm': 'c', 'pages/d.css': 'd'},
     [], 'p.hhp',
     [('status', 0), ('qhp', '<file>pages/a.htm</file>'), ('qhp', '<file>pages/b.htm</file>'),
      ('nofile', 'pages/sub/c.htm'), ('nofile', 'pages/d.css'), ('noerr', 'Pages'),
      ('err', 'Warning: nothing\\*.htm, which p.hhp names as files to pack, matches no file.')]),
    ('an empty index still warns that it has no entries',
     {'p.hhp': hhp('[OPTIONS]', 'Contents file=toc.hhc', 'Index file=i.hhk'), 'toc.hhc': TOC,
      'start.htm': PAGE, 'i.hhk': ''},
     [], 'p.hhp',
     [('status', 0), ('err', 'Warning: no entries in i.hhk: the help gets no keywords.')]),
]


def write_files(folder, files):
    for name, data in files.items():
        path = os.path.join(os.fsencode(folder), name if isinstance(name, bytes) else
                            name.encode())
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data.encode() if isinstance(data, str) else data)


def check_case(qhp, work, n, case):
    name, files, args, project, checks = case
    folder = os.path.join(work, 'case-%d' % n)
    write_files(folder, files)
    done = subprocess.run([qhp] + args + ['--output-dir', 'out', project], cwd=folder,
                          capture_output=True)
    err = done.stderr.decode(errors='replace')
    out = os.path.join(folder, 'out')
    qhps = [f for f in os.listdir(out) if f.endswith('.qhp')] if os.path.isdir(out) else []
    text = open(os.path.join(out, qhps[0]), encoding='utf-8').read() if qhps else ''
    wrong = []
    for what, expected in checks:
        if what == 'status' and done.returncode != expected:
            wrong.append('status %d' % done.returncode)
        elif what == 'err' and not any(expected in line for line in err.splitlines()):
            wrong.append('no line with %r' % expected)
        elif what == 'noerr' and expected in err:
            wrong.append('a line with %r' % expected)
        elif what == 'qhp' and expected not in text:
            wrong.append('.qhp lacks %r' % expected)
        elif what == 'noqhp' and expected in text:
            wrong.append('.qhp holds %r' % expected)
        elif what == 'nofile' and os.path.exists(os.path.join(out, expected)):
            wrong.append('%s packed' % expected)
        elif what == 'page':
            path = os.path.join(out, expected[0])
            data = open(path, 'rb').read() if os.path.exists(path) else b''
            if expected[1] not in data:
                wrong.append('%s lacks %r: %r' % (expected[0], expected[1], data[:120]))
        elif what == 'same':
            packed, source = expected
            path = os.path.join(out, packed)
            source = os.path.join(os.fsencode(folder),
                                  source if isinstance(source, bytes) else source.encode())
            if not os.path.exists(path) or open(path, 'rb').read() != open(source, 'rb').read():
                wrong.append('%s not the source byte for byte' % packed)
    print('%s: %s' % (name, '; '.join(wrong) if wrong else 'ok'))
    if wrong:
        print('  stderr: %s' % err.strip().replace('\n', ' | ')[:300])
    return bool(wrong)


def main():
    qhp, work = sys.argv[1:3]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    failed = [check_case(qhp, work, n, case) for n, case in enumerate(CASES)]
    print('%d cases, %d wrong' % (len(failed), failed.count(True)))
    sys.exit(1 if any(failed) else 0)


if __name__ == '__main__':
    main()
