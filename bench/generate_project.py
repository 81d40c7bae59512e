#!/usr/bin/env python3
"""Writes a synthetic HTML Help project (Contents.hhc and Index.hhk) of a given size.

The contents are a tree of chapters, sections and topics, some without a page. The index keeps
the layout the keyword walk counts on: every entry of a sub-list but the last takes 5 lines (one
pair, no sub-list), and only the last may have more pairs or a sub-list of its own. Pages share
prefixes (p12.html, p12.html#usage, p12.htmlx) and anchors, as real manuals do.

With --mutate K the project is then damaged in up to K random places (lines dropped, doubled, swapped
or cut short, junk and blank lines, other letter case, CR LF and CR CR LF ends, very long lines,
text after list literals, empty and duplicate pages, an early end), for comparing two builds on
inputs that break the rules.

With --shape the project takes another shape than the mixed default: `prefixes` (pages under
long shared paths, reference/api/classes/...), `anchors` (20 keywords a page, most of them
anchors), `deep` (index entries nested up to 6 levels), `sparse` (only one page in ten has
keywords).

usage: generate_project.py PAGES OUTDIR [--seed S] [--keywords K] [--mutate K] [--shape SHAPE]
"""
import argparse
import os
import random

HEAD = [
    '<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">', '<HTML>', '<HEAD>',
    '<meta name="GENERATOR" content="generate_project.py">', '<!-- Sitemap 1.0 -->', '</HEAD>',
    '<BODY>', '<OBJECT type="text/site properties">', '<param name="ImageType" value="Folder">',
    '</OBJECT>', '<UL>',
]
IHEAD = ['<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">', '<HTML>', '<HEAD>', '</HEAD>',
         '<BODY>', '<UL>']
OBJ = '<LI> <OBJECT TYPE="TEXT/SITEMAP">'
END = '</OBJECT>'
WORDS = ('lamp lens prism fuel wick fog horn signal log report watch tide chart storm keeper '
         'tower gallery beacon flare buoy rock reef harbour vessel').split()


def name(v):
    return '<PARAM NAME="Name" VALUE="%s">' % v


def local(v):
    return '<PARAM NAME="Local" VALUE="%s">' % v


def title(rng):
    return ' '.join(rng.choice(WORDS) for _ in range(rng.randint(1, 4))).capitalize()


