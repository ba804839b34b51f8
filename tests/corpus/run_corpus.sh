#!/usr/bin/env bash
# Runs jetdb over a folder of real Access databases and compares it with
# mdbtools, file by file. See README.md in this folder.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: run_corpus.sh DIR [--jetdb PATH] [--tables N] [--max-rows N]

For every .mdb and .accdb file in DIR:
  - checks its sha256 against sources.tsv when the file is listed there;
  - compares mdb-export with 'jetdb export' for every user table mdbtools
    lists (compare_export.py says what is forgiven and why);
  - runs 'jetdb check' on the untouched file;
  - write test, on a copy: 'jetdb check', then for up to N tables (default 3)
    of at most --max-rows rows (default 20000) that both tools read alike,
    creates an empty copy of the table from 'jetdb schema --json', imports
    the exported rows into it, runs 'jetdb check' again (it must find no
    problem the file did not have) and compares mdb-export of both tables.

Prints one Markdown table row per file, then totals. Details of every
failure go to standard error. Exits 1 if any comparison or check failed,
2 on bad usage.

  --jetdb PATH   the jetdb to test (default: build/bin/jetdb of this tree,
                 else jetdb on PATH)
EOF
}

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dir=""
jetdb=""
max_tables=3
max_rows=20000
while (($#)); do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --jetdb) jetdb=${2:?--jetdb needs a path}; shift 2 ;;
    --tables) max_tables=${2:?--tables needs a number}; shift 2 ;;
    --max-rows) max_rows=${2:?--max-rows needs a number}; shift 2 ;;
    -*) echo "run_corpus.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) [[ -z "$dir" ]] || { usage >&2; exit 2; }; dir=$1; shift ;;
  esac
done
[[ -n "$dir" && -d "$dir" ]] || { usage >&2; exit 2; }
if [[ -z "$jetdb" ]]; then
  jetdb="$here/../../build/bin/jetdb"
  [[ -x "$jetdb" ]] || jetdb=$(command -v jetdb || true)
fi
[[ -x "$jetdb" ]] || { echo "run_corpus.sh: no jetdb found; give --jetdb PATH" >&2; exit 2; }
for tool in mdb-tables mdb-export python3 jq sha256sum; do
  command -v "$tool" >/dev/null || { echo "run_corpus.sh: $tool is not installed" >&2; exit 2; }
done
compare="$here/compare_export.py"
sources="$here/sources.tsv"
decrypt="$(dirname "$jetdb")/jet_decrypt_copy"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
date_fmt='%Y-%m-%d %H:%M:%S'
mdb_export() { mdb-export -d $'\t' -b hex -B -D "$date_fmt" -T "$date_fmt" "$@"; }

# One failure detail, to standard error.
detail() { printf '%s: %s\n' "$name" "$*" | cut -c1-400 >&2; }

# 'ok' or "N problems: FIRST" for `jetdb check FILE`; returns 1 unless ok.
check_summary() {
  local out
  if out=$(jet check "$1" 2>&1); then echo ok; return 0; fi
  local n first
  n=$(grep -c '^problem: ' <<<"$out" || true)
  first=$(grep -m1 '^problem: ' <<<"$out" || true)
  if ((n == 0)); then
    echo "error: $(head -1 <<<"$out" | sed 's/ (file: .*//')"
  else
    echo "$n problems: ${first#problem: }"
  fi
  return 1
}

# How many moved-row copies of TABLE that no row points to the file's
# `jetdb check` output ($work/check.out) notes.
orphaned_copies() {
  grep -F "note: table '$1': page " "$work/check.out" |
    grep -c 'is a moved row that no row points to' || true
}

# The number of problems in a check_summary line.
problems() {
  case "$1" in
    ok) echo 0 ;;
    *" problems: "*) echo "${1%% problems: *}" ;;
    *) echo 1000000 ;;
  esac
}

files=0 failed_files=0 total_tables=0 total_agree=0 total_rows=0
check_ok=0 write_ok=0 write_run=0 write_refused=0 mdbtools_ok=0
printf '| file | format | tables | rows | export agrees | check | write test | mdbtools reads |\n'
printf '| --- | --- | --- | --- | --- | --- | --- | --- |\n'

shopt -s nullglob nocaseglob
# jetdb, given the current file's password if it has one.
jet() {
  if [[ -n "${password:-}" ]]; then
    "$jetdb" "$@" --password "$password"
  else
    "$jetdb" "$@"
  fi
}

