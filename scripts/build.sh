#!/usr/bin/env bash
# Configures and builds Kelvra in the given build folder.
# Usage: scripts/build.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$1"
shift
generator=()
if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
fi
if [[ ! -f "$build_dir/CMakeCache.txt" ]]; then
    cmake -S "$here" -B "$build_dir" "${generator[@]}" "$@"
else
    cmake -S "$here" -B "$build_dir" "$@"
fi
cmake --build "$build_dir" --parallel "$(nproc)"
