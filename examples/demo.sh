#!/usr/bin/env bash
# The demo: what the runtime does, shown on the staged installation root.
set -euo pipefail
STAGE=${1:?usage: demo.sh STAGE_DIR}
export VELTRA_ROOT=$STAGE
ORB=$STAGE/bin/orb

echo "== The runtime and the interface it serves"
"$ORB" version

echo
echo "== Services liborb exports to modules (each older-generation alias shares its entry)"
nm -D --defined-only "$STAGE/lib/liborb.so" | awk '$3 ~ /^orb/ {print $1, $3}' | sort | \
  awk '{names[$1] = names[$1] ? names[$1] " = " $2 : $2} END {for (a in names) print "  " names[a]}' | sort
