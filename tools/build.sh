#!/usr/bin/env bash
# Builds the libraries and the tests (Release, warnings as errors) into build/ or $1.
# Usage: tools/build.sh [build-dir] [extra cmake arguments...]   (ZF_JOBS=n: parallel jobs;
# ZF_TARGETS="a b": build only these targets and what they need)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
bash "$root/tools/deps.sh"
jobs=${ZF_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DZF_WERROR=ON "$@" >/dev/null
# shellcheck disable=SC2086
cmake --build "$dir" -j "$jobs" ${ZF_TARGETS:+--target $ZF_TARGETS}
