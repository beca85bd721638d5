#!/usr/bin/env bash
# Builds Kelvra (Release, as the run script does), installs it into a
# temporary folder and takes pictures of the real program on a virtual X
# server: the main window in the light and the dark theme, with a few saved
# sessions, the tray menu with its sessions submenu, and the error box with
# its details for a malformed session file.
# Usage: scripts/screenshots.sh [OUTPUT_DIR]   (default build/screenshots)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$here/build/screenshots}"
build_dir="$here/build/release"

"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=Release \
    -DKELVRA_BUILD_TESTS=OFF -DKELVRA_BUILD_BENCHMARKS=OFF >/dev/null
mkdir -p "$out"
out="$(cd "$out" && pwd)"

work="$(mktemp -d)"
prefix="$work/kelvra"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

source "$here/scripts/dev-environment.sh"
source "$here/scripts/virtual-screen.sh"
kelvra_dev_environment "$prefix" "$build_dir" >/dev/null
kelvra_pid=""
cups_pid=""
cleanup() {
    if [[ -n "$kelvra_pid" ]]; then
        kill "$kelvra_pid" 2>/dev/null || true
        wait "$kelvra_pid" 2>/dev/null || true
    fi
    if [[ -n "$cups_pid" ]]; then
        kill "$cups_pid" 2>/dev/null || true
        wait "$cups_pid" 2>/dev/null || true
    fi
    kelvra_stop_virtual_screen
    kelvra_stop_udisks2_environment
    rm -rf "$work"
}
trap cleanup EXIT
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
kelvra_start_virtual_screen

# A few saved sessions for the list. Listing reads only the plain fields; the
# key text would be needed only to open one, which no picture does.
sessions="$prefix/var/sessions"
mkdir -p "$sessions"
n=0
for name in "Vendas" "Financeiro" "Estoque - Filial Centro" "Suporte"; do
    n=$((n + 1))
    cat >"$sessions/{00000000-0000-4000-8000-00000000000$n}.json" <<JSON
{"versao": 2, "nome": "$name", "host": "mirtel.example.com", "porta": 22,
 "usuario": "operador", "tipo_autenticacao": 0, "key": "", "comando": "mirtel",
 "caminho": "/srv/mirtel", "impressoras": [], "autostart": false, "maximized": false}
JSON
done

start_kelvra() {
    "$prefix/bin/kelvra" "$@" >"$work/kelvra.log" 2>&1 &
    kelvra_pid=$!
}

stop_kelvra() {
    [[ -n "$kelvra_pid" ]] || return 0
    kill "$kelvra_pid" 2>/dev/null || true
    wait "$kelvra_pid" 2>/dev/null || true
    kelvra_pid=""
}

# Waits for the window titled $1, lets it paint, and writes $2.
shoot() {
    local id
    if ! id="$(kelvra_wait_for_window "$1")"; then
        echo "screenshots: no window \"$1\" appeared; Kelvra said:" >&2
        cat "$work/kelvra.log" >&2
        return 1
    fi
    sleep 1
    kelvra_screenshot "$id" "$out/$2"
    echo "$out/$2"
    LAST_WINDOW="$id"
}

for theme in light dark; do
    printf '{\n    "aparencia": "%s"\n}\n' "$theme" >"$prefix/etc/interface.json"
    start_kelvra
    shoot Kelvra "janela-$theme.png"
    stop_kelvra
done

# The tray menu: a small tray panel in the screen's corner holds the icon; a
# right click opens the menu and a click on "Sessões" its submenu.
trayer --edge bottom --align right --widthtype pixel --width 32 --heighttype pixel \
    --height 32 --transparent false >"$work/trayer.log" 2>&1 &
trayer_pid=$!
start_kelvra
if ! window="$(kelvra_wait_for_window Kelvra)"; then
    echo "screenshots: no window \"Kelvra\" appeared; Kelvra said:" >&2
    cat "$work/kelvra.log" >&2
    exit 1
fi
xdotool windowmove --sync "$window" 0 0
sleep 1
before="$(xdotool search --onlyvisible --class kelvra 2>/dev/null | sort)"
xdotool mousemove 1264 784 click 3
menu=""
for _ in $(seq 1 50); do
    menu="$(comm -13 <(echo "$before") \
        <(xdotool search --onlyvisible --class kelvra 2>/dev/null | sort) | head -n 1)"
    [[ -n "$menu" ]] && break
    sleep 0.1
done
if [[ -z "$menu" ]]; then
    echo "screenshots: the tray menu did not open" >&2
else
    eval "$(xdotool getwindowgeometry --shell "$menu")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + 12)) click 1
    sleep 1
    xwd -silent -root | /usr/bin/convert xwd:- -crop 560x260+720+540 "png:$out/bandeja.png"
    echo "$out/bandeja.png"
fi
stop_kelvra
kill "$trayer_pid" 2>/dev/null || true
wait "$trayer_pid" 2>/dev/null || true

# A session file that is not JSON: opening a session by name lists them all
# and reports the file with the cause of the failure.
rm -f "$prefix/etc/interface.json"
echo '{"versao": 2, "nome": ' >"$sessions/{00000000-0000-4000-8000-000000000009}.json"
start_kelvra --load Vendas
shoot Error erro.png
xdotool windowfocus --sync "$LAST_WINDOW" 2>/dev/null || true
xdotool key --window "$LAST_WINDOW" Tab space
shoot "Detalhes do erro" erro-detalhes.png
stop_kelvra

# "Nova sessão" with the workstation's printers, served by a private CUPS
# scheduler whose two queues print nowhere. "Novo" is clicked where the
# fixed-size window has it.
cups="$work/cups"
mkdir -p "$cups"
cat >"$cups/cups-files.conf" <<CONF
ServerRoot $cups
CacheDir $cups
StateDir $cups
RequestRoot $cups
TempDir $cups
Printcap $cups/printcap
ErrorLog $cups/error_log
AccessLog $cups/access_log
PageLog $cups/page_log
FileDevice Yes
CONF
cat >"$cups/cupsd.conf" <<CONF
Listen $cups/cups.sock
Browsing No
DefaultAuthType None
<Policy default>
<Limit All>
Order deny,allow
</Limit>
</Policy>
CONF
cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" &
cups_pid=$!
for _ in $(seq 1 100); do
    [[ "$(lpstat -h "$cups/cups.sock" -r 2>/dev/null)" == "scheduler is running" ]] && break
    sleep 0.1
done
for queue in Caixa Etiquetas; do
    lpadmin -h "$cups/cups.sock" -p "$queue" -E -v file:/dev/null
done
rm -f "$sessions/{00000000-0000-4000-8000-000000000009}.json"
CUPS_SERVER="$cups/cups.sock" start_kelvra
window="$(kelvra_wait_for_window Kelvra)"
sleep 1
xdotool mousemove --window "$window" 389 68 click 1
shoot "Nova sessão" nova-sessao.png
stop_kelvra
