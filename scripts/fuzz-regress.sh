#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each one
# over the inputs that once made it fail (fuzz/regressions/TARGET/), then
# fuzzes each for a short while from the small fixture databases.
#
#   scripts/fuzz-regress.sh            regressions, then 30 s per target
#   FUZZ_SECONDS=0 scripts/fuzz-regress.sh      regressions only
#   FUZZ_SECONDS=1800 scripts/fuzz-regress.sh   a long run
#   FUZZ_TARGETS=fuzz_expr scripts/fuzz-regress.sh   only the targets named
#
# New failures are written to build-fuzz/findings/TARGET/; copy the input
# into fuzz/regressions/TARGET/ once the engine is fixed. Exits non-zero if
# any target crashed, leaked, hung or tripped a sanitizer.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
SECONDS_EACH="${FUZZ_SECONDS:-30}"
FIXTURES="${AFC_FIXTURES_DIR:-$ROOT/tests/data}"
read -r -a TARGETS <<<"${FUZZ_TARGETS:-fuzz_read fuzz_check fuzz_insert fuzz_expr}"

if ! command -v clang++ >/dev/null; then
  echo "fuzz-regress: clang++ is not installed (apt-get install clang)" >&2
  exit 1
fi

echo "fuzz-regress: building in ${BUILD#"$ROOT"/}/"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DAFC_FUZZ=ON -DAFC_BUILD_TESTS=OFF -DAFC_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "${JOBS:-2}" --target "${TARGETS[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# Small databases of every version to start from; the insert target also
# gets one whose indexes span several pages.
seeds=(adox-jet4 delTestV1997 overflowTestV1997 emptyJet4 compIndexTestV1997 emptyV2000
       bigIndexTestV2000 testV1997 delColTestV2000 indexTestV1997 overflowTestV2000 test2V1997)

failed=()
for target in "${TARGETS[@]}"; do
  bin="$BUILD/bin/$target"
  regressions="$ROOT/fuzz/regressions/$target"
  work="$BUILD/regress/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$BUILD/findings/$target"

  inputs=()
  if [[ -d "$regressions" ]]; then
    while IFS= read -r -d '' f; do inputs+=("$f"); done \
      < <(find "$regressions" -type f ! -name '*.md' -print0 | sort -z)
  fi
  if ((${#inputs[@]})); then
    echo "==== $target: ${#inputs[@]} regression inputs"
    if ! (cd "$work" && "$bin" -timeout=20 -rss_limit_mb=2048 "${inputs[@]}" >"$work/regress.log" 2>&1); then
      tail -n 40 "$work/regress.log"
      failed+=("$target regressions")
      continue
    fi
  else
    echo "==== $target: no regression inputs"
  fi

  ((SECONDS_EACH > 0)) || continue
  if [[ $target == fuzz_expr ]]; then
    # The expressions of the shared and our own cases, one file each.
    cat "$FIXTURES/expressions/cases.tsv" "$FIXTURES/expressions/own_cases.tsv" | grep -v '^#' | cut -f1 |
      awk -v dir="$work/corpus" 'NF { print > (dir "/case" NR) }'
  else
    for s in "${seeds[@]}"; do
      [[ -f "$FIXTURES/access/$s.mdb" ]] && cp "$FIXTURES/access/$s.mdb" "$work/corpus/"
    done
  fi
  if [[ $target == fuzz_insert && -f "$FIXTURES/hosts/tallowin-v2000.mdb" ]]; then
    cp "$FIXTURES/hosts/tallowin-v2000.mdb" "$work/corpus/"
  fi
  ((${#inputs[@]})) && cp "${inputs[@]}" "$work/corpus/"
  chmod -R u+w "$work/corpus"
  echo "==== $target: fuzzing for ${SECONDS_EACH} s"
  if ! (cd "$work" && "$bin" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 \
          -max_len=500000 -artifact_prefix="$BUILD/findings/$target/" corpus \
          >"$work/fuzz.log" 2>&1); then
    tail -n 40 "$work/fuzz.log"
    failed+=("$target")
    continue
  fi
  grep -E '^Done [0-9]+ runs' "$work/fuzz.log" || true
done

if ((${#failed[@]})); then
  echo "fuzz-regress: FAILED: ${failed[*]} (inputs in ${BUILD#"$ROOT"/}/findings/)"
  exit 1
fi
echo "fuzz-regress: all targets passed"
