#!/usr/bin/env bash
# Installs Kelvra for the calling user: builds it in Release, lays out the
# installation folder (default ~/.local/opt/kelvra), and adds the menu entry,
# the icon and the start at login to the user's desktop.
#
#   scripts/install.sh [--no-autostart] [--build-dir DIR] [PREFIX]
#   scripts/install.sh --uninstall [PREFIX]
#
# --no-autostart  no start at login; removes the entry an earlier install wrote
# --build-dir DIR installs from DIR, a build folder that scripts/build.sh has
#                 already built (any build type), instead of building in
#                 build/release
# --uninstall     removes the programs, the menu entry, the icon and the start
#                 at login; keeps etc/ and var/sessions/
#
# Installing again over an installation keeps etc/config.json,
# etc/interface.json and var/sessions/ as they are: the session files can only
# be decrypted by this installation.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

fail() {
    echo "install.sh: $*" >&2
    exit 1
}

usage() {
    sed -n '6,7s/^# *//p' "${BASH_SOURCE[0]}" >&2
    exit 2
}

mode=install
autostart=yes
build_dir=
prefix=
while (($# > 0)); do
    case "$1" in
    --uninstall) mode=uninstall ;;
    --no-autostart) autostart=no ;;
    --build-dir)
        (($# >= 2)) || usage
        build_dir="$2"
        shift
        ;;
    --build-dir=*) build_dir="${1#--build-dir=}" ;;
    --help | -h) usage ;;
    -*) usage ;;
    *)
        [[ -z "$prefix" ]] || usage
        prefix="$1"
        ;;
    esac
    shift
done

# The default installation, the menu entry, the icon and the login start
# live in the user's home folder (or where XDG_DATA_HOME and XDG_CONFIG_HOME
# say).
home_folder() {
    if [[ -z "${HOME:-}" || ! -d "$HOME" ]]; then
        fail "the user $(id -un) has no home folder (HOME is ${HOME:-not set}):" \
            "Kelvra installs its menu entry, icon and login start there"
    fi
    printf '%s' "$HOME"
}

