#!/usr/bin/env bash
# Shows the engine at work: builds what the Java sample needs (through tools/build.sh, which
# first installs missing Debian packages) into build/ or $1, then runs the sample, which enrols
# and identifies the public-domain prints shipped in samples/data/.
# Usage: tools/demo.sh [build-dir] [list file or FVC folder]   (ZF_JOBS=n: parallel jobs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
prints=${2:-$root/samples/data/public_prints.txt}
ZF_TARGETS="zelvanfp_jni enrol_and_identify" bash "$root/tools/build.sh" "$dir"
java=$(sed -n 's/^Java_JAVA_EXECUTABLE:[A-Z]*=//p' "$dir/CMakeCache.txt")
exec "${java:-java}" -cp "$dir/zelvanfp.jar:$dir/EnrolAndIdentify.jar" -Djava.library.path="$dir" \
    EnrolAndIdentify "$prints"
