#!/usr/bin/env bash
# in-weston.sh COMMAND...: runs COMMAND as a program of a Wayland session
# with no X server: a weston compositor on its headless back end in a
# private runtime folder, QT_QPA_PLATFORM=wayland, no DISPLAY. Exits with
# COMMAND's status.
set -u
runtime=$(mktemp -d)
chmod 700 "$runtime"
socket="ombrel-$$"
XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --width=2560 --height=1600 \
    --socket="$socket" --idle-time=0 --log="$runtime/weston.log" &
weston=$!
for _ in $(seq 200); do
    [ -S "$runtime/$socket" ] && break
    sleep 0.05
done
status=0
env -u DISPLAY XDG_RUNTIME_DIR="$runtime" XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$socket" \
    QT_QPA_PLATFORM=wayland QT_WAYLAND_DISABLE_WINDOWDECORATION=1 "$@" || status=$?
kill "$weston" 2>/dev/null
wait "$weston" 2>/dev/null
rm -rf "$runtime"
exit $status
