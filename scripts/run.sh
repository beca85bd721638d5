#!/usr/bin/env bash
# Installs the dependencies, builds Kelvra, lays out its installation folder
# (dist/kelvra unless KELVRA_PREFIX says otherwise) and starts it from there.
# Without a display it starts Kelvra under a virtual X server (Xvfb).
# Arguments are passed on to Kelvra, e.g.: scripts/run.sh --load Vendas
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
prefix="${KELVRA_PREFIX:-$here/dist/kelvra}"

"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build/release" -DCMAKE_BUILD_TYPE=Release \
    -DKELVRA_BUILD_TESTS=OFF -DKELVRA_BUILD_BENCHMARKS=OFF
cmake --install "$here/build/release" --prefix "$prefix" >/dev/null
echo "Kelvra installed in $prefix"

export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-}"
source "$here/scripts/dev-environment.sh"
kelvra_dev_environment "$prefix" "$here/build/release"

# Not exec: the services the environment started stop when this script ends.
status=0
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$prefix/bin/kelvra" "$@" || status=$?
else
    "$prefix/bin/kelvra" "$@" || status=$?
fi
exit "$status"
