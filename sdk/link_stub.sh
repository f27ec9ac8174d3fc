#!/bin/sh
# Writes the C source of a link-only copy of a shared library: one empty definition for each C
# function (and data object) the library exports, nothing of its C++ names.
#   link_stub.sh NM LIBRARY OUTPUT.c
# Only C identifiers are kept: no C++ names, no versioned names, and none of the names of the
# compiler or a sanitizer (those begin with two underscores or hold a dot).
set -eu
"$1" -D --defined-only "$2" | awk '
  $3 !~ /^[A-Za-z_][A-Za-z0-9_]*$/ || $3 ~ /^_Z/ || $3 ~ /^__/ { next }
  $2 ~ /^[TWi]$/ { print "void " $3 "(void) {}"; next }
  $2 ~ /^[DBRV]$/ { print "char " $3 "[1];" }
' > "$3.partial"
mv "$3.partial" "$3"
