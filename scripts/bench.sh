#!/usr/bin/env bash
# Builds Kelvra in Release with the benchmarks and runs every one of them.
# Each prints plain "name value unit" lines with its baseline measured in the
# same run. Some need root (sshd) and the tunnel's fixed port 59565 free.
# Usage: scripts/bench.sh [name filter, e.g. tunnel]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${KELVRA_BENCH_BUILD_DIR:-$here/build/bench}"
filter="${1:-}"

"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=Release -DKELVRA_SANITIZE=OFF \
    -DKELVRA_BUILD_TESTS=ON -DKELVRA_BUILD_BENCHMARKS=ON >/dev/null

export QT_QPA_PLATFORM=offscreen
status=0
while IFS= read -r bench; do
    name="$(basename "$bench")"
    [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
    echo "## $name"
    "$bench" || { echo "bench: $name failed" >&2; status=1; }
done < <(find "$build_dir/bench" -type f -executable -name 'bench_*' | sort)
exit "$status"
