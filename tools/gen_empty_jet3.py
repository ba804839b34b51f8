#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes src/jet/table/empty_jet3_data.inc: an empty Access 97 database.

The source is delTestV1997.mdb (Apache-2.0 Jackcess test data, see NOTICE),
a database that Access itself made in Access 97 format, with the system
tables Access gives every database and one user table, "Table" (catalog id
29: its definition on page 29, its usage maps on page 30, its rows on page
31, the last three pages of the file). What is changed (docs/access97.md):

1. The table's catalog row (MSysObjects, Id 29) and its three access
   control entries (MSysACEs, ObjectId 29) are deleted with `jetdb delete`,
   which keeps the catalog's indexes exact.
2. Deleted row slots at the end of a data page are dropped (the page keeps
   the rows before them), so no trace of the table is left.
3. Pages 29-31 are cut off, and the global usage map (page 1, row 0) marks
   them free, as it marks every page past the end of the file.
4. Nothing of the source's maker is kept. The database's summary properties
   (SummaryInfo's LvProp, long-value page 20 row 3) held Title "db1" and
   Author "James Ahlborn"; they become what Access leaves when a database's
   summary is empty: the name pool (Title, Author, Company) and no values.
   The properties of "Table" (page 20 row 5), which the deletion in 1 left
   behind with no row referring to them, are dropped.
5. The unused bytes of every data and index page (what Access left in the
   free space of its pages) are zeroed.

The catalog's dates are left as they are: the engine stamps them, when it
makes a database, with the time it makes it (src/jet/table/create.cc).

Usage: tools/gen_empty_jet3.py SOURCE.mdb JETDB OUTPUT.inc
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_template import encode  # noqa: E402

PAGE = 2048
TABLE_ID = 29
KEEP_PAGES = 29
PROPS_PAGE = 20     # long values of the catalog's LvProp column
SUMMARY_ROW = 3     # SummaryInfo's properties
ORPHAN_ROW = 5      # the properties of "Table", referred to by no row
PROPS_SIGNATURE = b'KKD\0'
CATALOG_TDEF = 2    # MSysObjects


def run(*args: str) -> str:
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def drop_trailing_deleted_slots(data: bytearray, page: int) -> None:
    p = page * PAGE
    if data[p] != 0x01:
        return
    count = struct.unpack_from('<H', data, p + 8)[0]
    kept = count
    while kept > 0 and struct.unpack_from('<H', data, p + 10 + 2 * (kept - 1))[0] & 0x8000:
        kept -= 1
    if kept == count:
        return
    for i in range(kept, count):
        struct.pack_into('<H', data, p + 10 + 2 * i, 0)
    struct.pack_into('<H', data, p + 8, kept)
    free = struct.unpack_from('<H', data, p + 2)[0]
    struct.pack_into('<H', data, p + 2, free + 2 * (count - kept))


def row_slots(data: bytearray, page: int) -> list:
    p = page * PAGE
    count = struct.unpack_from('<H', data, p + 8)[0]
    return [struct.unpack_from('<H', data, p + 10 + 2 * i)[0] for i in range(count)]


def rows_of(data: bytearray, page: int) -> list:
    """(slot flags, bytes) of each row; row n ends where row n-1 starts."""
    out, end = [], PAGE
    for slot in row_slots(data, page):
        start = slot & 0x1FFF
        out.append((slot & 0xE000, bytes(data[page * PAGE + start:page * PAGE + end])))
        end = start
    return out


def write_rows(data: bytearray, page: int, rows: list) -> None:
    """Lays `rows` out from the end of the page down, as Access does."""
    p = page * PAGE
    data[p + 8:p + PAGE] = bytes(PAGE - 8)
    struct.pack_into('<H', data, p + 8, len(rows))
    end = PAGE
    for i, (flags, body) in enumerate(rows):
        start = end - len(body)
        data[p + start:p + end] = body
        struct.pack_into('<H', data, p + 10 + 2 * i, start | flags)
        end = start
    struct.pack_into('<H', data, p + 2, end - 10 - 2 * len(rows))


def summary_without_values(value: bytes) -> bytes:
    """The signature and the name pool: the values' names, none of the values."""
    assert value.startswith(PROPS_SIGNATURE)
    length, kind = struct.unpack_from('<IH', value, 4)
    assert kind == 0x80, 'the name pool comes first'
    return value[:4 + length]


def clear_summary(data: bytearray) -> None:
    rows = rows_of(data, PROPS_PAGE)
    assert len(rows) == ORPHAN_ROW + 1 and rows[ORPHAN_ROW][0] == 0, 'unexpected source'
    old = rows[SUMMARY_ROW][1]
    assert b'Ahlborn' in old and b'Orientation' in rows[ORPHAN_ROW][1], 'unexpected source'
    new = summary_without_values(old)
    # The catalog row's 12-byte long-value field: length (3 bytes), 0x40 (on
    # one long-value page), the row's pointer (page << 8 | row).
    field = struct.pack('<II', len(old) | 0x40000000, PROPS_PAGE << 8 | SUMMARY_ROW)
    orphan = struct.pack('<II', len(rows[ORPHAN_ROW][1]) | 0x40000000,
                         PROPS_PAGE << 8 | ORPHAN_ROW)
    catalog = b''.join(data[n * PAGE:(n + 1) * PAGE] if data[n * PAGE] == 0x01 and
                       struct.unpack_from('<I', data, n * PAGE + 4)[0] == CATALOG_TDEF
                       else bytes(PAGE) for n in range(len(data) // PAGE))
    at = catalog.find(field)
    assert at > 0 and catalog.find(field, at + 1) < 0 and catalog.find(orphan) < 0, \
        'unexpected source'
    struct.pack_into('<I', data, at, len(new) | 0x40000000)
    rows[SUMMARY_ROW] = (0, new)
    write_rows(data, PROPS_PAGE, rows[:ORPHAN_ROW])


def zero_free_space(data: bytearray, page: int) -> None:
    p = page * PAGE
    if data[p] == 0x01:
        slots = row_slots(data, page)
        low = min([s & 0x1FFF for s in slots] + [PAGE])
        data[p + 10 + 2 * len(slots):p + low] = bytes(low - 10 - 2 * len(slots))
    elif data[p] in (0x03, 0x04):
        used = PAGE - struct.unpack_from('<H', data, p + 2)[0]
        data[p + used:p + PAGE] = bytes(PAGE - used)


def main() -> None:
    src, jetdb, dst = sys.argv[1], sys.argv[2], sys.argv[3]
    with tempfile.TemporaryDirectory() as tmp:
        work = os.path.join(tmp, 'empty.mdb')
        shutil.copyfile(src, work)
        assert run(jetdb, 'tables', work).split() == ['Table'], 'unexpected source'
        run(jetdb, 'delete', work, 'MSysObjects', '--where', 'Id=%d' % TABLE_ID)
        run(jetdb, 'delete', work, 'MSysACEs', '--where', 'ObjectId=%d' % TABLE_ID)
        data = bytearray(open(work, 'rb').read())
    assert len(data) == 32 * PAGE and data[KEEP_PAGES * PAGE] == 0x02, 'unexpected source'
    for page in range(KEEP_PAGES):
        drop_trailing_deleted_slots(data, page)
    del data[KEEP_PAGES * PAGE:]
    clear_summary(data)
    for page in range(1, KEEP_PAGES):
        zero_free_space(data, page)
    # Global usage map: page 1, row 0 = type 0 (inline), first page, bitmap.
    row = struct.unpack_from('<H', data, PAGE + 10)[0] & 0x1FFF
    assert data[PAGE + row] == 0 and struct.unpack_from('<I', data, PAGE + row + 1)[0] == 0
    for page in range(KEEP_PAGES, 32):
        data[PAGE + row + 5 + page // 8] |= 1 << (page % 8)
    enc = encode(bytes(data))
    lines = ['// Generated by tools/gen_empty_jet3.py from delTestV1997.mdb; do not edit.',
             '// An empty Access 97 database: the system tables of a database Access',
             '// made (Apache-2.0 Jackcess test data, see NOTICE; docs/access97.md),',
             '// without its maker\'s summary properties,',
             '// stored as zero runs: 00 n = n+1 zero bytes.',
             'constexpr uint32_t kEmptyJet3Size = %d;' % len(data),
             'constexpr uint8_t kEmptyJet3Runs[] = {']
    for k in range(0, len(enc), 20):
        lines.append('    ' + ', '.join('0x%02x' % b for b in enc[k:k + 20]) + ',')
    lines.append('};')
    open(dst, 'w').write('\n'.join(lines) + '\n')
    if len(sys.argv) > 4:
        open(sys.argv[4], 'wb').write(bytes(data))


if __name__ == '__main__':
    main()
