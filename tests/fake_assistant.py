#!/usr/bin/env python3
"""Stands in for Qt Assistant in the test of --open: appends its arguments to the file
$FAKE_ASSISTANT_LOG (a line, tab between them), and for -register and -unregister does to the
collection file what Assistant does there: a row of NamespaceTable for the .qch's namespace
added or taken away, refused where it stands already or not at all."""
import os
import sqlite3
import sys

args = sys.argv[1:]
with open(os.environ['FAKE_ASSISTANT_LOG'], 'a') as log:
    log.write('\t'.join(args) + '\n')
for action in ('-register', '-unregister'):
    if action not in args:
        continue
    collection = args[args.index('-collectionFile') + 1]
    qch = args[args.index(action) + 1]
    name = sqlite3.connect(qch).execute('SELECT Name FROM NamespaceTable').fetchone()[0]
    db = sqlite3.connect(collection, timeout=30)
    there = db.execute('SELECT Id FROM NamespaceTable WHERE Name = ?', (name,)).fetchall()
    if action == '-register':
        if there:
            sys.exit('Namespace %s already exists.' % name)
        db.execute('INSERT INTO NamespaceTable (Name, FilePath) VALUES (?, ?)',
                   (name, os.path.relpath(qch, os.path.dirname(collection))))
    else:
        if not there:
            sys.exit('Documentation not registered.')
        db.execute('DELETE FROM NamespaceTable WHERE Name = ?', (name,))
    db.commit()
