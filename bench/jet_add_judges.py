#!/usr/bin/env python3
"""Adds one entry into Access (Jet 4) catalogues of every shape the fixture
writer makes, with velmora2-add, and asks three readers that did not write the
file whether it is whole:

  jetcheck   ../shared/tools/jetcheck (Jackcess, run only as a judge): rows,
             row count, every index walked and every row looked up by its keys;
  mdb-reader the npm package, installed on first use into
             ${XDG_CACHE_HOME:-~/.cache}/velmora-judge (never into the tree);
  ours       velmora2-init --convert on a copy (our reader, through libmdb);
  pages      tests/fixtures/jet4_invariants.py (usage maps, counts, index trees).

An add that is to succeed must leave the old rows plus the new one (with the
values given, an autonumber one past the last); one that is to be refused must
exit non-zero, name --convert or the column at fault, and leave the file
byte for byte as it was. For development only; CI has neither Java nor npm.

usage: bench/jet_add_judges.py BUILD_DIR [--keep DIR] [--only NAME]
"""
import argparse, hashlib, json, os, shutil, sqlite3, subprocess, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE = os.path.join(ROOT, 'tests', 'fixtures', 'make_jet4.py')
INVARIANTS = os.path.join(ROOT, 'tests', 'fixtures', 'jet4_invariants.py')
JETCHECK = os.environ.get('JETCHECK', os.path.join(ROOT, '..', 'shared', 'tools', 'jetcheck',
                                                   'jetcheck'))
CACHE = os.path.join(os.environ.get('XDG_CACHE_HOME', os.path.expanduser('~/.cache')),
                     'velmora-judge')
READ_JS = r'''
import MDBReader from "mdb-reader";
import { readFileSync } from "fs";
const table = new MDBReader(readFileSync(process.argv[2])).getTable(process.argv[3]);
const rows = table.getData();
console.log(JSON.stringify({recorded: table.rowCount, rows}));
'''

ADDED, REFUSED = 'added', 'refused'
PLAIN = ('CDDVD', 'Alat', 'Mali alat')
LONG_OPIS = ('CDDVD', 'Alat', 'čćžšđ' * 9)          # UCS-2, past an inline memo

# name, fixture arguments, (Kategorija, Program, Opis), outcome, text the refusal names
CASES = [
    ('basic', ['--schema', 'basic'], PLAIN, ADDED, None),
    ('rich', ['--schema', 'rich'], PLAIN, ADDED, None),
    ('rich-deleted-second-table', ['--schema', 'rich', '--with-deleted', '--second-table',
                                   '--autonumber-next', '1000000'], PLAIN, ADDED, None),
    ('case', ['--schema', 'case'], PLAIN, ADDED, None),
    ('indexed', ['--schema', 'indexed'], PLAIN, ADDED, None),
    ('indexed-memo-page', ['--schema', 'indexed'], LONG_OPIS, ADDED, None),
    # 401 nine-byte primary key entries fill the one leaf, which is the root.
    ('indexed-root-leaf-full', ['--schema', 'indexed', '--rows', '389'], PLAIN, ADDED, None),
    ('indexed-3000', ['--schema', 'indexed', '--rows', '3000'], LONG_OPIS, ADDED, None),
    ('indexed-last-leaf-full', ['--schema', 'indexed', '--rows', '3196'], PLAIN, ADDED, None),
    ('indexed-100000', ['--schema', 'indexed', '--rows', '100000'], PLAIN, ADDED, None),
    ('indexed-last-page-full', ['--schema', 'indexed', '--rows', '3000', '--last-page-free', '12'],
     PLAIN, ADDED, None),
    ('indexed-last-page-fits', ['--schema', 'indexed', '--rows', '3000', '--last-page-free', '120'],
     PLAIN, ADDED, None),
    ('required-with-default', ['--schema', 'indexed', '--prop', 'Ocjena:Required=yes'], PLAIN,
     ADDED, None),
    ('text-index', ['--schema', 'indexed', '--index', 'Naziv:Napomena'], PLAIN, REFUSED,
     '--convert'),
    ('required-no-default', ['--schema', 'indexed', '--prop', 'Napomena:Required=yes'], PLAIN,
     REFUSED, 'Napomena'),
    ('unique-duplicate', ['--schema', 'indexed', '--prop', 'Broj:DefaultValue=1000'], PLAIN,
     REFUSED, 'Broj'),
    ('program-too-long', ['--schema', 'indexed'], ('CDDVD', 'Predugo ime', 'x'), REFUSED,
     'Program'),
    ('validation-rule', ['--schema', 'indexed', '--prop', 'Ocjena:ValidationRule=>0'], PLAIN,
     REFUSED, '--convert'),
    ('zero-length', ['--schema', 'indexed', '--prop', 'Opis:AllowZeroLength=no'],
     ('CDDVD', 'Alat', ''), REFUSED, 'Opis'),
    ('jet3', ['--jet3', '--schema', 'rich'], PLAIN, REFUSED, '--convert'),
]


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def mdb_reader():
    script = os.path.join(CACHE, 'read_table.mjs')
    if not os.path.isdir(os.path.join(CACHE, 'node_modules', 'mdb-reader')):
        os.makedirs(CACHE, exist_ok=True)
        subprocess.run(['npm', 'install', '--silent', '--no-audit', '--no-fund', '--prefix', CACHE,
                        'mdb-reader@3'], check=True)
    with open(script, 'w') as f:
        f.write(READ_JS)
    return script


def digest(path):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()


