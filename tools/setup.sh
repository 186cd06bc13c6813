# Shared set-up of ./run and ./test: installs what a fresh Debian 12 or 13
# machine lacks, then configures and builds. Sourced, not run.
OMBREL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Building and showing the viewer (headless too: Xvfb, a screenshot, the
# window closed as a window manager would), and reading micrographs as they
# come: Qt's own image formats stop at BMP, PNG and JPEG, its plugins read
# TIFF.
OMBREL_RUN_PACKAGES=(
    cmake g++ make pkg-config
    qtbase5-dev libqt5opengl5-dev libepoxy-dev libglu1-mesa-dev libgl1-mesa-dri libx11-dev qt5-image-formats-plugins
    xvfb xauth xdotool imagemagick
)
# The rest of the suite: Wayland sessions, the Qt 6 build, TIFF files of
# every layout (libtiff writes them), the packages and their lint, the
# sanitizer and fuzzing builds, memcheck. No version is
# pinned where the release moves it: libclang-rt-dev is clang's own runtime
# on every release.
OMBREL_TEST_PACKAGES=(
    weston xwayland qtwayland5
    qt6-base-dev libqt6opengl6-dev qt6-wayland qt6-image-formats-plugins libtiff-dev
    dpkg-dev lintian man-db
    clang libclang-rt-dev valgrind
)

# KWin's and GNOME Shell's Wayland sessions, for the rows at the fractional
# scales laptops ship with (gdctl sets GNOME's scale, python3-gi reads its
# screen back and has the compositors resize windows; Breeze decorates
# KWin's windows as on Plasma). Qt before 6.5 has no fractional scales on Wayland: Debian 12
# (Qt 6.4) runs none of them, and says so.
if grep -qx 'VERSION_ID="12"' /etc/os-release 2>/dev/null; then
    OMBREL_DESKTOPS_SKIPPED="Debian 12's Qt 6.4 draws Wayland windows at the next whole scale, for the compositor to scale down: the KWin and GNOME rows at 125% to 200% run on Debian 13 and later"
else
    OMBREL_TEST_PACKAGES+=(kwin-wayland kwin-style-breeze dbus gnome-shell mutter-common-bin python3-gi libglib2.0-bin)
fi

# The names that count as installed: every installed package and whatever
# it provides (Debian 13 folds libqt6opengl6-dev into qt6-base-dev, which
# provides the old name, so dpkg never lists it as installed itself).
installed_names() {
    dpkg-query -W -f='${db:Status-Abbrev}|${Package}|${Provides}\n' 2>/dev/null |
        awk -F'|' '$1 ~ /^ii/ {
            print $2
            n = split($3, provided, /, */)
            for (i = 1; i <= n; i++) { sub(/ .*/, "", provided[i]); if (provided[i] != "") print provided[i] }
        }'
}

# ensure_packages NAME...: installs those of the names not yet installed.
ensure_packages() {
    local -A have=()
    local name
    while read -r name; do
        have[$name]=1
    done < <(installed_names)
    local missing=()
    for name in "$@"; do
        [ -n "${have[$name]:-}" ] || missing+=("$name")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# build_project DIR [cmake options...]: all of it, or only the targets
# OMBREL_TARGETS names.
build_project() {
    local dir=$1
    shift
    mkdir -p "$dir"
    local log="$dir/build.log" targets=()
    [ -n "${OMBREL_TARGETS:-}" ] && targets=(--target ${OMBREL_TARGETS})
    # Only warnings and errors are shown; the log keeps the rest.
    if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" && cmake --build "$dir" -j"$(nproc)" "${targets[@]}"; } >"$log" 2>&1; then
        cat "$log" >&2
        echo "Build in $dir failed" >&2
        return 1
    fi
    grep -E 'warning:|error:' "$log" >&2 || true
}

# A session of Xvfb with Mesa's software OpenGL, one screen large enough
# for any test (tools/session.sh).
headless() {
    LIBGL_ALWAYS_SOFTWARE=1 "$OMBREL_ROOT/tools/session.sh" x "$@"
}

# run_suite DIR: the suite built in DIR, headless, a suite per core at a
# time. A failing suite's whole output comes first; its failed checks are
# said again at the end, where a log cut to its ends still shows them.
run_suite() {
    local dir=$1
    headless ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" && return 0
    local temporary=$dir/Testing/Temporary name
    echo "== What failed in $dir"
    while IFS=: read -r _ name; do
        echo "-- $name"
        awk -v name="$name" '
            !on && match($0, /^[0-9]+\/[0-9]+ Test: /) && substr($0, RLENGTH + 1) == name { on = 1 }
            on { print }
            on && index($0, "\"" name "\" end time:") == 1 { on = 0 }' "$temporary/LastTest.log" |
            grep -E -A3 '^FAIL!|ERROR: (LeakSanitizer|AddressSanitizer)|runtime error|Tracer caught|Test timeout' |
            head -40 || true
    done <"$temporary/LastTestsFailed.log"
    return 1
}
