#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Compares one table as mdb-export prints it with the same table as
`jetdb export --format jsonl` prints it, or two mdb-export outputs.

  compare_export.py rows MDB_EXPORT.tsv JETDB.jsonl SCHEMA.json [ORPHANED]
  compare_export.py same MDB_EXPORT_A.tsv MDB_EXPORT_B.tsv

mdb-export is run as

  mdb-export -d TAB -b hex -B -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S'

Prints "ok ROWS" and exits 0 when the two agree, or one line saying what
differs and exits 1.

Rows are compared as a multiset: mdbtools reads a row that was moved to
another page (because it outgrew its own) where its bytes now are, not where
the row stands in the table, so its order can differ from a table scan.
Columns are matched by name: mdbtools lists them by column number, Access by
position. ORPHANED is the number of moved-row copies of the table that no
row points to, as `jetdb check` notes them: Access leaves them after an
update, and mdbtools 1.0 prints each as a row (a stale version of a row).
Exactly that many mdbtools records may then be left without a jetdb row;
every jetdb row must still be matched. Everything else mdbtools is known to print differently is forgiven
in agree() below, each with its reason; nothing else is.
"""

import json
import math
import re
import struct
import sys
from collections import Counter
from datetime import date

MS_PER_DAY = 86400000
EPOCH = date(1899, 12, 30)


def parse_tsv(text):
    """mdb-export's records: fields split by tabs, a field starting with '"'
    runs to the next undoubled '"' and may hold tabs and line ends. Returns
    a list of records, each a list of (text, quoted)."""
    records, i, n = [], 0, len(text)
    while i < n:
        record, end = [], "\t"
        while end == "\t":
            if i < n and text[i] == '"':
                j, buf = i + 1, []
                while True:
                    k = text.find('"', j)
                    if k < 0:
                        raise ValueError("a quoted field is not closed")
                    buf.append(text[j:k])
                    if k + 1 < n and text[k + 1] == '"':
                        buf.append('"')
                        j = k + 2
                        continue
                    i = k + 1
                    break
                record.append(("".join(buf), True))
            else:
                m = re.compile(r"[^\t\n]*").match(text, i)
                if '"' in m.group(0):
                    raise ValueError("a quote inside a bare field")
                record.append((m.group(0), False))
                i = m.end()
            if i >= n:
                raise ValueError("the last record has no line end")
            end = text[i]
            i += 1
            if end not in "\t\n":
                raise ValueError("text follows a closing quote")
        records.append(record)
    return records


def read_export(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", errors="surrogateescape")
    head, _, body = text.partition("\n")
    return head.split("\t"), parse_tsv(body)


def decimal_form(s):
    """A plain decimal number without leading or trailing zeros, or None."""
    s = s.strip()
    neg = s.startswith("-")
    s = s.lstrip("-")
    if not re.fullmatch(r"\d*\.?\d*", s) or s in ("", "."):
        return None
    if "." in s:
        s = s.rstrip("0").rstrip(".")
    s = s.lstrip("0") or "0"
    if s.startswith("."):
        s = "0" + s
    return "-" + s if neg and s != "0" else s


def agrees_to_digits(value, printed, digits):
    try:
        theirs = float(printed)
    except ValueError:
        return False
    if math.isnan(value) or math.isnan(theirs):
        return math.isnan(value) and math.isnan(theirs)
    if math.isinf(value) or math.isinf(theirs) or value == 0:
        return value == theirs
    mag = max(abs(value), abs(theirs))
    half_unit = 0.5 * 10 ** (math.floor(math.log10(mag)) - (digits - 1))
    return abs(value - theirs) <= half_unit + 4 * sys.float_info.epsilon * mag


def date_ms(s):
    """'YYYY-MM-DD?HH:MM:SS[.mmm]' as milliseconds from 1899-12-30, or None.
    Hour 24 is allowed (see agree())."""
    m = re.fullmatch(r"(-?\d+)-(\d+)-(\d+)[ T](\d+):(\d+):(\d+)(?:\.(\d{3}))?", s)
    if not m:
        return None
    y, mo, d, h, mi, sec = (int(g) for g in m.groups()[:6])
    try:
        days = (date(y, mo, d) - EPOCH).days
    except ValueError:
        return None
    return days * MS_PER_DAY + ((h * 60 + mi) * 60 + sec) * 1000 + int(m.group(7) or 0)


C1_UNASSIGNED = "\u0081\u008d\u008f\u0090\u009d"


def agree(kind, ours, field):
    """'' when our JSON value `ours` of type `kind` and mdbtools' (text,
    quoted) field name the same value, else what differs."""
    text, quoted = field
    theirs_null = not quoted and text == ""
    # mdbtools 1.0 prints Large Number and Date/Time Extended values as
    # nothing, and a complex (attachment, multi-valued) field as the id that
    # joins it to its hidden table, where jetdb prints the values; the
    # values are checked against what Access showed in tests/accdb_test.cc.
    if kind in ("BigInt", "DateTimeExtended"):
        return "" if theirs_null else "mdbtools printed a value it does not read"
    if kind == "Complex":
        # (A version history, which jetdb does not expand, is its id.)
        if str(ours) == text or (isinstance(ours, list) and re.fullmatch(r"\d+", text)):
            return ""
        return "not a complex id"
    if kind == "Calculated":
        return ""
    if ours is None:
        return "" if theirs_null else "null in jetdb only"
    if theirs_null:
        # mdb-export marks null by a bound length of 0, so an empty text,
        # memo or binary value prints as null too.
        if kind in ("Text", "Memo", "Binary", "OLE") and ours == "":
            return ""
        return "null in mdbtools only"
    if kind == "Boolean":
        return "" if text in (("TRUE", "1") if ours else ("FALSE", "0")) else "different truth"
    if kind in ("Byte", "Integer", "Long"):
        return "" if re.fullmatch(r"-?\d+", text) and int(text) == ours else "different integer"
    if kind in ("Currency", "Numeric"):
        a, b = decimal_form(str(ours)), decimal_form(text)
        return "" if a is not None and a == b else "different decimal"
    if kind == "Single":
        # mdbtools prints a Single with "%.8g".
        v = struct.unpack("<f", struct.pack("<f", float(ours)))[0]
        return "" if agrees_to_digits(v, text, 8) else "different Single"
    if kind == "Double":
        # ... and a Double with "%.16g", a digit short of round-tripping.
        return "" if agrees_to_digits(float(ours), text, 16) else "different Double"
    if kind == "DateTime":
        ours_ms = date_ms(ours)
        if ours_ms is None:
            return "jetdb date unreadable"
        # mdbtools turns a stored day count into a calendar date only within
        # [0, 1e6] days (1899-12-30 to 4637-11-26); any other leaves its
        # struct tm zeroed, which prints as "1900-01-00 00:00:00".
        if ours_ms < 0 or ours_ms > 1_000_000 * MS_PER_DAY:
            return "" if text == "1900-01-00 00:00:00" else "different out-of-range date"
        # It prints whole seconds, rounded, and a time that rounds up to
        # midnight as hour 24 of the day before.
        theirs_ms = date_ms(re.sub(r" 24:", " 00:", text))
        if theirs_ms is not None and " 24:" in text:
            theirs_ms += MS_PER_DAY
        if theirs_ms is None:
            return "mdbtools date unreadable"
        return "" if abs(ours_ms - theirs_ms) <= 500 else "different date/time"
    if kind in ("Text", "Memo"):
        if ours == text:
            return ""
        # Code page 1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D unassigned:
        # jetdb reads them as the C1 controls of the same value, as Windows
        # does; mdbtools' iconv fails on them and puts '?'.
        if re.sub("[" + C1_UNASSIGNED + "]", "?", ours) == text:
            return ""
        # mdbtools handles text as C strings, so it ends at a NUL character
        # (MSysModules2 of the Access 97 Northwind has a name "Lock\0").
        if "\0" in ours and ours.split("\0", 1)[0] == text:
            return ""
        # mdbtools 1.0 converts text through UCS-2, so a character beyond
        # U+FFFF (an emoji: two UTF-16 units) prints as "??".
        if re.sub("[\U00010000-\U0010FFFF]", "??", ours) == text:
            return ""
        return "different text"
    if kind in ("Binary", "OLE"):
        b = bytes.fromhex(ours)
        # mdbtools copies a Binary (not OLE) value as a C string, so it ends
        # at the first zero byte.
        if kind == "Binary":
            b = b.split(b"\0", 1)[0]
        return "" if b.hex().upper() == text.upper() else "different bytes"
    if kind == "GUID":
        # mdbtools spells a GUID without the hyphen before its last twelve
        # digits, and -b hex prints that text as hex.
        try:
            spelled = bytes.fromhex(text).decode("ascii")
        except ValueError:
            spelled = text
        mine = ours[:24] + ours[25:] if len(ours) == 38 else ours
        return "" if spelled.upper() == mine.upper() else "different GUID"
    return "" if str(ours) == text else "different value (type %s)" % kind


def compare_rows(export_path, jsonl_path, schema_path, orphaned=0):
    header, records = read_export(export_path)
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    # mdbtools 1.0 reads a calculated column's stored value without taking
    # off its 20-byte wrapper (a zero integer, or the wrapper's bytes as
    # text), so any value it prints is forgiven there; tests/accdb_test.cc
    # checks jetdb's against the values Access showed.
    kinds = {c["name"]: "Calculated" if "expression" in c else c["type"]
             for c in schema["columns"]}
    with open(jsonl_path, encoding="utf-8", errors="surrogateescape") as f:
        rows = [json.loads(line) for line in f if line.strip()]
    if sorted(header) != sorted(kinds):
        return "columns differ: mdbtools %s, jetdb %s" % (header, list(kinds))
    if len(records) != len(rows) + orphaned:
        return "row counts differ: mdbtools %d, jetdb %d%s" % (
            len(records), len(rows), " + %d orphaned copies" % orphaned if orphaned else "")
    for r, rec in enumerate(records):
        if len(rec) != len(header):
            return "mdbtools row %d has %d fields, not %d" % (r, len(rec), len(header))

    # Pair each mdbtools record with a jetdb row that agrees with it in every
    # field. Rows are first grouped by a key that both sides spell alike
    # (their integer and text fields), then matched within a group.
    plain = [c for c in header if kinds[c] in ("Byte", "Integer", "Long", "Text")]

    def our_key(row):
        return tuple("" if row.get(c) is None else str(row[c]) for c in plain)

    def their_key(rec):
        out = []
        for c in plain:
            text, _ = rec[header.index(c)]
            out.append(text)
        return tuple(out)

    groups = {}
    for row in rows:
        groups.setdefault(our_key(row), []).append(row)
    first_problem = ""
    unmatched = 0
    for r, rec in enumerate(records):
        # A text that agree() forgives spells its key differently: then
        # every row is a candidate.
        group = groups.get(their_key(rec))
        pools = [group] if group else list(groups.values())
        best, best_why = None, None
        for pool, i, row in ((p, i, x) for p in pools for i, x in enumerate(p)):
            why = ""
            for k, c in enumerate(header):
                w = agree(kinds[c], row.get(c), rec[k])
                if w:
                    why = "column %s: %s (jetdb %r, mdbtools %r)" % (
                        c, w, str(row.get(c))[:60], rec[k][0][:60])
                    break
            if not why:
                best = (pool, i)
                break
            if best_why is None:
                best_why = why
        if best is None:
            unmatched += 1
            if not first_problem:
                first_problem = "mdbtools row %d has no match; nearest: %s" % (r, best_why)
            continue
        del best[0][best[1]]
    if unmatched != orphaned:
        return "%d of %d rows differ; %s" % (unmatched, len(records), first_problem)
    return "ok %d" % len(rows)


def compare_same(a_path, b_path):
    """Two tables' exports, columns matched by name: a copy made from a
    schema numbers its columns afresh, and mdbtools lists them by number."""
    ha, ra = read_export(a_path)
    hb, rb = read_export(b_path)
    if sorted(ha) != sorted(hb):
        return "columns differ: %s vs %s" % (ha, hb)
    at = [hb.index(c) for c in ha]
    rb = [[r[k] for k in at] if len(r) == len(hb) else r for r in rb]
    ca, cb = Counter(map(tuple, ra)), Counter(map(tuple, rb))
    if ca != cb:
        missing = sum((ca - cb).values())
        extra = sum((cb - ca).values())
        return "rows differ: %d missing, %d extra (of %d)" % (missing, extra, len(ra))
    return "ok %d" % len(ra)


def main(argv):
    try:
        if len(argv) in (5, 6) and argv[1] == "rows":
            result = compare_rows(argv[2], argv[3], argv[4], int(argv[5]) if len(argv) == 6 else 0)
        elif len(argv) == 4 and argv[1] == "same":
            result = compare_same(argv[2], argv[3])
        else:
            print(__doc__.split("\n\n")[1], file=sys.stderr)
            return 2
    except (ValueError, OSError, KeyError) as e:
        result = "unreadable output: %s" % e
    print(result.replace("\n", " "))
    return 0 if result.startswith("ok ") else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
