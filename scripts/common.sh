# Shared by the scripts: install what the build needs, then configure and build with a preset of
# CMakePresets.json. Sourced, not run; set PRESET first to build anything but the default.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PRESET="${PRESET:-default}"
# The presets' folders: build/ for the default and the test build, build-<preset> for the rest.
case "$PRESET" in
default | test) BUILD_DIR="$ROOT/build" ;;
*) BUILD_DIR="$ROOT/build-$PRESET" ;;
esac

install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_build_packages() {
    install_packages cmake make g++ qtbase5-dev libqt5serialport5-dev "$@"
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

# Configures, then rebuilds only what changed.
build() {
    configure
    (cd "$ROOT" && cmake --build --preset "$PRESET" --parallel "$(nproc 2>/dev/null || echo 2)")
}
