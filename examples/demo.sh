#!/usr/bin/env bash
# The demo: example modules built with nothing but a C compiler against the staged installation
# root, diagnosed with `orb check`, and called with `orb run`.
set -euo pipefail
STAGE=${1:?usage: demo.sh STAGE_DIR}
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
echo "== Building the example modules with a plain C compiler"
# No -Wl,-rpath: a module is only ever loaded into a process that has liborb and libvhost loaded
# already (the host), and the dynamic loader satisfies the module's needs with those by name.
for module in scale describe callback; do
  echo "cc -shared -fPIC -fexceptions -I\$ROOT/include $module.c -L\$ROOT/lib -lorb -lvhost -o $module.orbw64"
  cc -shared -fPIC -fexceptions -I"$ROOT/include" "$EXAMPLES/$module.c" -L"$ROOT/lib" -lorb -lvhost \
    -o "$module.orbw64"
done

echo
echo "== Diagnosing them without running them"
show check scale.orbw64 describe.orbw64 callback.orbw64

echo
echo "== Calling them"
show run scale.orbw64 '[1 2; 3 4]' 2.5
show run scale.orbw64 '1+2i' -2
show run -e 'y = scale(int8([100 -100 7]), 2)'
show run describe.orbw64 "{1, 'two', [3 4]}"
show run -e "s = describe(int8([1 2 3]), 1+2i); s(2)"
show run -e "callback('put', 'greeting', 'hello from the base workspace'); callback('eval', 'disp(greeting)'); n = callback('call', 'size', [1 2 3; 4 5 6])"
echo
echo "Errors carry their identifiers:"
show run scale.orbw64 "'text'" 2
show run -e "callback('call', 'error', 'demo:fails', 'raised by the host, inside a module call')"

echo
echo "== A shell session: statements from standard input, one engine throughout"
statements=("x = scale([1 2 3], 2);" "y = scale(x, 'two')" "s = describe(x); s.size" "callback('get', 'x')")
printf '  > %s\n' "${statements[@]}"
printf '%s\n' "${statements[@]}" | "$ORB" shell --path "$WORK" 2>&1 | sed 's/^/  | /'

echo
echo "== Services liborb exports to modules"
nm -D --defined-only "$ROOT/lib/liborb.so" | awk '$3 ~ /^orb/ {print $3}' | sort | tr '\n' ' ' | fold -s -w 100
echo
