#!/usr/bin/env bash
# Times `orb check --symbols` against `nm -D` (the baseline) on the same shared library, in one
# run, and prints both and their ratio. Both write their listing to /dev/null; each is run
# ROUNDS times, alternating, and the fastest run of each counts (the least disturbed by other
# work on the machine).
#
# usage: bench/inspect-vs-nm.sh [LIBRARY]      (default: the largest shared library under /usr/lib)
# Environment: ORB_BUILD_DIR (default build/), ROUNDS (default 10).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
orb=$build/stage/bin/orb
rounds=${ROUNDS:-10}
[ -x "$orb" ] || { echo "inspect-vs-nm: $orb is not built" >&2; exit 1; }

library=${1:-}
if [ -z "$library" ]; then
  while read -r _ path; do
    if [ "$(head -c 4 "$path" | od -An -tx1 | tr -d ' ')" = "7f454c46" ]; then library=$path; break; fi
  done < <(find /usr/lib -name '*.so*' -type f -printf '%s %p\n' 2>/dev/null | sort -rn)
fi
[ -n "$library" ] || { echo "inspect-vs-nm: no shared library found" >&2; exit 1; }

now() { date +%s%N; }
best_orb=""
best_nm=""
for _ in $(seq "$rounds"); do
  start=$(now)
  # Exit status 1 only means the library is no valid module; the listing is complete either way.
  VELTRA_ROOT=$build/stage "$orb" check --symbols "$library" > /dev/null || [ $? -eq 1 ]
  t=$(( $(now) - start ))
  [ -z "$best_orb" ] || [ "$t" -lt "$best_orb" ] && best_orb=$t
  start=$(now)
  nm -D "$library" > /dev/null
  t=$(( $(now) - start ))
  [ -z "$best_nm" ] || [ "$t" -lt "$best_nm" ] && best_nm=$t
done

symbols=$(nm -D "$library" | wc -l)
printf 'library   %s (%s bytes, %s dynamic symbols)\n' "$library" "$(stat -c %s "$library")" "$symbols"
awk -v o="$best_orb" -v n="$best_nm" 'BEGIN {
  printf "orb check --symbols  %8.1f ms\n", o / 1e6
  printf "nm -D (baseline)     %8.1f ms\n", n / 1e6
  printf "ratio orb/nm         %8.2f\n", o / n
}'
