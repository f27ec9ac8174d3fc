#!/usr/bin/env bash
# The demo: example modules built with `orb build` against the staged installation root,
# diagnosed with `orb check`, and called with `orb run`.
#   demo.sh STAGE_DIR [--symbols]    --symbols: also list the services liborb exports to modules
set -euo pipefail
STAGE=${1:?usage: demo.sh STAGE_DIR [--symbols]}
SYMBOLS=0
[ "${2:-}" = "--symbols" ] && SYMBOLS=1
ROOT=$(cd "$STAGE" && pwd)
EXAMPLES=$(cd "$(dirname "$0")" && pwd)
export VELTRA_ROOT=$ROOT
ORB=$ROOT/bin/orb
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# Shows a command as a user would type it (orb for the staged tool), then runs it. A failing
# command is part of the demo: its exit status is shown and the demo goes on.
show() {
  printf '\n$ orb'
  local arg
  for arg in "$@"; do
    if [[ $arg =~ ^[A-Za-z0-9._/=+-]+$ ]]; then
      printf ' %s' "$arg"
    elif [[ $arg != *"'"* ]]; then
      printf " '%s'" "$arg"
    else
      printf ' "%s"' "$arg"
    fi
  done
  printf '\n'
  local status=0
  "$ORB" "$@" || status=$?
  [ "$status" -eq 0 ] || echo "(exit status $status)"
}

echo "== The runtime and the interface it serves"
"$ORB" version

echo
echo "== Building the example modules with orb build"
# orb build compiles against the SDK, links a temporary module, inspects which interface
# generation the compiled code uses, and embeds the matching manifest (relinking only when the
# default does not fit). -v shows every command it runs and the steps of the link.
cp "$EXAMPLES"/*.c "$EXAMPLES"/*.h "$EXAMPLES"/*.cpp "$EXAMPLES"/*.f90 .
show build -v scale.c
for module in describe callback; do
  show build "$module.c"
done
# A module with a bug, built with debugging information (the module authors' guide shows it in
# the debugger).
show build -g crash.c
# A C++ module: a class whose object the runtime creates at load and destroys at clear.
show build tally.cpp
# A Fortran module, through the Fortran service names.
show build hello_fortran.f90

echo
echo "== Diagnosing them without running them"
show check scale.orbw64 describe.orbw64 callback.orbw64 tally.orbw64 hello_fortran.orbw64
echo
echo "The interface generation a module was built for travels in its embedded manifest:"
show manifest scale.orbw64

echo
echo "== Calling them"
show run scale.orbw64 '[1 2; 3 4]' 2.5
show run scale.orbw64 '1+2i' -2
show run -e 'y = scale(int8([100 -100 7]), 2)'
show run describe.orbw64 "{1, 'two', [3 4]}"
show run -e "s = describe(int8([1 2 3]), 1+2i); s(2)"
show run -e "callback('put', 'greeting', 'hello from the base workspace'); callback('eval', 'disp(greeting)'); n = callback('call', 'size', [1 2 3; 4 5 6])"
echo
echo "A C++ module keeps its tally in its object between calls, calls the host's disp with the"
echo "printed text captured, and calls the scale module; clear destroys the object:"
show run -e "tally([1 2 3]); t = tally(int8([4 5])), r = tally('report'), s = tally('scaled', 10), clear tally, t = tally(100)"
echo
echo "A Fortran module prints through ORBPRINTF and answers twice its input:"
show run hello_fortran.orbw64 21
echo
echo "Errors carry their identifiers:"
show run scale.orbw64 "'text'" 2
show run -e "callback('call', 'error', 'demo:fails', 'raised by the host, inside a module call')"
show run -e "tally('average')"
echo
echo "A module that faults (crash reads through a null pointer) fails its call, with an error:"
show run crash.orbw64 '[]'

echo
echo "== A shell session: statements from standard input, one engine throughout, which goes on"
echo "   after an error and after a module's fault"
statements=("x = scale([1 2 3], 2);" "y = scale(x, 'two')" "crash([])" "s = describe(x); s.size"
            "callback('get', 'x')")
printf '  > %s\n' "${statements[@]}"
# Piped statements are a script: the shell exits with status 1 when one of them failed.
status=0
printf '%s\n' "${statements[@]}" | "$ORB" shell --path "$WORK" 2>&1 | sed 's/^/  | /' || status=$?
[ "$status" -eq 0 ] || echo "  (exit status $status: a statement failed)"

if [ "$SYMBOLS" = 1 ]; then
  echo
  echo "== Services liborb exports to modules"
  nm -D --defined-only "$ROOT/lib/liborb.so" | awk '$3 ~ /^orb/ {print $3}' | sort | tr '\n' ' ' | fold -s -w 100
  echo
fi

cat <<SUMMARY

== What was shown
  orb build     compiled six modules (C, C++, Fortran) against the SDK, embedding their metadata
  orb check     said, without running them, that they can be used with this release
  orb manifest  showed the metadata a module carries
  orb run       called them with literal arguments and statements; errors came back with their
                identifiers, and a module's segmentation fault became an error the host survived
  orb shell     kept one engine, its variables and its loaded modules from statement to statement

Next: put the tool on your path and write your first module (README.md, "Your first module in
five minutes"):
  export PATH="$ROOT/bin:\$PATH"
  orb help
SUMMARY
[ "$SYMBOLS" = 1 ] || echo "(./run demo --symbols also lists the services liborb exports to modules.)"
