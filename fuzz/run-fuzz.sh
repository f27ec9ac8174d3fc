#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) into
# build-fuzz/ and runs each for SECONDS seconds, starting from seeds made of the project's real
# inputs: the PE fixtures, the test modules built in the same tree, files cut short and
# header-patched from one of them, the inputs kept under tests/fixtures/fuzz/, their symbol
# names, the bundle manifests, and host-language statements from the demo.
#
#   fuzz/run-fuzz.sh [SECONDS] [TARGET...]      (default 60 seconds, every target)
#
# The corpus of each target grows across runs in build-fuzz/fuzz/corpus/. An input that crashes
# a target is saved in build-fuzz/fuzz/findings/ and makes the script fail; keep it as a
# regression test next to the subsystem's tests once the fault is fixed.
# Environment: ORB_JOBS (build jobs, default 2), ORB_FUZZ_BUILD_DIR (default build-fuzz/).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:-60}
[ $# -gt 0 ] && shift
BUILD=${ORB_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
JOBS=${ORB_JOBS:-2}

if [ ! -f "$BUILD/build.ninja" ]; then
  # -O1 with line tables only: quick to build, fast enough to run, and stacks still name lines.
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=None \
    "-DCMAKE_C_FLAGS=-O1 -gline-tables-only" "-DCMAKE_CXX_FLAGS=-O1 -gline-tables-only" \
    -DORB_FUZZ=ON -DORB_SANITIZE=address,undefined >/dev/null
fi
# A few real modules of each kind make the seeds; the fuzzers mutate them from there. Building
# every test module would cost CI minutes for no more coverage.
SEED_MODULES=(shape_c shape_cpp_no_destroy inspect_c700 inspect_c730_vf inspect_c800_vf inspect_cpp
  inspect_fortran_vf inspect_mixed_730_800 inspect_c800_manifest800 bundle_appended bundle_linked)
ninja -C "$BUILD" -j "$JOBS" fuzz_targets stage_files "${SEED_MODULES[@]}"

BIN=$BUILD/fuzz/bin
WORK=$BUILD/fuzz
MODULES=$BUILD/tests/modules
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$BIN"/fuzz_*; do targets+=("$(basename "$exe")"); done
fi

# Seeds, made afresh each run from the sources and the build.
seed_dir() { local d=$WORK/seeds/$1; rm -rf "$d"; mkdir -p "$d"; echo "$d"; }
binaries() { find "$ROOT/tests/fixtures" -name '*.dll' -o -name '*.exe'; find "$MODULES" -maxdepth 1 -name '*.orbw64'; }
# Hostile files made from one good module: cut short at several places, and with the ELF header
# fields patched that name the class, byte order, type, machine and program header table.
hostile_files() {
  local dir=$1 good=$MODULES/shape_c.orbw64 size n
  [ -f "$good" ] || return 0
  size=$(stat -c %s "$good")
  for n in 10 63 64 200 3000 $((size / 2)) $((size - 1)); do head -c "$n" "$good" > "$dir/cut$n"; done
  patched() { cp "$good" "$dir/$1"; printf "$3" | dd of="$dir/$1" bs=1 seek="$2" conv=notrunc status=none; }
  patched class32 4 '\001'; patched bigendian 5 '\002'; patched exec 16 '\002'; patched aarch64 18 '\267'
  patched phoff 32 '\377\377'
}
make_seeds() {
  local target=$1 dir
  dir=$(seed_dir "$target")
  case "$target" in
    fuzz_bundle)
      binaries | while read -r f; do cp "$f" "$dir/"; done ;;
    fuzz_object_file|fuzz_hostile_file)
      binaries | while read -r f; do cp "$f" "$dir/"; done
      hostile_files "$dir"
      # Inputs kept from earlier findings, whatever their subsystem.
      find "$ROOT/tests/fixtures/fuzz" -type f ! -name README.md | while read -r f; do
        cp "$f" "$dir/fixture_$(basename "$(dirname "$f")")_$(basename "$f")"
      done ;;
    fuzz_api_detector)
      binaries | while read -r f; do
        { nm -D --defined-only "$f" 2>/dev/null; nm -D --undefined-only "$f" 2>/dev/null; } |
          awk '{print $NF}' > "$dir/$(basename "$f").names"
      done ;;
    fuzz_manifest)
      find "$ROOT/tests/modules" -name '*.json' -exec cp {} "$dir/" \; ;;
    fuzz_version)
      local i=0 text
      for text in "R2024b 0x8000000" "R2017b 0x7300000" "R2016b 0x7000000" "R2016a" "0 0" "R2099B 0x9000000" ""; do
        printf '%s' "$text" > "$dir/v$((i++))"
      done ;;
    fuzz_lang_syntax)
      # The statements the demo and the tool tests give `orb run -e`.
      grep -ho "run -e ['\"].*['\"]" "$ROOT/examples/demo.sh" | sed -E "s/^run -e ['\"](.*)['\"]$/\1/" |
        awk -v d="$dir" '{ f = d "/s" NR; print > f; close(f) }'
      printf 'x = [1 -2; 3 4]; s.a.b = {1, "two", int8(3)}\n[a, b] = size(x(:, 2)), clear x\n' > "$dir/mixed" ;;
    fuzz_fortran_strings)
      printf '\x10\x00\x08  name  C text' > "$dir/name"
      printf '\x04\x01\x20  a longer text with blanks   \x00' > "$dir/cut" ;;
  esac
}

export VELTRA_ROOT=$BUILD/stage
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
mkdir -p "$WORK/findings"
failed=()
for target in "${targets[@]}"; do
  make_seeds "$target"
  corpus=$WORK/corpus/$target
  mkdir -p "$corpus"
  echo "== $target: ${SECONDS_EACH}s" >&2
  if ! "$BIN/$target" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$WORK/findings/$target-" "$corpus" "$WORK/seeds/$target" >"$WORK/$target.log" 2>&1; then
    failed+=("$target")
    tail -n 40 "$WORK/$target.log" >&2
  else
    grep -E "^(stat::number_of_executed_units|stat::new_units_added|#[0-9]+.*DONE)" "$WORK/$target.log" >&2 || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $WORK/findings)" >&2
  exit 1
fi
echo "fuzz: no findings" >&2
