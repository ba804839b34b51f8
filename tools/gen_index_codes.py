#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes src/jet/index/index_codes_data.inc from the text index code tables.

The tables (one line per UCS-2 code point, see docs/index-keys.md) come from
the Jackcess project (Apache-2.0; see NOTICE). This script turns them into a
compact form the engine parses once at run time:

  token   := kind fields ['/' letters] [('+' | '*') count]
             tokens are separated by spaces
  kind    := S I U P Z G X   as in the source tables
           | '-'             no code: code points the table has no line for
                             (the UTF-16 surrogates D800-DFFF), and U+0000
                             in the Jet 4 tables (see OVERRIDES)
  fields  := the line's comma-separated fields, each joined by ':' and hex
             fields padded to whole bytes (S, U, P, G: 1 field; I: 2; Z: 3;
             X, '-': none)
  letters := for a character that expands into several (ß into "ss", the
             ligature ﬁ into "fi"): how many. Such a character's main bytes
             are those of the characters it expands into, one after the
             other; this script finds them by splitting the main bytes into
             the main bytes of other characters.

A token with a count stands for that many consecutive code points. With '*'
they all have the token's fields; with '+' the first has them, and each next
one the same fields with its first hex field one greater (as a big-endian
number of the same width).

Usage: tools/gen_index_codes.py [SOURCE_DIR] [OUTPUT]
  SOURCE_DIR defaults to tests/data/jet-format in the checkout.
