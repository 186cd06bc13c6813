#!/usr/bin/env bash
# A display session of its own, for the suite and for ./run:
#
#   session.sh KIND COMMAND...   runs COMMAND in it and exits with its status
#   session.sh --serve KIND      prints its environment as NAME=value lines,
#                                then "ready", and keeps it until standard
#                                input closes
#
# KIND is x (Xvfb with GLX), wayland (weston's headless back end), xwayland
# (weston with XWayland) or kwin (KWin's Wayland session with XWayland, its
# output an X window on an Xvfb of its own, at the scale
# OMBREL_SESSION_SCALE gives, 1 unless set). The screen is 2560 x 1600
# logical pixels (kwin: 1280 x 800) unless OMBREL_SESSION_SIZE gives another
# (WIDTHxHEIGHT). The session's servers end with it, and its runtime folder
# goes. Where KWin 6 is not installed a kwin session says so and exits 77.
set -u
serve=0
if [ "${1:-}" = --serve ]; then
    serve=1
    shift
fi
kind=${1:-}
shift
case $kind in x | wayland | xwayland | kwin) ;; *)
    echo "usage: session.sh [--serve] x|wayland|xwayland|kwin [COMMAND...]" >&2
    exit 2
    ;;
esac
if [ "$kind" = kwin ] && ! command -v kwin_wayland >/dev/null; then
    echo "No KWin here (kwin_wayland, Debian's kwin-wayland): the session is skipped" >&2
    exit 77
fi
size=${OMBREL_SESSION_SIZE:-2560x1600}
[ "$kind" = kwin ] && size=${OMBREL_SESSION_SIZE:-1280x800}
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
    scale=${OMBREL_SESSION_SCALE:-1}
    device=$(awk -v w="${size%x*}" -v h="${size#*x}" -v s="$scale" 'BEGIN { printf "%dx%d", w * s + 0.5, h * s + 0.5 }')
    # KWin's output is an X window of its device pixels on an Xvfb of its own,
    # whose root the session's clients read back (OMBREL_SCREEN_DISPLAY). Its
    # logical size must be whole: where it is not, KWin maps logical places
    # to device pixels by a ratio a little off the scale, and its renderer
    # doubles a column every few hundred.
    setsid Xvfb -displayfd 1 -noreset -screen 0 "${device}x24" -nolisten tcp >"$runtime/display" 2>/dev/null &
    servers+=($!)
    await test -s "$runtime/display" || { echo "Xvfb did not start" >&2; exit 1; }
    screen=":$(head -n 1 "$runtime/display")"
    await x_ready "$screen" || { echo "Xvfb at $screen refused its first client" >&2; exit 1; }
    # The output's scale and mode come from KWin's own output configuration,
    # windows go to the top-left corner, and KWin draws no decorations (it has
    # none installed).
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
    printf '[Windows]\nPlacement=ZeroCornered\n[Xwayland]\nScale=%s\n' "$scale" >"$runtime/home/.config/kwinrc"
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
    export XDG_RUNTIME_DIR=$runtime XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=$socket OMBREL_SCREEN_DISPLAY=$screen
    export DISPLAY=$(sed -n 's/^DISPLAY=//p' "$runtime/kwin.env")
    # The toolkit's own decoration would move the window's content.
    export QT_WAYLAND_DISABLE_WINDOWDECORATION=1
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

if [ $serve = 1 ]; then
    for name in DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_SESSION_TYPE OMBREL_SCREEN_DISPLAY QT_WAYLAND_DISABLE_WINDOWDECORATION; do
        [ -n "${!name:-}" ] && echo "$name=${!name}"
    done
    echo ready
    cat >/dev/null
    exit 0
fi
"$@"
