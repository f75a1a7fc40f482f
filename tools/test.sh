#!/usr/bin/env bash
# Builds (as tools/build.sh does) and runs the whole test suite.
# Usage: tools/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
bash "$root/tools/build.sh" "$@"
jobs=${ZF_JOBS:-$(nproc 2>/dev/null || echo 2)}
# Digests of a former run would be compared as if this run had recorded them.
rm -rf "$dir/digests"
ctest --test-dir "$dir" --output-on-failure --timeout 1500 -j "$jobs"
