# Sourced by the run script: prepares what a development machine may lack
# before Kelvra starts from the installation in $1, built in the folder $2.
kelvra_dev_environment() {
    local prefix="$1"
    local build_dir="$2"
    # A per-user runtime folder, private to its user, as a desktop login
    # session provides it.
    if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
        export XDG_RUNTIME_DIR="/run/user/$(id -u)"
        if ! mkdir -p "$XDG_RUNTIME_DIR" 2>/dev/null; then
            XDG_RUNTIME_DIR="$(mktemp -d)"
        fi
        chmod 700 "$XDG_RUNTIME_DIR"
    fi
    kelvra_udisks2_environment "$build_dir"
}

# Kelvra keys the session secrets with the serials of the drives under its
# installation, which it asks UDisks2 for on the system bus. Machines without
# UDisks2 there (containers) get a private bus with the project's UDisks2
# stand-in answering from this machine's sysfs, and DBUS_SYSTEM_BUS_ADDRESS
# pointing at it. Both stop when the calling script ends.
kelvra_udisks2_environment() {
    local build_dir="$1"
    local here
    here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    if dbus-send --system --print-reply --reply-timeout=2000 --dest=org.freedesktop.UDisks2 \
        /org/freedesktop/UDisks2 org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1; then
        return 0
    fi
    KELVRA_BUS_FOLDER="$(mktemp -d "$XDG_RUNTIME_DIR/kelvra-bus.XXXXXX")"
    local started
    started="$(dbus-daemon --config-file="$here/tests/support/dbus/private-system-bus.conf" \
        --address="unix:dir=$KELVRA_BUS_FOLDER" --fork --nopidfile --nosyslog \
        --print-address=1 --print-pid=1)"
    local address
    address="$(sed -n 1p <<<"$started")"
    KELVRA_BUS_PID="$(sed -n 2p <<<"$started")"
    trap kelvra_stop_udisks2_environment EXIT

    exec {KELVRA_STANDIN_FD}< <(exec "$build_dir/tools/udisks2-standin/udisks2-standin" \
        --address "$address" --sysfs /sys)
    KELVRA_STANDIN_PID=$!
    local line=""
    if ! read -r -t 10 -u "$KELVRA_STANDIN_FD" line || [[ "$line" != ready ]]; then
        echo "run: the UDisks2 stand-in did not start" >&2
        return 1
    fi
    export DBUS_SYSTEM_BUS_ADDRESS="$address"
    echo "No UDisks2 on the system bus: a private bus with a stand-in answers from sysfs."
}

kelvra_stop_udisks2_environment() {
    if [[ -n "${KELVRA_STANDIN_PID:-}" ]]; then
        kill "$KELVRA_STANDIN_PID" 2>/dev/null || true
        exec {KELVRA_STANDIN_FD}<&-
    fi
    if [[ -n "${KELVRA_BUS_PID:-}" ]]; then
        kill "$KELVRA_BUS_PID" 2>/dev/null || true
    fi
    if [[ -n "${KELVRA_BUS_FOLDER:-}" ]]; then
        rm -rf "$KELVRA_BUS_FOLDER"
    fi
}
