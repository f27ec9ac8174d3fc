#!/bin/sh
# Writes the C source of a link-only copy of a shared library: one empty definition for each C
# function (and data object) the library exports, nothing of its C++ names.
#   link_stub.sh NM LIBRARY OUTPUT.c
set -eu
"$1" -D --defined-only "$2" | awk '
  $3 ~ /^_Z/ || $3 ~ /@/ { next }
  $2 ~ /^[TWi]$/ { print "void " $3 "(void) {}"; next }
  $2 ~ /^[DBRV]$/ { print "char " $3 "[1];" }
' > "$3.partial"
mv "$3.partial" "$3"
