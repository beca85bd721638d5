#!/usr/bin/env bash
# Installs the dependencies, builds Kelvra, lays out its installation folder
# (dist/kelvra unless KELVRA_PREFIX says otherwise) and starts it from there.
# Without a display it starts Kelvra on a virtual X server (Xvfb) and writes a
# picture of that screen to build/kelvra-tela.png.
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
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    "$prefix/bin/kelvra" "$@" || status=$?
    exit "$status"
fi

# No display: Kelvra runs on a virtual screen, and a picture of that screen
# shows what started.
source "$here/scripts/virtual-screen.sh"
kelvra_start_virtual_screen
trap 'kelvra_stop_virtual_screen; kelvra_stop_udisks2_environment' EXIT
picture="$here/build/kelvra-tela.png"
echo "No display: Kelvra runs on a virtual screen (Xvfb, DISPLAY=$DISPLAY)."
"$prefix/bin/kelvra" "$@" &
kelvra_pid=$!
# The window, or an error box, or else the whole screen (a start with --load
# keeps the window hidden).
window=root
for title in Kelvra Error; do
    if found="$(kelvra_wait_for_window "$title" 5)"; then
        window="$found"
        sleep 1 # the first paint
        break
    fi
done
if kill -0 "$kelvra_pid" 2>/dev/null && kelvra_screenshot "$window" "$picture"; then
    echo "A picture of the virtual screen is in $picture"
fi
echo "Kelvra keeps running until it ends (Ctrl+C stops it)."
wait "$kelvra_pid" || status=$?
exit "$status"
