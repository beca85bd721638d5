# Sourced by the run and screenshot scripts: a virtual X server for machines
# without a display, and pictures of what it shows.

# Starts Xvfb on a free display number (the server picks it) and exports
# DISPLAY. The server stops with kelvra_stop_virtual_screen.
kelvra_start_virtual_screen() {
    local folder
    folder="$(mktemp -d)"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$folder/display" >/dev/null 2>&1 &
    KELVRA_XVFB_PID=$!
    local number=""
    for _ in $(seq 1 100); do
        number="$(cat "$folder/display" 2>/dev/null || true)"
        [[ -n "$number" ]] && break
        kill -0 "$KELVRA_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -rf "$folder"
    if [[ -z "$number" ]]; then
        echo "the virtual X server (Xvfb) did not start" >&2
        return 1
    fi
    export DISPLAY=":$number"
}

kelvra_stop_virtual_screen() {
    if [[ -n "${KELVRA_XVFB_PID:-}" ]]; then
        kill "$KELVRA_XVFB_PID" 2>/dev/null || true
        wait "$KELVRA_XVFB_PID" 2>/dev/null || true
        KELVRA_XVFB_PID=""
    fi
}

# Waits up to $2 seconds (default 20) for a visible window whose title is
# exactly $1 and prints its id.
kelvra_wait_for_window() {
    local title="$1"
    local bound="${2:-20}"
    local id=""
    for _ in $(seq 1 $((bound * 10))); do
        id="$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1 || true)"
        if [[ -n "$id" ]]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Writes a PNG of the window $1 (or of the whole screen for "root") to $2.
kelvra_screenshot() {
    local window="$1"
    local file="$2"
    local converter=convert
    [[ -x /usr/bin/convert ]] && converter=/usr/bin/convert
    if [[ "$window" == root ]]; then
        xwd -silent -root | "$converter" xwd:- "png:$file"
    else
        xwd -silent -id "$window" | "$converter" xwd:- "png:$file"
    fi
}
