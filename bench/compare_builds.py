#!/usr/bin/env python3
"""Runs two builds of sitemap-to-dcf on the same generated projects and compares everything they
leave: the DCF (also the partial one of a failed run), standard output, standard error, status.

usage: compare_builds.py REFERENCE CANDIDATE [--count N] [--first-seed S] [--keep DIR --keep-max M]

Projects come from generate_project.py: small ones damaged in random places (--mutate) and
well-formed ones of a few sizes. With --keep, one project of each distinct outcome (status, error
line and the kind of detail line) is written to DIR as an end-to-end case folder, with the
REFERENCE build's results as the expected ones.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(binary, folder):
    dcf = os.path.join(folder, 'qt-assistant.dcf')
    if os.path.exists(dcf):
        os.remove(dcf)
    p = subprocess.run([binary], cwd=folder, capture_output=True, timeout=600)
    data = open(dcf, 'rb').read() if os.path.exists(dcf) else None
    return p.returncode, p.stdout, p.stderr, data


def outcome_kind(result):
    status, out, err, _ = result
    details = sorted(set(re.findall(rb'^(Invalid [a-z ]+):', out, re.M)))
    empty_line = out.endswith(b'Invalid line: \n')
    keywords = result[3] is not None and b'<keyword ' in result[3]
    return (status, err, tuple(details), empty_line, keywords)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('reference')
    ap.add_argument('candidate')
    ap.add_argument('--count', type=int, default=300)
    ap.add_argument('--first-seed', type=int, default=1)
    ap.add_argument('--keep')
    ap.add_argument('--keep-max', type=int, default=12)
    a = ap.parse_args()

    work = tempfile.mkdtemp()
    kinds = {}
    same = differ = 0
    for seed in range(a.first_seed, a.first_seed + a.count):
        folder = os.path.join(work, str(seed))
        if seed % 10 == 0:
            args = [str(50 * (seed % 7 + 1)), folder, '--seed', str(seed)]
        else:
            args = [str(3 + seed % 40), folder, '--seed', str(seed), '--mutate', str(1 + seed % 12)]
        subprocess.run([sys.executable, os.path.join(HERE, 'generate_project.py')] + args,
                       check=True)
        ref = run(a.reference, folder)
        cand = run(a.candidate, folder)
        if ref == cand:
            same += 1
        else:
            differ += 1
            print('seed %d differs: status %d/%d' % (seed, ref[0], cand[0]))
        kind = outcome_kind(ref)
        size = sum(os.path.getsize(os.path.join(folder, f)) for f in ('Contents.hhc', 'Index.hhk'))
        if kind not in kinds or size < kinds[kind][1]:
            if kind in kinds:
                shutil.rmtree(kinds[kind][0])
            kinds[kind] = (folder, size, seed, ref)
        else:
            shutil.rmtree(folder)
    print('%d projects: %d identical, %d different; %d distinct outcomes' %
          (same + differ, same, differ, len(kinds)))
    if a.keep:
        chosen = sorted(kinds.values(), key=lambda k: k[1])[:a.keep_max]
        for folder, size, seed, (status, out, err, dcf) in chosen:
            dest = os.path.join(a.keep, 'generated_seed_%d' % seed)
            os.makedirs(dest, exist_ok=True)
            for f in ('Contents.hhc', 'Index.hhk'):
                shutil.copy(os.path.join(folder, f), dest)
            open(os.path.join(dest, 'expected.stdout'), 'wb').write(out)
            open(os.path.join(dest, 'expected.stderr'), 'wb').write(err)
            open(os.path.join(dest, 'expected.status'), 'w').write('%d\n' % status)
            if dcf is not None:
                open(os.path.join(dest, 'expected.dcf'), 'wb').write(dcf)
            print('kept %s (%d bytes): %s' % (dest, size, err.decode('latin-1').strip() or 'ok'))
    shutil.rmtree(work)
    return 1 if differ else 0


if __name__ == '__main__':
    sys.exit(main())
