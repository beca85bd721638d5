# Sourced by the run script: prepares what a development machine may lack
# before Kelvra starts from the installation in $1.
kelvra_dev_environment() {
    local prefix="$1"
    # A per-user runtime folder, private to its user, as a desktop login
    # session provides it.
    if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
        export XDG_RUNTIME_DIR="/run/user/$(id -u)"
        if ! mkdir -p "$XDG_RUNTIME_DIR" 2>/dev/null; then
            XDG_RUNTIME_DIR="$(mktemp -d)"
        fi
        chmod 700 "$XDG_RUNTIME_DIR"
    fi
}
