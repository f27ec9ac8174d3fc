#!/usr/bin/env bash
# The benchmark driver: runs every comparison this tree has, each figure beside its baseline
# measured in the same run. Google Benchmark programs join here as they are written.
# usage: bench/run-bench.sh BUILD_DIR [ARGS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export ORB_BUILD_DIR=${1:?usage: run-bench.sh BUILD_DIR}
shift || true
echo "== orb check --symbols against nm -D on the largest shared library"
"$here/inspect-vs-nm.sh" "$@"
