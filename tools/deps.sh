#!/usr/bin/env bash
# Installs the Debian packages the build needs when any is missing (CI starts on a clean
# machine). Extra package names given as arguments are installed too.
set -euo pipefail
need=(cmake g++ make libgtest-dev libbenchmark-dev openjdk-17-jdk-headless "$@")
missing=()
for p in "${need[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
