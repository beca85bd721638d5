#!/usr/bin/env bash
# Installs the dependencies, builds Kelvra with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${KELVRA_TEST_BUILD_DIR:-$here/build/test}"

"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DKELVRA_SANITIZE=ON \
    -DKELVRA_BUILD_TESTS=ON -DKELVRA_BUILD_BENCHMARKS=ON
cd "$build_dir"
ctest --output-on-failure --timeout 600 -j"$(nproc)"

# The fuzz targets, built with clang in their own folder, about a minute each.
"$here/scripts/fuzz.sh" 60