def page_name(shape, n):
    if shape == 'prefixes':
        return 'reference/api/classes/module%d/class%d.html' % (n // 100, n)
    return 'p%d.html' % n


def make_contents(rng, pages, shape='mixed'):
    out = list(HEAD)
    refs = []
    n = 0

    def topic(depth):
        nonlocal n
        n += 1
        ref = page_name(shape, n)
        if rng.random() < 0.05:
            out.extend([OBJ, name(title(rng)), END])  # an entry without a page
        else:
            refs.append(ref)
            out.extend([OBJ, name(title(rng)), local(ref), END])
        if depth < 3 and n < pages and rng.random() < 0.3:
            out.append('<UL>')
            for _ in range(rng.randint(1, 6)):
                if n >= pages:
                    break
                topic(depth + 1)
            out.append('</UL>')

    while n < pages:
        topic(1)
    out.extend(['</UL>', '</BODY>', '</HTML>'])
    return out, refs


def make_index(rng, refs, per_page, shape='mixed'):
    out = list(IHEAD)
    targets = []
    max_depth = 6 if shape == 'deep' else 3
    for ref in refs:
        if shape == 'sparse' and rng.random() < 0.9:
            continue
        for k in range(max(1, int(rng.gauss(per_page, 1)))):
            targets.append(ref if k == 0 else '%s#%s%d' % (ref, rng.choice(WORDS), k))
    rng.shuffle(targets)

    def entry(keyword, pairs, sub=None):
        out.extend([OBJ, name(keyword)])
        for t in pairs:
            out.extend([name(title(rng)), local(t)])
        out.append(END)
        if sub:
            out.append('<UL>')
            sub()
            out.append('</UL>')

    def sub_list(items, depth):
        def emit():
            for i, t in enumerate(items):
                if i < len(items) - 1:
                    entry('%s %d' % (rng.choice(WORDS), i), [t])
                elif depth < max_depth and len(items) > 2 and rng.random() < 0.3:
                    cut = rng.randint(1, 3) if shape != 'deep' else rng.randint(2, len(items) - 1)
                    entry('%s last' % rng.choice(WORDS), [t], sub_list(items[:cut], depth + 1))
                else:
                    entry('%s last' % rng.choice(WORDS), [t] * rng.randint(1, 2))
        return emit

    i = 0
    while i < len(targets):
        r = rng.random()
        if r < 0.7:
            entry(title(rng).lower(), [targets[i]])
            i += 1
        elif r < 0.85:
            entry(title(rng).lower(), targets[i:i + 2])
            i += 2
        else:
            k = rng.randint(2, 8) if shape != 'deep' else rng.randint(6, 20)
            entry(title(rng).lower(), [targets[i]], sub_list(targets[i + 1:i + 1 + k], 2))
            i += 1 + k
    out.extend(['</UL>', '</BODY>', '</HTML>'])
    return out


def mutate(rng, lines, count):
    for _ in range(count):
        if not lines:
            return
        i = rng.randrange(len(lines))
        kind = rng.randrange(13)
        if kind == 0:
            del lines[i]
        elif kind == 1:
            lines.insert(i, lines[i])
        elif kind == 2 and i + 1 < len(lines):
            lines[i], lines[i + 1] = lines[i + 1], lines[i]
        elif kind == 3:
            lines.insert(i, rng.choice(['', 'junk', '<UL> <LI>', '</UL> trailing', '<ul>',
                                        '  <UL>', '<PARAM NAME="Name" VALUE="x>']))
        elif kind == 4:
            lines[i] = lines[i].lower()
        elif kind == 5:
            lines[i] += rng.choice(['\r', '\r\r', ' ', '\t'])
        elif kind == 6:
            lines.insert(i, 'L' * rng.choice([32766, 32767, 32768, 40000]))
        elif kind == 7:
            lines.insert(i, local(rng.choice(['', 'p1', 'p1.html', 'p1.html#x', 'p1.htmlx'])))
        elif kind == 8:
            lines.insert(i, name('N' * rng.choice([10, 32738, 32739, 33000])))
        elif kind == 9:
            del lines[i:]
        elif kind == 10:
            lines[i] = lines[i][:rng.randrange(len(lines[i]) + 1)]
        elif kind == 11:
            lines.insert(i, rng.choice(['<UL>', '</UL>']))
        else:
            lines.insert(i, lines[rng.randrange(len(lines))])


def write(path, lines, rng, damaged):
    text = '\n'.join(lines) + '\n'
    if damaged and rng.random() < 0.2:
        text = text.replace('\n', '\r\n')
    if damaged and rng.random() < 0.2:
        text = text.rstrip('\n')  # no line feed after the last line
    with open(path, 'w', encoding='latin-1', newline='') as f:
        f.write(text)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('pages', type=int)
    ap.add_argument('outdir')
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--keywords', type=float, default=3.0)
    ap.add_argument('--mutate', type=int, default=0)
    ap.add_argument('--shape', default='mixed',
                    choices=['mixed', 'prefixes', 'anchors', 'deep', 'sparse'])
    a = ap.parse_args()
    rng = random.Random(a.seed)
    if a.shape == 'anchors':
        a.keywords = 20.0
    contents, refs = make_contents(rng, a.pages, a.shape)
    if a.mutate:  # duplicate and prefix-sharing pages
        refs += [refs[0]] if refs else []
    index = make_index(rng, refs, a.keywords, a.shape)
    if a.mutate:
        ends = [i for i, line in enumerate(contents) if line == END]
        for ref in rng.sample(['p1.html', 'p1.html#x', 'p1', '', 'p2.html', 'index.html'], 3):
            at = rng.choice(ends) + 1 if ends else len(contents)
            contents[at:at] = [OBJ, name('extra ' + ref), local(ref), END]
        # The contents walk stops at its first damaged line, so damage the contents less often
        # and the index more: most runs should reach the index.
        if rng.random() < 0.3:
            mutate(rng, contents, rng.randint(1, 3))
        mutate(rng, index, rng.randint(1, a.mutate))
    os.makedirs(a.outdir, exist_ok=True)
    write(os.path.join(a.outdir, 'Contents.hhc'), contents, rng, a.mutate)
    write(os.path.join(a.outdir, 'Index.hhk'), index, rng, a.mutate)


if __name__ == '__main__':
    main()