"""

import os
import sys

FIELDS = {"S": 1, "I": 2, "U": 1, "P": 1, "Z": 3, "G": 1, "X": 0}
SURROGATES = range(0xD800, 0xE000)

# Where Access's own indexes contradict the source tables, by table file and
# code point (docs/index-keys.md names the databases that show it). Access 97
# keys U+0000 like U+0001-0008; for Jet 4 no Access-made index shows it, so
# it has no code and keys with it are refused.
OVERRIDES = {
    "index_codes_gen_97.txt": {0x0000: ("S", ["10"])},
    "index_codes_genleg.txt": {0x0000: ("-", [])},
    "index_codes_gen.txt": {0x0000: ("-", [])},
}


def pad_hex(field):
    field = field.upper()
    return "0" + field if len(field) % 2 else field


def read_table(path, first):
    """Returns [(kind, [fields])] for code points first.. in order."""
    entries = []
    cp = first
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.rstrip("\r\n")
            while cp in SURROGATES:
                entries.append(("-", []))
                cp += 1
            kind, rest = line[0], line[1:]
            fields = rest.split(",") if rest else []
            if kind not in FIELDS:
                sys.exit(f"{path}: unknown kind {kind!r} for U+{cp:04X}")
            if len(fields) != FIELDS[kind]:
                if kind == "X" and fields == [""]:
                    fields = []
                else:
                    sys.exit(f"{path}: U+{cp:04X}: expected {FIELDS[kind]} fields: {line!r}")
            # Field 3 of Z is a flag, every other field is hex.
            fields = [f if (kind == "Z" and i == 2) else pad_hex(f) for i, f in enumerate(fields)]
            entries.append(OVERRIDES.get(os.path.basename(path), {}).get(cp, (kind, fields)))
            cp += 1
    return entries


def expansions(entries):
    """Returns {code point: letters} for the characters whose main bytes are
    those of two or more other characters one after the other."""
    singles = {f[0] for k, f in entries if k in "SIGZ" and f and f[0]}

    def split(main):  # parts, or None
        if not main:
            return []
        for n in range(2, len(main) + 1, 2):
            if main[:n] in singles:
                rest = split(main[n:])
                if rest is not None:
                    return [main[:n]] + rest
        return None

    found = {}
    for cp, (kind, fields) in enumerate(entries):
        if kind not in "SIGZ" or not fields or not fields[0]:
            continue
        main = fields[0]
        for n in range(2, len(main), 2):
            rest = split(main[n:]) if main[:n] in singles else None
            if rest is not None:
                found[cp] = 1 + len(rest)
                break
    return found


def next_of(entry):
    kind, fields, letters = entry
    if not fields or not fields[0] or letters > 1:
        return entry if letters == 1 else None
    width = len(fields[0])
    value = int(fields[0], 16) + 1
    if value >= 16 ** width:
        return None
    return (kind, [f"{value:0{width}X}"] + fields[1:], letters)


def tokens(entries):
    out = []
    i = 0
    while i < len(entries):
        start = entries[i]
        same = 1
        while i + same < len(entries) and entries[i + same] == start:
            same += 1
        rising = 1
        expect = next_of(start)
        while i + rising < len(entries) and entries[i + rising] == expect:
            rising += 1
            expect = next_of(expect)
        token = start[0] + ":".join(start[1]) + (f"/{start[2]}" if start[2] > 1 else "")
        count = max(same, rising)
        if count > 1:
            token += f"{'*' if same >= rising else '+'}{count}"
        out.append(token)
        i += count
    return out


def expand(token_list):
    """Inverse of tokens(), to check the output."""
    entries = []
    for token in token_list:
        body, count, step = token, "1", ""
        for mark in "*+":
            if mark in token:
                body, count = token.split(mark)
                step = mark
        letters = 1
        if "/" in body:
            body, letters = body.split("/")
        kind = body[0]
        fields = body[1:].split(":") if FIELDS.get(kind, 0) else []
        entry = (kind, fields, int(letters))
        for _ in range(int(count)):
            entries.append(entry)
            if step == "+":
                entry = next_of(entry)
    return entries


def c_string(name, token_list, out):
    out.append(f"constexpr char {name}[] =")
    line = ""
    for token in token_list:
        if len(line) + len(token) + 1 > 96:
            out.append(f'    "{line}"')
            line = ""
        line += token + " "
    out.append(f'    "{line}";')
    out.append("")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "tests", "data", "jet-format")
    dst = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "src", "jet",
                                                             "index_codes_data.inc")
    tables = [
        ("kGeneral97Codes", ["index_codes_gen_97.txt"]),
        ("kGeneralLegacyCodes", ["index_codes_genleg.txt", "index_codes_ext_genleg.txt"]),
        ("kGeneralCodes", ["index_codes_gen.txt", "index_codes_ext_gen.txt"]),
    ]
    out = [
        "// Generated by tools/gen_index_codes.py; do not edit.",
        "//",
        "// Text index codes per UCS-2 code point, derived from the index code",
        "// tables of the Jackcess project (Apache License 2.0; see NOTICE).",
        "// Token format: see tools/gen_index_codes.py and docs/index-keys.md.",
        "",
    ]
    for name, files in tables:
        entries = read_table(os.path.join(src, files[0]), 0)
        if len(entries) != 256:
            sys.exit(f"{files[0]}: {len(entries)} lines, expected 256")
        if len(files) > 1:
            entries += read_table(os.path.join(src, files[1]), 256)
            if len(entries) != 0x10000:
                sys.exit(f"{files[1]}: covers up to {len(entries)}, expected 65536")
        letters = expansions(entries)
        if name == "kGeneral97Codes":
            # Access 97 counts the letters of an expansion among the
            # significant ones (docs/index-keys.md): all of them must be.
            significant = {f[0] for k, f in entries if k == "G"}
            for cp in letters:
                main = entries[cp][1][0]
                assert all(main[i:i + 2] in significant for i in range(0, len(main), 2)), cp
        entries = [(k, f, letters.get(cp, 1)) for cp, (k, f) in enumerate(entries)]
        token_list = tokens(entries)
        assert expand(token_list) == entries, name
        c_string(name, token_list, out)

    mappings = []
    with open(os.path.join(src, "index_mappings_ext_gen_97.txt"), encoding="ascii") as f:
        for line in f:
            line = line.strip()
            if line:
                a, b = line.split(",")
                mappings.append((int(a), int(b)))
    out.append("// Access 97: characters above U+00FF that share the code of a character")
    out.append("// below it (the Windows-1252 characters 0x80-0x9F), as {from, to}.")
    out.append("constexpr uint16_t kGeneral97Mappings[][2] = {")
    row = "   "
    for a, b in mappings:
        item = f" {{{a}, {b}}},"
        if len(row) + len(item) > 96:
            out.append(row)
            row = "   "
        row += item
    out.append(row)
    out.append("};")
    with open(dst, "w", encoding="ascii") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
