#!/usr/bin/env bash
# Runs one fuzz target under libFuzzer for SECONDS (default 60), building the clang fuzz flavour
# (-DZF_FUZZ=ON) into build-fuzz/ (or $ZF_FUZZ_BUILD) first. The working corpus lives in
# <build>/corpus/TARGET; the committed seeds, the WSQ dictionary and the shared hostile inputs
# (../shared/data/fuzz, when present) are read too. A finding is written to
# <build>/artifacts/ and fails the run; keep it as a regression input in tests/fuzz/corpus/.
# Usage: tools/fuzz.sh TARGET [SECONDS]
#   TARGET: wsq_decode, wsq_create, record, raw_create or wsq_encode; "build" builds them all
#   and runs nothing (then ZF_FUZZ_PREBUILT=1 lets several runs share the build folder).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: tools/fuzz.sh TARGET [SECONDS]}
seconds=${2:-60}
dir=${ZF_FUZZ_BUILD:-$root/build-fuzz}
seeds=$root/tests/fuzz/corpus
targets=(wsq_decode wsq_create record raw_create wsq_encode)
case "$target" in
build) from=() ;;
wsq_decode | wsq_create) from=("$seeds/wsq" "$root/tests/data/wsq") ;;
record | raw_create | wsq_encode) from=("$seeds/$target") ;;
*) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac
shared=$root/../shared/data/fuzz
[ -d "$shared" ] && from+=("$shared")
# The WSQ targets take the format's markers as a dictionary, and inputs of at most 16 KiB (the
# card images among the seeds are read cut short); records stay within the template size.
extra=()
case "$target" in
wsq_decode | wsq_create) extra=(-dict="$root/tests/fuzz/wsq.dict" -max_len=16384) ;;
record) extra=(-max_len=12288) ;;
esac

if [ "${ZF_FUZZ_PREBUILT:-0}" != 1 ]; then
    bash "$root/tools/deps.sh" clang libclang-rt-dev
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DZF_FUZZ=ON \
            -DZF_TESTS=OFF -DZF_JNI=OFF >/dev/null
    fi
    if [ "$target" = build ]; then
        names=("${targets[@]/#/fuzz_}")
    else
        names=("fuzz_$target")
    fi
    # clang's own warnings (not those of the CI compiler) go to the log only.
    if ! cmake --build "$dir" -j "${ZF_JOBS:-2}" --target "${names[@]}" >"$dir/build.log" 2>&1; then
        grep -E 'error' "$dir/build.log" | head -20 >&2
        exit 1
    fi
fi
[ "$target" = build ] && exit 0
mkdir -p "$dir/corpus/$target" "$dir/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
log=$dir/fuzz-$target.log
# -timeout: one input taking a minute is a finding too; -rss_limit_mb: the largest frames the
# targets let through need a few hundred MB under the sanitizers.
set +e
"$dir/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=3072 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/$target-" "${extra[@]}" \
    "$dir/corpus/$target" "${from[@]}" >"$log" 2>&1
rc=$?
set -e
done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 | tr -s '[:space:]' ' ' || true)
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
echo "$target: exit $rc, ${seconds} s, ${execs:-?} executions; ${done_line:-no final line}"
if [ $rc -ne 0 ]; then
    grep -E 'ERROR|runtime error|invariant broken|Test unit written' "$log" | head -20 >&2 || true
    echo "$target: finding, see $log" >&2
fi
exit $rc
