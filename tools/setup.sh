# Shared set-up of ./run and ./test: installs what a fresh Debian 12 machine
# lacks, then configures and builds into build/. Sourced, not run.

OMBREL_PACKAGES=(
    cmake g++ make pkg-config
    qtbase5-dev libqt5opengl5-dev libepoxy-dev libglu1-mesa-dev libgl1-mesa-dri libx11-dev
    xvfb xauth xdotool imagemagick
    weston xwayland qtwayland5
    qt6-base-dev libqt6opengl6-dev qt6-wayland
    dpkg-dev lintian man-db
    clang libclang-rt-14-dev valgrind
)

ensure_packages() {
    local missing=()
    local package
    for package in "${OMBREL_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# build_project DIR [cmake options...]
build_project() {
    local dir=$1
    shift
    mkdir -p "$dir"
    local log="$dir/build.log"
    # Only warnings and errors are shown; the log keeps the rest.
    if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" && cmake --build "$dir" -j"$(nproc)"; } >"$log" 2>&1; then
        cat "$log" >&2
        echo "Build in $dir failed" >&2
        return 1
    fi
    grep -E 'warning:|error:' "$log" >&2 || true
}

# Xvfb with Mesa's software OpenGL, one screen large enough for any test.
headless() {
    LIBGL_ALWAYS_SOFTWARE=1 xvfb-run -a -s "-screen 0 2560x1600x24 +extension GLX" "$@"
}
