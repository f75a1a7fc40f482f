#!/usr/bin/env bash
# Checks that two builds' test runs produced the same bytes: compares the digests the tests
# recorded (tests/support/digest.h) under each build's digests/ folder. A key both recorded
# must have the same size and digest; a key its test marked as possibly differing is listed
# with its cause instead. Keys only one build recorded (reduced inputs) are counted only.
# Usage: tools/digests.sh <build-dir> <other-build-dir>
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 <build-dir> <other-build-dir>" >&2; exit 2; }
a=$1/digests
b=$2/digests
name_a=$(basename "$1")
name_b=$(basename "$2")
records() { [ -d "$1" ] && find "$1" -name '*.txt' -exec cat {} + || true; }
awk -F'\t' -v A="$name_a" -v B="$name_b" '
    FNR == NR { size[$1] = $2; hash[$1] = $3; cause[$1] = $4; next }
    !($1 in hash) { only++; next }
    {
        seen[$1] = 1
        if ($2 == size[$1] && $3 == hash[$1]) { same++; next }
        c = $4 != "-" ? $4 : cause[$1]
        if (c != "-") { known++; printf "differs (known: %s): %s\n", c, $1; next }
        bad++
        printf "DIFFERS: %s  %s: %s bytes %s  %s: %s bytes %s\n", $1, A, size[$1], hash[$1], B, $2, $3
    }
    END {
        for (k in hash) if (!(k in seen)) only++
        printf "digests %s vs %s: %d same, %d known differences, %d differ, %d in one build only\n",
               A, B, same, known, bad, only
        exit bad > 0
    }' <(records "$a") <(records "$b")
