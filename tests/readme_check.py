#!/usr/bin/env python3
"""The README's commands that need only the build and the example run as written: each shell
block after a line "<!-- readme test: runs -->" runs in a scratch folder holding a copy of
examples/, the programs of the build first on PATH, and must end with status 0 and no error
line. And every link between the README and the documents under docs/ leads to a file there,
and to a heading of it where it names one.

usage: readme_check.py ROOT BUILD_DIR WORK_DIR
"""
import os
import re
import shutil
import subprocess
import sys


def anchor(heading):
    """The anchor GitHub gives a heading."""
    text = re.sub(r'[^\w\- ]', '', heading.strip().lower())
    return text.replace(' ', '-')


def check_links(root):
    wrong = []
    files = [os.path.join(root, 'README.md')] + [
        os.path.join(root, 'docs', name) for name in sorted(os.listdir(os.path.join(root, 'docs')))
        if name.endswith('.md')]
    for path in files:
        text = open(path, encoding='utf-8').read()
        for target in re.findall(r'\]\(([^)\s]+)\)', text):
            if re.match(r'[a-z]+:', target):
                continue  # the web
            file, _, fragment = target.partition('#')
            linked = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
            if not os.path.exists(linked):
                wrong.append('%s: %s leads nowhere' % (os.path.relpath(path, root), target))
            elif fragment and linked.endswith('.md'):
                headings = [anchor(h) for h in re.findall(r'^#+ (.*)$',
                                                          open(linked, encoding='utf-8').read(),
                                                          re.M)]
                if fragment not in headings:
                    wrong.append('%s: no heading for %s' % (os.path.relpath(path, root), target))
    return wrong


def main():
    root, build, work = sys.argv[1:4]
    readme = open(os.path.join(root, 'README.md'), encoding='utf-8').read()
    blocks = re.findall(r'<!-- readme test: runs -->\n```sh\n(.*?)```', readme, re.S)
    wrong = check_links(root)
    if len(blocks) < 2:
        wrong.append('only %d blocks marked to run' % len(blocks))
    env = dict(os.environ, PATH=os.path.abspath(build) + os.pathsep + os.environ['PATH'])
    for n, block in enumerate(blocks):
        folder = os.path.join(work, 'block-%d' % n)
        shutil.copytree(os.path.join(root, 'examples'), os.path.join(folder, 'examples'))
        done = subprocess.run(['sh', '-e', '-c', block], cwd=folder, env=env,
                              capture_output=True, text=True)
        print('%s -> status %d' % (block.strip(), done.returncode))
        if done.returncode != 0 or 'Error' in done.stderr:
            wrong.append('%r: status %d, %s' % (block.strip(), done.returncode, done.stderr))
    for line in wrong:
        print(line)
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()
