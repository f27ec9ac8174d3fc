#!/bin/sh
# Installs the build into an empty folder, builds the module project consumer/ against it with
# find_package(orb), and runs the module with the installed orb.
#   install_consumer_test.sh BUILD_DIR GENERATOR
set -eu
BUILD=$1
GENERATOR=$2
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PREFIX=$WORK/prefix

cmake --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log" || { cat "$WORK/install.log"; exit 1; }
for f in bin/orb bin/linux64/usResourceCompiler3 lib/liborb.so lib/libvhost.so lib/libVeltraDataArray.so \
         include/orb.h include/ry.h resources/messages/orb.json extern/version/orbMetadata.json \
         lib/cmake/orb/orbConfig.cmake; do
  [ -e "$PREFIX/$f" ] || { echo "not installed: $f"; exit 1; }
done

cmake -S "$HERE/consumer" -B "$WORK/consumer" -G "$GENERATOR" -DCMAKE_PREFIX_PATH="$PREFIX" >"$WORK/configure.log" \
  || { cat "$WORK/configure.log"; exit 1; }
cmake --build "$WORK/consumer"

# The installed tool finds its root from its own libraries, not from the environment.
out=$(env -u VELTRA_ROOT "$PREFIX/bin/orb" run "$WORK/consumer/triple.orbw64" '[1 2 3]')
echo "$out"
printf '%s\n' "$out" | grep -Eq '^ *3 +6 +9 *$' || { echo "unexpected output of the installed module"; exit 1; }
