#!/usr/bin/env bash
# Images past the driver's largest texture on the Qt 5 build: 20000 x 3355
# (tiles, and a drawable wider than the largest viewport) beside 8192 x 8192,
# the same number of pixels in one texture. Start to first frame and a
# threshold change in the real window at its first size, the two images
# alternating run by run; medians, peak memory and their ratios. Writes the
# table into docs/performance.md between the large-image markers.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
runs=${BENCH_RUNS:-7}
data=$PWD/build/bench-data
results=$PWD/build/bench-large.tsv
: >"$results"
for size in 8192x8192 20000x3355; do
    mkdir -p "$data/$size"
    cp sample/test.frag "$data/$size/"
    [ -f "$data/$size/fibre.bmp" ] || build/tools/makefibre "$data/$size/fibre.bmp" ${size%x*} ${size#*x}
done

screen() {
    LIBGL_ALWAYS_SOFTWARE=1 MESA_SHADER_CACHE_DISABLE=true \
        xvfb-run -a -n "${OMBREL_XVFB_SERVERNUM:-99}" -s "-screen 0 1920x1080x24 +extension GLX" "$@"
}

echo "== $runs rounds: start to first frame, then 200 threshold changes, each image in turn"
for round in $(seq "$runs"); do
    for size in 8192x8192 20000x3355; do
        screen env FIRSTFRAME_LIB="$PWD/build/bench/libfirstframe.so" \
            build/bench/bench_startup --runs 1 "$data/$size" "$PWD/build/ombrel-gl" |
            sed "s/^/$size\t/" | tee -a "$results"
        screen build/bench/bench_threshold "$data/$size" 2>/dev/null | sed "s/^/$size\t/" | tee -a "$results"
    done
done

table=$(awk -F'\t' '
function median(list, n,   i, j, t, a) { split(list, a, " "); n = length(a)
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return a[int(n / 2) + 1] }
$2 == "startup" { start[$1] = start[$1] " " $5; speak[$1] = speak[$1] " " $6 }
$2 == "threshold" { change[$1] = change[$1] " " $7; tpeak[$1] = tpeak[$1] " " $10; win[$1] = $4; fr[$1] = fr[$1] + $6; ch[$1] = ch[$1] + $5 }
END {
    print "| image | raw RGBA MiB | start ms | start peak MiB | peak / raw (target <= 3.5) | change ms | frames / changes | window | change peak MiB | peak / raw (target <= 3.5) |"
    print "|---|---:|---:|---:|---:|---:|---:|---|---:|---:|"
    split("8192x8192 20000x3355", S, " ")
    for (i = 1; i <= 2; i++) { s = S[i]; split(s, d, "x"); raw = d[1] * d[2] * 4 / 1048576
        m[s] = median(start[s]); c[s] = median(change[s]) / 1000; p[s] = median(speak[s]) / 1024; q[s] = median(tpeak[s]) / 1024
        printf "| %s | %.0f | %.1f | %.0f | %.2f | %.2f | %d / %d | %s | %.0f | %.2f |\n", s, raw, m[s], p[s], p[s] / raw, c[s], fr[s], ch[s], win[s], q[s], q[s] / raw }
    printf "\nRatios, 20000 x 3355 to 8192 x 8192 (target <= 1.3): start %.3f, threshold change %.3f, start peak %.3f, change peak %.3f\n",
        m["20000x3355"] / m["8192x8192"], c["20000x3355"] / c["8192x8192"], p["20000x3355"] / p["8192x8192"], q["20000x3355"] / q["8192x8192"]
}' "$results")
echo "$table"

machine="$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), Mesa $(dpkg-query -W -f='${Version}' libgl1-mesa-dri 2>/dev/null), Xvfb 1920 x 1080, $(date -u +%Y-%m-%d)"
block=$(printf '<!-- large -->\nMeasured by `bench/large.sh` (%s rounds, medians) on %s, Qt 5 build.\n\n%s\n<!-- /large -->' "$runs" "$machine" "$table")
doc=docs/performance.md
grep -q '<!-- large -->' "$doc" || printf '\n## Images past the driver'"'"'s limits\n\n<!-- large -->\n<!-- /large -->\n' >>"$doc"
awk -v block="$block" '
/<!-- large -->/ { print block; skip = 1; next }
/<!-- \/large -->/ { skip = 0; next }
!skip { print }' "$doc" >"$doc.new" && mv "$doc.new" "$doc"
echo "Wrote the large-image table into docs/performance.md"
