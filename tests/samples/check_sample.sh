#!/bin/sh
# Runs the Java sample on a list file or an FVC folder and checks the lines that prove the chain
# works: the records enrolled, one line per probe, and the rank-1 line with its rate.
# Usage: check_sample.sh <java> <class path> <library path> <prints> <records> <probes> <min rate %>
set -u
java=$1 classpath=$2 libpath=$3 prints=$4 records=$5 probes=$6 minimum=$7
if [ ! -e "$prints" ]; then
    echo "SKIPPED: $prints not found (shared fingerprint images absent)"
    exit 77
fi
out=$("$java" -Xcheck:jni -cp "$classpath" -Djava.library.path="$libpath" EnrolAndIdentify \
    "$prints" 2>&1)
status=$?
echo "$out"
fail() {
    echo "FAILED: $1"
    exit 1
}
[ $status -eq 0 ] || fail "the sample exited with $status"
echo "$out" | grep -q -e 'WARNING' -e 'FATAL ERROR' && fail "the JVM reported a JNI problem"
echo "$out" | grep -qx "enrolled $records records" || fail "expected 'enrolled $records records'"
found=$(echo "$out" | grep -c '^probe ')
[ "$found" -eq "$probes" ] || fail "$found probe lines, expected $probes"
line=$(echo "$out" | grep '^rank-1: ') || fail "no rank-1 line"
first=$(echo "$line" | sed 's/^rank-1: \([0-9]*\) of \([0-9]*\) .*/\1/')
total=$(echo "$line" | sed 's/^rank-1: \([0-9]*\) of \([0-9]*\) .*/\2/')
[ "$total" -eq "$probes" ] || fail "rank-1 over $total probes, expected $probes"
[ $((100 * first)) -ge $((minimum * total)) ] || fail "rank-1 rate below $minimum %"
echo "sample output checked: $records records, $probes probes, $first first"
