#!/usr/bin/env bash
# tools/fresh-debian.sh [--allow-expired] [--require-desktops] RELEASE [ROOT]
#
# Tries the two commands as a newcomer would on a fresh machine: makes a
# minimal root of a Debian release (bookworm or 12, trixie or 13, forky or
# testing) with debootstrap, from the Debian mirror this machine's apt uses,
# clones the committed tree into it with ../shared beside it, and runs
# ./run and then ./test inside, in the environment a fresh machine gives
# (HOME, PATH and TERM; no locale). Prints what passed and what failed;
# exits non-zero when anything failed, the root's making included. Needs
# root (it asks sudo otherwise) and takes half an hour or more per release.
#
# ROOT defaults to /var/tmp/ombrel-fresh-RELEASE; it is made anew on every
# run and left behind for a look afterwards (logs in ROOT/work/logs).
# --allow-expired lets apt in the root take a mirror's Release file past
# its Valid-Until date, as a snapshot mirror serves it; off by default.
# --require-desktops fails the run unless the suite's KWin and GNOME Shell
# rows all ran and passed: none may be skipped.
#   tools/fresh-debian.sh --enter ROOT [COMMAND...]
# runs a shell (or COMMAND) in such a root, with the same mounts.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$0" "$@"
fi

usage() {
    sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

# Mounts what the build and the suites need (processes, devices, shared
# memory, the kernel's settings) in a mount namespace of its own, so that
# nothing stays mounted however the run ends, and runs the command there,
# in the environment a fresh machine's login gives: HOME, PATH and TERM, and
# no locale (a minimal install has none, nor has a container or env -i).
in_root() {
    local root=$1
    shift
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    unshare --mount --propagation private -- bash -c '
        set -e
        root=$1; shift
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
        exec chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
    ' _ "$root" "$@"
}

if [ "${1:-}" = "--enter" ]; then
    [ $# -ge 2 ] || usage
    root=$(realpath "$2")
    shift 2
    [ $# -gt 0 ] || set -- bash -l
    in_root "$root" "$@"
    exit
fi

expired=0
desktops=0
while [ $# -gt 0 ]; do
    case $1 in
        --allow-expired) expired=1 ;;
        --require-desktops) desktops=1 ;;
        *) break ;;
    esac
    shift
done
[ $# -ge 1 ] && [ $# -le 2 ] || usage
case $1 in
    12|bookworm) release=bookworm number=12 ;;
    13|trixie) release=trixie number=13 ;;
    14|forky|testing) release=forky number=14 ;;
    *) echo "Unknown release \"$1\": give bookworm (12), trixie (13) or forky (testing)" >&2; exit 2 ;;
esac
root=${2:-/var/tmp/ombrel-fresh-$release}
repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
shared=$(realpath "$repo/../shared")
[ -d "$shared" ] || { echo "No shared/ beside the repository ($shared)" >&2; exit 2; }

