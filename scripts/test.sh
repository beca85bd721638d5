#!/usr/bin/env bash
# Installs the dependencies, builds Kelvra with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the fuzz targets for about a minute each
# (clang, in their own build folder) and then the whole test suite, so that
# CTest's summary is the last thing it prints. Fails if either fails.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${KELVRA_TEST_BUILD_DIR:-$here/build/test}"

"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DKELVRA_SANITIZE=ON \
    -DKELVRA_BUILD_TESTS=ON -DKELVRA_BUILD_BENCHMARKS=ON

fuzz_status=0
"$here/scripts/fuzz.sh" 60 || fuzz_status=$?

cd "$build_dir"
ctest_status=0
ctest --output-on-failure --timeout 600 -j"$(nproc)" || ctest_status=$?
if ((fuzz_status != 0)); then
    echo "test: the fuzz run failed (see above)" >&2
    exit "$fuzz_status"
fi
exit "$ctest_status"
