#!/usr/bin/env bash
# A display session of its own, for the suite and for ./run:
#
#   session.sh KIND COMMAND...   runs COMMAND in it and exits with its status
#   session.sh --serve KIND      prints its environment as NAME=value lines,
#                                then "ready", and keeps it until standard
#                                input closes
#
# KIND is x (Xvfb with GLX), wayland (weston's headless back end) or xwayland
# (weston with XWayland). The screen is 2560 x 1600 unless
# OMBREL_SESSION_SIZE gives another (WIDTHxHEIGHT). The session's servers end
# with it, and its runtime folder goes.
set -u
serve=0
if [ "${1:-}" = --serve ]; then
    serve=1
    shift
fi
kind=${1:-}
shift
case $kind in x | wayland | xwayland) ;; *)
    echo "usage: session.sh [--serve] x|wayland|xwayland [COMMAND...]" >&2
    exit 2
    ;;
esac
size=${OMBREL_SESSION_SIZE:-2560x1600}
runtime=$(mktemp -d)
chmod 700 "$runtime"
servers=()
finish() {
    for pid in "${servers[@]}"; do
        kill "$pid" 2>/dev/null
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
    for name in DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_SESSION_TYPE; do
        [ -n "${!name:-}" ] && echo "$name=${!name}"
    done
    echo ready
    cat >/dev/null
    exit 0
fi
"$@"
