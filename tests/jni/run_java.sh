#!/bin/sh
# Runs one group of the Java binding tests in the JVM with -Xcheck:jni and fails on a crash, a
# failed check or any JNI warning the VM prints. Exit 77 (a skipped group) passes through.
# Usage: run_java.sh <java> <class path> <library path> <work folder> <JVM option|-> <group> <args...>
set -u
java=$1 classpath=$2 libpath=$3 work=$4 option=$5
shift 5
mkdir -p "$work"
log="$work/jni-$1.log"
[ "$option" = "-" ] && option=
# shellcheck disable=SC2086
"$java" -Xcheck:jni $option -XX:ErrorFile="$work/hs_err_%p.log" -cp "$classpath" \
    -Djava.library.path="$libpath" zftest.BindingTest "$@" >"$log" 2>&1
status=$?
cat "$log"
if grep -q -e 'WARNING' -e 'FATAL ERROR' "$log"; then
    echo "the JVM reported a JNI problem (above)"
    exit 1
fi
exit $status