xdg_folder() {
    local value="${!1:-}"
    if [[ "$value" == /* ]]; then
        printf '%s' "$value"
    else
        printf '%s/%s' "$(home_folder)" "$2"
    fi
}

if [[ -z "$prefix" ]]; then
    prefix="$(home_folder)/.local/opt/kelvra"
fi
prefix="$(realpath -m -- "$prefix")"
# Desktops cannot start a program whose path holds a "%" (some take it for a
# field code) or a control character, and cmake cannot install into a path
# with a backslash.
if [[ "$prefix" == *[%\\$'\001'-$'\037'$'\177']* ]]; then
    fail "the installation folder may not hold '%', '\\' or control characters: $prefix"
fi
data_home="$(xdg_folder XDG_DATA_HOME .local/share)"
config_home="$(xdg_folder XDG_CONFIG_HOME .config)"
menu_entry="$data_home/applications/kelvra.desktop"
autostart_entry="$config_home/autostart/kelvra.desktop"
icon_sizes=(scalable/apps/kelvra.svg 48x48/apps/kelvra.png 256x256/apps/kelvra.png)
installed_list="share/kelvra/installed-files"

# The program's path as the first word of an Exec key: quoted by the Desktop
# Entry rules (a backslash, double quote, backquote and dollar sign escaped
# inside double quotes), then escaped as a string value.
exec_word() {
    local word="$1"
    word="${word//'\'/'\\'}"
    word="${word//'"'/'\"'}"
    word="${word//'`'/'\`'}"
    word="${word//'$'/'\$'}"
    word="\"$word\""
    printf '%s' "${word//'\'/'\\'}"
}

# Writes the template `name` with the program's Exec word to `target`,
# replacing it whole.
write_entry() {
    local name="$1" target="$2" template
    template="$(<"$here/packaging/$name")"
    mkdir -p "$(dirname "$target")"
    printf '%s\n' "${template//@KELVRA_EXEC@/"$(exec_word "$prefix/bin/kelvra")"}" >"$target.new"
    chmod 644 "$target.new"
    mv -f "$target.new" "$target"
}

# Whether the entry at `path` starts this installation's program.
starts_this_installation() {
    [[ -f "$1" ]] && grep -qF "Exec=$(exec_word "$prefix/bin/kelvra")" "$1"
}

refresh_icon_cache() {
    local theme="$data_home/icons/hicolor"
    if [[ -f "$theme/icon-theme.cache" ]] && command -v gtk-update-icon-cache >/dev/null; then
        gtk-update-icon-cache -q -t "$theme" || true
    fi
}

uninstall() {
    [[ -f "$prefix/$installed_list" ]] ||
        fail "no installation made by install.sh in $prefix"
    local relative folder
    local -a removed=()
    while IFS= read -r relative; do
        case "$relative" in
        etc/* | var/* | */../* | ../*) continue ;;
        esac
        if [[ -f "$prefix/$relative" || -L "$prefix/$relative" ]]; then
            rm -f -- "$prefix/$relative"
            removed+=("$relative")
        fi
    done <"$prefix/$installed_list"
    rm -f -- "$prefix/$installed_list"
    removed+=("$installed_list")
    # The folders that the programs leave empty, up to the installation folder.
    for relative in "${removed[@]}"; do
        folder="$(dirname "$relative")"
        while [[ "$folder" != . ]] && rmdir -- "$prefix/$folder" 2>/dev/null; do
            folder="$(dirname "$folder")"
        done
    done

    local entry
    for entry in "$menu_entry" "$autostart_entry"; do
        if starts_this_installation "$entry"; then
            rm -f -- "$entry"
        elif [[ -e "$entry" ]]; then
            echo "Left $entry in place: it starts another installation."
        fi
    done
    if [[ ! -e "$menu_entry" ]]; then
        for relative in "${icon_sizes[@]}"; do
            rm -f -- "$data_home/icons/hicolor/$relative"
        done
        refresh_icon_cache
    fi
    echo "Kelvra removed from $prefix."
    echo "Kept, for a later installation in the same folder:"
    echo "  configuration: $prefix/etc/"
    echo "  sessions:      $prefix/var/sessions/ (their secrets open only on this disk)"
}

if [[ "$mode" == uninstall ]]; then
    uninstall
    exit 0
fi

if [[ -z "$build_dir" ]]; then
    "$here/scripts/install-deps.sh"
    build_dir="$here/build/release"
    "$here/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=Release \
        -DKELVRA_BUILD_TESTS=OFF -DKELVRA_BUILD_BENCHMARKS=OFF
fi
[[ -f "$build_dir/cmake_install.cmake" ]] || fail "$build_dir is not a built Kelvra tree"

# cmake never replaces etc/config.json and never writes etc/interface.json
# or var/sessions/; what it installed is listed for --uninstall.
output="$(cmake --install "$build_dir" --prefix "$prefix")" || fail "installing into $prefix failed"
mkdir -p "$prefix/$(dirname "$installed_list")"
sed -n 's/^-- \(Installing\|Up-to-date\): //p' <<<"$output" |
    while IFS= read -r path; do
        if [[ "$path" == "$prefix/"* && -f "$path" ]]; then
            printf '%s\n' "${path#"$prefix/"}"
        fi
    done >"$prefix/$installed_list"
[[ -x "$prefix/bin/kelvra" ]] || fail "$build_dir installed no bin/kelvra"

for relative in "${icon_sizes[@]}"; do
    mkdir -p "$data_home/icons/hicolor/$(dirname "$relative")"
    cp -f -- "$prefix/share/icons/hicolor/$relative" "$data_home/icons/hicolor/$relative"
done
refresh_icon_cache
write_entry kelvra.desktop.in "$menu_entry"
if [[ "$autostart" == yes ]]; then
    write_entry kelvra-autostart.desktop.in "$autostart_entry"
elif starts_this_installation "$autostart_entry"; then
    rm -f -- "$autostart_entry"
fi

echo "Kelvra installed in $prefix"
echo "  menu entry:    $menu_entry"
if [[ "$autostart" == yes ]]; then
    echo "  login start:   $autostart_entry"
else
    echo "  login start:   none"
fi
echo "  sessions:      $prefix/var/sessions/"