# The first Debian archive (not its security archive) in apt's sources, in
# either format; the security archive likewise, when there is one.
apt_uri() {
    local want=$1
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        if [ -f "$file" ]; then cat "$file"; echo; fi
    done |
        awk -v want="$want" '
            function pick(uri, suites) {
                if (uri == "" || found) return
                security = (suites ~ /-security/)
                if ((want == "security") == security && (uri ~ /debian/)) { print uri; found = 1 }
            }
            /^deb[ \t]/ { u = $2; if (u ~ /^\[/) { u = $3; s = $4 } else s = $3; pick(u, s); next }
            /^URIs:/ { uri = $2 }
            /^Suites:/ { suites = $0 }
            /^[ \t]*$/ { pick(uri, suites); uri = ""; suites = "" }
            END { pick(uri, suites) }'
}
mirror=${MIRROR:-$(apt_uri main)}
security=${SECURITY_MIRROR:-$(apt_uri security)}
[ -n "$mirror" ] || { echo "No Debian mirror found in apt's sources; set MIRROR" >&2; exit 2; }

command -v debootstrap >/dev/null || {
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
} || {
    echo "No debootstrap here, and apt-get could not install it: no fresh Debian $number root can be made" >&2
    exit 1
}

# A root from an earlier run goes first; nothing is mounted in it outside
# the namespace of a run, but a run still going would be.
if [ -e "$root" ]; then
    if findmnt -rno TARGET | grep -q "^$root/"; then
        echo "Something is mounted under $root: is a run still going?" >&2
        exit 1
    fi
    rm -rf --one-file-system "$root"
fi
mkdir -p "$root"
logs=$root/work/logs
mkdir -p "$logs"

results=()
failed=0
step() {
    local name=$1 log=$2
    shift 2
    local start=$SECONDS status=0
    echo "== $name (log: $log)"
    "$@" >"$log" 2>&1 || status=$?
    local took=$((SECONDS - start))
    if [ $status -eq 0 ]; then
        results+=("PASS  $name (${took} s)")
    else
        results+=("FAIL  $name (${took} s, status $status): see $log")
        failed=1
        tail -n 40 "$log" | sed 's/^/    /'
    fi
    return $status
}

report() {
    echo "== Debian $number ($release) from $mirror, root $root"
    printf '%s\n' "${results[@]}"
    exit $failed
}

# The steps run where errexit does not reach (step's "|| status"): each
# failure is returned by hand.
make_root() {
    # An older debootstrap knows no script by a newer release's name; every
    # release after the last it knows is made as sid is.
    local script=/usr/share/debootstrap/scripts/$release
    [ -e "$script" ] || script=/usr/share/debootstrap/scripts/sid
    debootstrap --variant=minbase "$release" "$root" "$mirror" "$script" || return 1
    {
        echo "deb $mirror $release main"
        # Testing has no updates suite of its own.
        [ "$release" = forky ] || echo "deb $mirror $release-updates main"
        [ -z "$security" ] || echo "deb $security $release-security main"
    } >"$root/etc/apt/sources.list"
    if [ $expired = 1 ]; then
        echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/99ombrel-expired"
    fi
}

# A clone of what is committed, as a newcomer gets it, and shared/ as laid.
clone_tree() {
    git clone --quiet --no-hardlinks "$repo" "$root/work/main" || return 1
    cp -a "$shared" "$root/work/shared" || return 1
    git -C "$root/work/main" log -1 --format='cloned %h %s'
}

if ! step "debootstrap $release" "$logs/debootstrap.log" make_root; then
    echo "No fresh Debian $number root could be made from $mirror: nothing of the project ran in one" >&2
    report
fi
step "clone" "$logs/clone.log" clone_tree || report

step "./run" "$logs/run.log" in_root "$root" bash -c 'cd /work/main && ./run' || true
if [ -f "$root/work/main/build/screenshot.png" ]; then
    cp "$root/work/main/build/screenshot.png" "$logs/screenshot.png"
    echo "Screenshot: $logs/screenshot.png"
fi
step "./test" "$logs/test.log" in_root "$root" bash -c 'cd /work/main && ./test' || true
grep -E '^== |tests passed|tests failed|\*\*\*Failed|Timeout' "$logs/test.log" | sed 's/^/    /' || true

# The KWin and GNOME Shell rows, as CTest reported them: each must have run
# and passed, in the builds that have it (KWin's in both, GNOME's in Qt 6's).
desktop_rows() {
    local rows='Test +#[0-9]+: tst_(window|desktops)_(kwin|gnome)[0-9.]* '
    local passed others row missing=0
    passed=$(grep -cE "$rows\.* +Passed" "$logs/test.log" || true)
    others=$(grep -E "$rows" "$logs/test.log" | grep -vE "$rows\.* +Passed" || true)
    echo "KWin and GNOME Shell rows passed: $passed"
    if [ -n "$others" ]; then
        echo "Rows that did not pass (a skipped one checks nothing):"
        echo "$others"
        return 1
    fi
    for row in tst_window_kwin1.25:2 tst_window_kwin1.5:2 tst_window_kwin1.75:2 tst_window_kwin2:2 tst_desktops_kwin:2 \
        tst_window_gnome1.25:1 tst_window_gnome1.5:1 tst_window_gnome1.75:1 tst_window_gnome2:1 tst_desktops_gnome:1; do
        if [ "$(grep -cE "Test +#[0-9]+: ${row%:*} \.* +Passed" "$logs/test.log")" -lt "${row#*:}" ]; then
            echo "Not run: ${row%:*} (wanted in ${row#*:} build(s))"
            missing=1
        fi
    done
    [ $missing = 0 ]
}
if [ $desktops = 1 ]; then
    step "KWin and GNOME Shell rows all ran" "$logs/desktops.log" desktop_rows || true
    head -n 1 "$logs/desktops.log" | sed "s/^/    /"
fi
report
