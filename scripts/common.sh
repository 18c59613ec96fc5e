# shellcheck shell=bash
# Shared by the scripts: install what the build needs, then configure and build with a preset of
# CMakePresets.json. Sourced, not run; set PRESET first to build anything but the default.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PRESET="${PRESET:-default}"
# The presets' folders: build/ for the default and the test build, build-<preset> for the rest.
# The two share build/ on purpose, so that running and testing build once; -Werror, once the
# test preset has set it, stays on for both (see the test preset's description).
case "$PRESET" in
default | test) BUILD_DIR="$ROOT/build" ;;
*) BUILD_DIR="$ROOT/build-$PRESET" ;;
esac

# apt-get as root. It waits for dpkg's lock (DPkg::Lock::Timeout) but not for the locks of the
# package lists and of the download cache, which a machine updating itself at first boot holds
# as well; failing on one of those, it tries again, for up to ten minutes.
apt_get() {
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    local errors status deadline=$((SECONDS + 600))
    errors="$(mktemp)"
    while :; do
        status=0
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
            apt-get -o DPkg::Lock::Timeout=600 "$@" 2>"$errors" || status=$?
        cat "$errors" >&2
        if [ "$status" -eq 0 ] || [ "$SECONDS" -ge "$deadline" ] \
            || ! grep -q "Could not get lock" "$errors"; then
            rm -f "$errors"
            return "$status"
        fi
        echo "Another package manager is at work; trying again in 5 s" >&2
        sleep 5
    done
}

install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing: ${missing[*]}"
    apt_get update -qq
    apt_get install -y -qq --no-install-recommends "${missing[@]}"
}

install_build_packages() {
    # libedf-dev: the exports' EDF+ and BDF+ files (EDFlib); libliquid-dev: the plot's filters
    # and spectra (liquid-dsp).
    install_packages cmake make g++ qtbase5-dev libqt5serialport5-dev libedf-dev libliquid-dev "$@"
}

# Configures from the preset the first time; later calls re-apply the preset quietly, which
# changes nothing unless its settings were changed since.
configure() {
    if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
        (cd "$ROOT" && cmake --preset "$PRESET" >/dev/null)
    else
        (cd "$ROOT" && cmake --preset "$PRESET")
    fi
}

# Configures, then rebuilds only what changed: everything, or the targets named.
build() {
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    configure
    (cd "$ROOT" && cmake --build --preset "$PRESET" --parallel "$(nproc 2>/dev/null || echo 2)" \
        "${targets[@]}")
}
