#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in a build folder of their own and runs each
# one on its checked-in seed corpus for a bounded time. Fails on any crash,
# leak, timeout or oversized allocation.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${KELVRA_FUZZ_BUILD_DIR:-$here/build/fuzz}"
seconds="${1:-60}"

generator=()
if command -v ninja >/dev/null 2>&1 && [[ ! -f "$build_dir/CMakeCache.txt" ]]; then
    generator=(-G Ninja)
fi
cmake -S "$here" -B "$build_dir" "${generator[@]}" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVRA_SANITIZE=ON -DKELVRA_BUILD_FUZZERS=ON \
    -DKELVRA_BUILD_TESTS=OFF -DKELVRA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" --target fuzz_tunnel

# Inputs are at most 64 KiB, so no sound run allocates anywhere near 64 MiB
# at once: a larger allocation can only come from a length a peer declared
# (up to 100 MiB) and fails the run. The RSS cap leaves room for the
# sanitizers' own bookkeeping.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=64:malloc_context_size=20"
export LSAN_OPTIONS="suppressions=$here/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run() {
    local target="$1" corpus="$2"
    local work="$build_dir/corpus/$target" artifacts="$build_dir/artifacts/$target/"
    mkdir -p "$work" "$artifacts"
    echo "fuzz: $target for ${seconds}s"
    # New inputs go to the work folder; the checked-in seeds stay untouched.
    "$build_dir/fuzz/$target" "$work" "$corpus" \
        -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -rss_limit_mb=1024 -malloc_limit_mb=64 \
        -artifact_prefix="$artifacts" -print_final_stats=1 2>"$build_dir/$target.log" || {
        tail -n 60 "$build_dir/$target.log"
        echo "fuzz: $target FAILED (log: $build_dir/$target.log, inputs: $artifacts)"
        return 1
    }
    grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)" \
        "$build_dir/$target.log" || true
    echo "fuzz: $target passed"
}

run fuzz_tunnel "$here/fuzz/corpus/tunnel"