for path in "$dir"/*.mdb "$dir"/*.accdb; do
  password=""
  name=$(basename "$path")
  files=$((files + 1))
  bad=0

  # (a) the file is the one sources.tsv lists
  listed=$(awk -F'\t' -v n="$name" '$1 == n { print $5 "\t" $7 "\t" $10; exit }' "$sources")
  format=$(cut -f2 <<<"$listed")
  # A database password, where the project's own source gives it.
  password=$(cut -f3 <<<"$listed")
  if [[ -n "$listed" ]]; then
    sum=$(sha256sum "$path" | cut -d' ' -f1)
    if [[ "$sum" != "$(cut -f1 <<<"$listed")" ]]; then
      detail "sha256 differs from sources.tsv"
      bad=1
      format="$format (sha256 differs)"
    fi
  else
    format=$(jet info "$path" 2>/dev/null | sed -n 's/^format: \([a-z0-9]*\).*/\1/p')
    format=${format:-unknown}
  fi

  # (b) every table mdbtools lists, exported by both. mdbtools cannot
  # decrypt: an encrypted file is compared through a plain copy
  # (jet_decrypt_copy, built beside jetdb with the tests).
  mdbtools_reads=yes
  tables=()
  reader="$path"
  if [[ -n "$password" && -x "$decrypt" ]] &&
    "$decrypt" "$path" "$work/plain.accdb" "$password" 2>"$work/err"; then
    reader="$work/plain.accdb"
  fi
  if list=$(mdb-tables -1 "$reader" 2>"$work/err"); then
    mapfile -t tables <<<"$list"
    [[ -n "$list" ]] || tables=()
  else
    mdbtools_reads=no
    detail "mdb-tables fails: $(head -1 "$work/err")"
  fi
  agree=0 rows=0
  agreeing=()
  # Moved-row copies that no row points to, which mdbtools prints as rows
  # (compare_export.py forgives exactly as many, per table).
  jet check "$path" >"$work/check.out" 2>&1 || true
  for table in "${tables[@]}"; do
    orphaned=$(orphaned_copies "$table")
    if ! mdb_export "$reader" "$table" >"$work/theirs.tsv" 2>"$work/err"; then
      mdbtools_reads=partly
      detail "table '$table': mdb-export fails: $(head -1 "$work/err")"
      continue
    fi
    if ! jet schema "$path" "$table" --json >"$work/schema.json" 2>"$work/err" ||
      ! jet export "$path" "$table" --format jsonl >"$work/ours.jsonl" 2>>"$work/err"; then
      detail "table '$table': jetdb cannot export: $(sed 's/ (file: .*//' "$work/err" | head -1)"
      continue
    fi
    if result=$(python3 "$compare" rows "$work/theirs.tsv" "$work/ours.jsonl" "$work/schema.json" \
      "$orphaned"); then
      agree=$((agree + 1))
      rows=$((rows + ${result#ok }))
      agreeing+=("$table")
    else
      detail "table '$table': $result"
    fi
  done
  ((agree == ${#tables[@]})) || bad=1
  [[ $mdbtools_reads == yes ]] && mdbtools_ok=$((mdbtools_ok + 1))

  # (c) the checker on the untouched file
  if check=$(check_summary "$path"); then
    check_ok=$((check_ok + 1))
  else
    bad=1
    detail "check: $check"
  fi

  # (d) write test on a copy, with tables that both tools read alike (not
  # of an encrypted file, which jetdb only reads)
  write="not run"
  [[ -n "$password" ]] && agreeing=()
  copy="$work/copy.${path##*.}"
  cp "$path" "$copy"
  chmod u+w "$copy"
  todo=()
  for table in "${agreeing[@]}"; do
    ((${#todo[@]} < max_tables)) || break
    n=$(jq -r '.row_count // 0' < <(jet schema "$copy" "$table" --json 2>/dev/null) || echo 0)
    ((n <= max_rows)) && todo+=("$table")
  done
  if ((${#todo[@]})); then
    write_run=$((write_run + 1))
    write=ok
    before=$(check_summary "$copy" || true)
    done_tables=()
    refusal=""
    for table in "${todo[@]}"; do
      new="${table:0:58}_copy"
      if ! jet schema "$copy" "$table" --json 2>"$work/err" | jq --arg n "$new" '.name = $n' >"$work/new.json" ||
        ! jet create-table "$copy" "$work/new.json" >/dev/null 2>>"$work/err"; then
        # A table whose indexes jetdb cannot keep as Access does (a sort
        # order it cannot key), or whose columns it does not make
        # (calculated, complex, Large Number, Date/Time Extended), is
        # refused before anything is written: that is the engine doing its
        # job, not a failure. Try the next table.
        if grep -q 'are not supported' "$work/err"; then
          refusal=$(sed -n 's/.*\(sort order LCID [0-9]*\).*/\1/p' "$work/err" | head -1)
          continue
        fi
        if grep -q 'does not create\|are not created by this engine' "$work/err"; then
          refusal="a column type not created"
          continue
        fi
        write="create-table fails"
        detail "write test, table '$table': create-table: $(sed 's/ (file: .*//' "$work/err" | head -1)"
        break
      fi
      if ! jet export "$copy" "$table" --format jsonl >"$work/rows.jsonl" 2>"$work/err" ||
        ! jet import "$copy" "$new" "$work/rows.jsonl" >/dev/null 2>>"$work/err"; then
        write="import fails"
        detail "write test, table '$table': import: $(sed 's/ (file: .*//' "$work/err" | head -1)"
        break
      fi
      done_tables+=("$table")
    done
    if [[ $write == ok ]] && ((${#done_tables[@]} == 0)); then
      write="refused"
    fi
    # The write must add no problem to those the file had before.
    if [[ $write == ok ]] && ! after=$(check_summary "$copy") &&
      (($(problems "$after") > $(problems "$before"))); then
      write="check after: ${after:0:80}"
      detail "write test: check after: $after (before: ${before:0:80})"
    fi
    if [[ $write == ok ]]; then
      for table in "${done_tables[@]}"; do
        new="${table:0:58}_copy"
        mdb_export "$copy" "$table" >"$work/a.tsv" 2>/dev/null || true
        if ! mdb_export "$copy" "$new" >"$work/b.tsv" 2>"$work/err"; then
          write="mdbtools cannot read the copy"
          detail "write test, table '$new': mdb-export fails: $(head -1 "$work/err")"
          break
        fi
        # mdbtools prints the original's orphaned copies too (see above):
        # there the copy is compared with jetdb's reading of the original.
        if (($(orphaned_copies "$table"))); then
          jet export "$path" "$table" --format jsonl >"$work/orig.jsonl" 2>/dev/null || true
          jet schema "$copy" "$new" --json >"$work/new-schema.json" 2>/dev/null || true
          result=$(python3 "$compare" rows "$work/b.tsv" "$work/orig.jsonl" "$work/new-schema.json") || {
            write="copy differs"
            detail "write test, table '$table': $result"
            break
          }
        elif ! result=$(python3 "$compare" same "$work/a.tsv" "$work/b.tsv"); then
          write="copy differs"
          detail "write test, table '$table': $result"
          break
        fi
      done
    fi
    if [[ $write == ok ]]; then
      write_ok=$((write_ok + 1))
      write="ok (${#done_tables[@]} tables)"
      [[ -n $refusal ]] && write+="; others refused (${refusal})"
    elif [[ $write == refused ]]; then
      write_run=$((write_run - 1))
      write_refused=$((write_refused + 1))
      write="refused (${refusal:-not supported}), nothing written"
    else
      bad=1
    fi
  fi
  rm -f "$copy"

  total_tables=$((total_tables + ${#tables[@]}))
  total_agree=$((total_agree + agree))
  total_rows=$((total_rows + rows))
  ((bad)) && failed_files=$((failed_files + 1))
  printf '| %s | %s | %d | %d | %d/%d | %s | %s | %s |\n' "$name" "$format" "${#tables[@]}" \
    "$rows" "$agree" "${#tables[@]}" "${check//|/\\|}" "$write" "$mdbtools_reads"
done

printf '\nFiles: %d, of which %d with a failure. Tables: %d/%d exports agree (%d rows).\n' \
  "$files" "$failed_files" "$total_agree" "$total_tables" "$total_rows"
printf 'Check ok: %d/%d. Write test ok: %d/%d run (%d refused as not supported). mdbtools reads every table: %d/%d.\n' \
  "$check_ok" "$files" "$write_ok" "$write_run" "$write_refused" "$mdbtools_ok" "$files"
((failed_files == 0))
