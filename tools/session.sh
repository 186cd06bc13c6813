#!/usr/bin/env bash
# A display session of its own, for the suite and for ./run:
#
#   session.sh KIND COMMAND...   runs COMMAND in it and exits with its status
#   session.sh --serve KIND      prints its environment as NAME=value lines,
#                                then "ready", and keeps it until standard
#                                input closes
#
# KIND is x (Xvfb with GLX), wayland (weston's headless back end), xwayland
# (weston with XWayland), kwin (KWin's Wayland session with XWayland, its
# output an X window on an Xvfb of its own) or gnome (GNOME Shell's headless
# Wayland session), the last two at the scale OMBREL_SESSION_SCALE gives, 1
# unless set; with OMBREL_SESSION_DECORATIONS=1 their windows are decorated as
# on those desktops (KWin's Breeze, the toolkit's own on GNOME), else not at
# all. The screen is 2560 x 1600 logical pixels (kwin and gnome:
# 1280 x 800) unless OMBREL_SESSION_SIZE gives another (WIDTHxHEIGHT). The
# session's servers end with it, and its runtime folder goes. Where KWin 6,
# or GNOME Shell with gdctl (48 and later), is not installed, such a session
# says so and exits 77. Every session exports OMBREL_SESSION_KIND; kwin and
# gnome also OMBREL_SCREEN_GRAB, a command that writes the screen's device
# pixels to standard output as an image file, and OMBREL_WINDOW_SIZE, one
# that takes a window's title and WIDTHxHEIGHT or maximize and has the
# compositor resize it (tools/windowsize.py).
set -u
serve=0
if [ "${1:-}" = --serve ]; then
    serve=1
    shift
fi
kind=${1:-}
shift
case $kind in x | wayland | xwayland | kwin | gnome) ;; *)
    echo "usage: session.sh [--serve] x|wayland|xwayland|kwin|gnome [COMMAND...]" >&2
    exit 2
    ;;
esac
if [ "$kind" = kwin ] && ! command -v kwin_wayland >/dev/null; then
    echo "No KWin here (kwin_wayland, Debian's kwin-wayland): the session is skipped" >&2
    exit 77
fi
if [ "$kind" = gnome ] && ! { command -v gnome-shell && command -v gdctl && python3 -c 'import gi'; } >/dev/null 2>&1; then
    echo "No GNOME Shell 48 or later here (gnome-shell, gdctl, python3-gi): the session is skipped" >&2
    exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
size=${OMBREL_SESSION_SIZE:-2560x1600}
[ "$kind" = kwin ] || [ "$kind" = gnome ] && size=${OMBREL_SESSION_SIZE:-1280x800}
runtime=$(mktemp -d)
chmod 700 "$runtime"
servers=()
finish() {
    # Each server leads a process group of its own: KWin's starts Xwayland
    # and the session's bus.
    for pid in "${servers[@]}"; do
        kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null
    done
    for pid in "${servers[@]}"; do
        wait "$pid" 2>/dev/null
    done
    rm -rf "$runtime"
}
trap finish EXIT
trap 'exit 1' INT TERM

# Waits up to 20 s for a condition.
await() {
    local tries
    for tries in $(seq 400); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}
# The screen's device pixels: its logical size must be whole at the scale
# (where it is not, compositors map logical places to device pixels by a
# ratio a little off the scale).
scale=${OMBREL_SESSION_SCALE:-1}
decorations=${OMBREL_SESSION_DECORATIONS:-0}
device=$(awk -v w="${size%x*}" -v h="${size#*x}" -v s="$scale" 'BEGIN { printf "%dx%d", w * s + 0.5, h * s + 0.5 }')
# An X display counts once a client of its own gets through.
x_ready() { DISPLAY=$1 xdotool getdisplaygeometry >/dev/null 2>&1; }

if [ "$kind" = x ]; then
    # No reset when the last client goes: a client may connect just then.
    Xvfb -displayfd 1 -noreset -screen 0 "${size}x24" +extension GLX -nolisten tcp >"$runtime/display" 2>/dev/null &
    servers+=($!)
    await test -s "$runtime/display" || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$runtime/display")"
    await x_ready "$DISPLAY" || { echo "Xvfb at $DISPLAY refused its first client" >&2; exit 1; }
    unset WAYLAND_DISPLAY WAYLAND_SOCKET