def table_name(db):
    out = run(['mdb-tables', '-1', db]).stdout.split()
    return next((t for t in out if t.lower() == 'cd'), 'CD')


def judge_jetcheck(db, rows):
    out = run([JETCHECK, db])
    lines = [l for l in out.stdout.splitlines() if l.startswith(('OK', 'BAD'))]
    ok = out.returncode == 0 and any(' %d rows' % rows in l for l in lines if ' CD:' in l or
                                     ' cd:' in l)
    return ok, '; '.join(lines) or out.stderr.strip()


def mdb_reader_rows(script, db, table):
    out = run(['node', script, db, table])
    return json.loads(out.stdout) if out.returncode == 0 else out.stderr.strip().splitlines()[-1:]


def judge_mdb_reader(script, db, table, rows, entry, seen_before):
    """`rows` more or less what it read before the add: it lists the relocated
    target of an overflow row as a row of its own."""
    data = mdb_reader_rows(script, db, table)
    if isinstance(data, list):
        return False, data
    rows += len(seen_before['rows']) - seen_before['recorded'] if isinstance(seen_before, dict) else 0
    found = [r for r in data['rows'] if entry is None or
             [v for k, v in sorted(r.items()) if k.lower() in ('kategorija', 'program', 'opis')]
             == [entry[0], entry[2], entry[1]]]
    recorded = rows - (len(seen_before['rows']) - seen_before['recorded'])
    ok = data['recorded'] == recorded and len(data['rows']) == rows and (entry is None or len(found) == 1)
    return ok, '%d rows, %d recorded, new row %s' % (len(data['rows']), data['recorded'],
                                                     found[-1] if found else None)


def judge_ours(build, db, table, rows, entry, scratch):
    folder = os.path.join(scratch, 'ours')
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(db, os.path.join(folder, 'Velmora2.db'))
    out = run([os.path.join(build, 'bin', 'velmora2-init'), '--convert', folder])
    if out.returncode != 0:
        return False, (out.stdout + out.stderr).strip()
    con = sqlite3.connect(os.path.join(folder, 'Velmora2.db'))
    names = [r[1].lower() for r in con.execute('PRAGMA table_info("%s")' % table)]
    got = con.execute('SELECT * FROM "%s"' % table).fetchall()
    con.close()
    pick = lambda r: tuple(r[names.index(c)] for c in ('kategorija', 'program', 'opis'))
    found = entry is None or sum(pick(r) == tuple(entry) for r in got) == 1
    return len(got) == rows and found, '%d rows' % len(got)


def judge_pages(db):
    out = run([sys.executable, INVARIANTS, db])
    return out.returncode == 0, out.stdout.strip().replace('\n', '; ')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('build')
    ap.add_argument('--keep', help='keep every case\'s folder under this folder')
    ap.add_argument('--only', help='run only the cases whose name holds this text')
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    script = mdb_reader()
    tally = {'cases': 0, 'outcome': 0, 'jetcheck': 0, 'mdb-reader': 0, 'ours': 0, 'pages': 0}
    for name, fixture, entry, outcome, names in CASES:
        if a.only and a.only not in name:
            continue
        scratch = tempfile.mkdtemp(prefix='judge-', dir=a.keep)
        folder = os.path.join(scratch, 'collection')
        os.makedirs(os.path.join(folder, 'Programi'))
        db = os.path.join(folder, 'Velmora2.db')
        made = run([sys.executable, MAKE, db] + fixture, check=True).stdout
        rows_before = int(made.split(',')[-1].split()[0])
        before = digest(db)
        seen_before = mdb_reader_rows(script, db, table_name(db))
        for f, data in (('setup.exe', b'MZ setup'), ('picture.bmp', b'BM picture')):
            with open(os.path.join(scratch, f), 'wb') as out:
                out.write(data)
        add = run([os.path.join(build, 'bin', 'velmora2-add'), '--collection', folder, '--quiet',
                   '--category', entry[0], '--program', entry[1], '--description', entry[2],
                   '--setup', os.path.join(scratch, 'setup.exe'),
                   '--picture', os.path.join(scratch, 'picture.bmp')])
        said = (add.stdout + add.stderr).strip()
        if outcome == ADDED:
            fine = add.returncode == 0
            rows, new = rows_before + 1, entry
        else:
            fine = add.returncode != 0 and names in said and digest(db) == before
            rows, new = rows_before, None
        table = table_name(db)
        verdicts = {
            'outcome': (fine, said.replace('\n', ' | ')[:160]),
            'jetcheck': judge_jetcheck(db, rows) if '--jet3' not in fixture else (True, 'Jet 3'),
            'mdb-reader': judge_mdb_reader(script, db, table, rows, new, seen_before),
            'ours': judge_ours(build, db, table, rows, new, scratch),
            'pages': judge_pages(db) if '--jet3' not in fixture else (True, 'Jet 3'),
        }
        tally['cases'] += 1
        for judge, (ok, detail) in verdicts.items():
            tally[judge] += ok
        bad = {j: d for j, (ok, d) in verdicts.items() if not ok}
        print('%-28s %-8s %s' % (name, 'OK' if not bad else 'BAD', bad if bad else ''))
        if not a.keep:
            shutil.rmtree(scratch)
    print('cases %(cases)d: outcome OK %(outcome)d, jetcheck OK %(jetcheck)d, '
          'mdb-reader OK %(mdb-reader)d, ours OK %(ours)d, page invariants OK %(pages)d' % tally)
    return 0 if all(v == tally['cases'] for v in tally.values()) else 1


if __name__ == '__main__':
    sys.exit(main())
