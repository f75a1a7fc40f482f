#!/usr/bin/env bash
# Cross-builds the libraries and the tests for 32-bit Arm (Release, warnings as errors, no Java
# binding) into build-arm/ or $1 and runs the whole suite under qemu-arm. Installs the cross
# compiler and qemu-user first when they are missing.
# Usage: tools/arm.sh [build-dir] [extra cmake arguments...]   (ZF_JOBS=n: parallel jobs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-arm}
shift || true
bash "$root/tools/deps.sh" g++-arm-linux-gnueabihf qemu-user
bash "$root/tools/test.sh" "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabihf.cmake" \
    -DZF_JNI=OFF "$@"