elif [ "$kind" = kwin ]; then
    # KWin's output is an X window of its device pixels on an Xvfb of its own,
    # whose root the session's clients read back. (Where its logical size is
    # not whole, KWin's renderer doubles a column every few hundred.)
    setsid Xvfb -displayfd 1 -noreset -screen 0 "${device}x24" -nolisten tcp >"$runtime/display" 2>/dev/null &
    servers+=($!)
    await test -s "$runtime/display" || { echo "Xvfb did not start" >&2; exit 1; }
    screen=":$(head -n 1 "$runtime/display")"
    await x_ready "$screen" || { echo "Xvfb at $screen refused its first client" >&2; exit 1; }
    # The output's scale and mode come from KWin's own output configuration,
    # and windows go to the top-left corner.
    mkdir -p "$runtime/home/.config"
    cat >"$runtime/home/.config/kwinoutputconfig.json" <<JSON
[
    {"name": "outputs", "data": [{"connectorName": "X11-0", "scale": $scale,
        "mode": {"width": ${device%x*}, "height": ${device#*x}, "refreshRate": 60000}}]},
    {"name": "setups", "data": [{"lidClosed": false, "outputs": [{"enabled": true, "outputIndex": 0,
        "position": {"x": 0, "y": 0}, "priority": 0}]}]}
]
JSON
    # X11 clients through XWayland scale themselves, as KDE sets them to.
    # Windows get KWin's own decorations (Breeze, as on Plasma) only where
    # the session is asked for them.
    noplugin=true
    [ "$decorations" = 1 ] && noplugin=false
    printf '[Windows]\nPlacement=ZeroCornered\n[Xwayland]\nScale=%s\n[org.kde.kdecoration2]\nNoPlugin=%s\n' \
        "$scale" "$noplugin" >"$runtime/home/.config/kwinrc"
    # The installed binary's file capabilities can refuse an environment
    # like this one; a copy has none. KWin before 6 (Debian 12's 5.27) takes
    # no output scale from its configuration.
    cp "$(command -v kwin_wayland)" "$runtime/kwin_wayland"
    version=$("$runtime/kwin_wayland" --version 2>/dev/null | grep -o '[0-9][0-9.]*' | head -n 1)
    if [ "${version%%.*}" -lt 6 ] 2>/dev/null || [ -z "$version" ]; then
        echo "KWin ${version:-of unknown version} here: the session needs KWin 6 for its output's scale; skipped" >&2
        exit 77
    fi
    socket=wayland-ombrel
    printf '#!/bin/sh\nenv >"%s/kwin.env.part" && mv "%s/kwin.env.part" "%s/kwin.env"\nexec sleep 1000000\n' \
        "$runtime" "$runtime" "$runtime" >"$runtime/inside"
    chmod +x "$runtime/inside"
    env -u WAYLAND_DISPLAY -u WAYLAND_SOCKET DISPLAY="$screen" HOME="$runtime/home" XDG_RUNTIME_DIR="$runtime" \
        setsid dbus-run-session -- "$runtime/kwin_wayland" --x11-display "$screen" --width "${device%x*}" --height "${device#*x}" \
        --xwayland --socket "$socket" --exit-with-session "$runtime/inside" >"$runtime/kwin.log" 2>&1 &
    servers+=($!)
    await test -s "$runtime/kwin.env" || { echo "KWin did not start:" >&2; cat "$runtime/kwin.log" >&2; exit 1; }
    export XDG_RUNTIME_DIR=$runtime XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=$socket
    export OMBREL_SCREEN_GRAB="import -display $screen -window root ppm:-"
    # KWin's own bus, where its scripts are loaded: for the resizer alone.
    bus=$(sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p' "$runtime/kwin.env")
    export OMBREL_WINDOW_SIZE="env DBUS_SESSION_BUS_ADDRESS=$bus python3 \"$here/windowsize.py\" kwin"
    export DISPLAY=$(sed -n 's/^DISPLAY=//p' "$runtime/kwin.env")

elif [ "$kind" = gnome ]; then
    # GNOME Shell reads its settings from a file of the session's own: the
    # fractional scales mutter keeps behind an experimental feature, windows
    # as big as they ask, no animations, and the extension that clears the
    # screen for the checks and puts each window at the top-left corner.
    settings=$runtime/home/.config/glib-2.0/settings
    extensions=$runtime/home/.local/share/gnome-shell/extensions
    mkdir -p "$settings" "$extensions"
    cp -r "$here/gnome/ombrel-session@ombrel-gl" "$extensions/"
    cat >"$settings/keyfile" <<KEYS
[org/gnome/mutter]
experimental-features=['scale-monitor-framebuffer']
auto-maximize=false
[org/gnome/shell]
enabled-extensions=['ombrel-session@ombrel-gl']
disable-extension-version-validation=true
welcome-dialog-last-shown-version='999'
[org/gnome/desktop/interface]
enable-animations=false
KEYS
    # The session's bus, and a system bus of its own: the shell asks logind
    # there and goes on when nobody answers, but stops where there is none.
    for bus in session system; do
        setsid dbus-daemon --session --nofork --address="unix:path=$runtime/$bus-bus" >/dev/null 2>&1 &
        servers+=($!)
    done
    await test -S "$runtime/session-bus" -a -S "$runtime/system-bus" || { echo "No session bus" >&2; exit 1; }
    export HOME=$runtime/home XDG_RUNTIME_DIR=$runtime GSETTINGS_BACKEND=keyfile
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/session-bus DBUS_SYSTEM_BUS_ADDRESS=unix:path=$runtime/system-bus
    socket=wayland-ombrel
    env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET \
        setsid gnome-shell --headless --virtual-monitor "$device" --wayland-display "$socket" >"$runtime/gnome.log" 2>&1 &
    servers+=($!)
    # Ready once the extension has cleared the screen (the name it owns).
    active() {
        gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.NameHasOwner org.ombrelgl.SessionReady 2>/dev/null | grep -q true
    }
    await test -S "$runtime/$socket" && await active || { echo "GNOME Shell did not start:" >&2; cat "$runtime/gnome.log" >&2; exit 1; }
    if [ "$scale" != 1 ]; then
        gdctl set --logical-monitor --primary --monitor Meta-0 --scale "$scale" >&2 ||
            { echo "GNOME Shell took no scale of $scale for $device" >&2; exit 1; }
    fi
    export XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=$socket
    export OMBREL_SCREEN_GRAB="python3 \"$here/gnome/screenshot.py\""
    export OMBREL_WINDOW_SIZE="python3 \"$here/windowsize.py\" gnome"
    unset DISPLAY
else
    socket=wayland-ombrel
    options=(--backend=headless-backend.so --width="${size%x*}" --height="${size#*x}" --socket="$socket"
             --idle-time=0 --log="$runtime/weston.log")
    [ "$kind" = xwayland ] && options+=(--xwayland)
    env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET XDG_RUNTIME_DIR="$runtime" weston "${options[@]}" >/dev/null 2>&1 &
    servers+=($!)
    await test -S "$runtime/$socket" || { echo "weston did not start" >&2; exit 1; }
    export XDG_RUNTIME_DIR=$runtime XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=$socket
    unset DISPLAY
    if [ "$kind" = xwayland ]; then
        announced() { grep -o 'xserver listening on display :[0-9]*' "$runtime/weston.log" 2>/dev/null | grep -o ':[0-9]*$'; }
        await announced >/dev/null || { echo "weston started no XWayland" >&2; exit 1; }
        export DISPLAY=$(announced)
        await x_ready "$DISPLAY" || { echo "XWayland at $DISPLAY refused its first client" >&2; exit 1; }
    fi
fi
unset QT_QPA_PLATFORM XAUTHORITY
export OMBREL_SESSION_KIND=$kind
# The toolkit's own decoration would move a window's content, which the
# checks read back from the screen, unless the session is to decorate
# windows as the desktop does.
if [ "$kind" = kwin ] || [ "$kind" = gnome ]; then
    if [ "$decorations" = 1 ]; then
        unset QT_WAYLAND_DISABLE_WINDOWDECORATION
    else
        export QT_WAYLAND_DISABLE_WINDOWDECORATION=1
    fi
fi

if [ $serve = 1 ]; then
    for name in DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_SESSION_TYPE OMBREL_SESSION_KIND OMBREL_SCREEN_GRAB OMBREL_WINDOW_SIZE \
        QT_WAYLAND_DISABLE_WINDOWDECORATION HOME GSETTINGS_BACKEND DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS; do
        [ -n "${!name:-}" ] && echo "$name=${!name}"
    done
    echo ready
    cat >/dev/null
    exit 0
fi
"$@"
