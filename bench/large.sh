#!/usr/bin/env bash
# Images past the driver's largest texture and render target, on both
# builds, at screen scales 1 and 2: 20000 x 3355 and 40000 x 1000 (tiles)
# beside 8192 x 8192, about the same number of pixels in one texture. Start
# to first frame and a threshold change in the real window at its first
# size, the images alternating run by run; medians, peak memory and their
# ratios to 8192 x 8192 of the same build and scale. Writes the table into
# docs/performance.md between the large-image markers.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
runs=${BENCH_RUNS:-5}
data=$PWD/build/bench-data
results=$PWD/build/bench-large.tsv
: >"$results"
images=(8192x8192 20000x3355 40000x1000)
for size in "${images[@]}"; do
    mkdir -p "$data/$size"
    cp sample/test.frag "$data/$size/"
    [ -f "$data/$size/fibre.bmp" ] || build/tools/makefibre "$data/$size/fibre.bmp" ${size%x*} ${size#*x}
done

screen() {
    OMBREL_SESSION_SIZE=1920x1080 MESA_SHADER_CACHE_DISABLE=true headless "$@"
}

echo "== $runs rounds: start to first frame, then 200 threshold changes, each build, scale and image in turn"
for round in $(seq "$runs"); do
    for qt in 5 6; do
        dir=build; [ $qt = 6 ] && dir=build-qt6
        for scale in 1 2; do
            for size in "${images[@]}"; do
                key="Qt $qt	$scale	$size"
                screen env QT_SCALE_FACTOR=$scale FIRSTFRAME_LIB="$PWD/$dir/bench/libfirstframe.so" \
                    $dir/bench/bench_startup --runs 1 "$data/$size" "$PWD/$dir/ombrel-gl" | sed "s/^/$key\t/" | tee -a "$results"
                screen env QT_SCALE_FACTOR=$scale $dir/bench/bench_threshold "$data/$size" 2>/dev/null |
                    sed "s/^/$key\t/" | tee -a "$results"
            done
        done
    done
done

# Columns: build scale image kind ...
table=$(awk -F'\t' '
function median(list, n,   i, j, t, a) { split(list, a, " "); n = length(a)
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return a[int(n / 2) + 1] }
{ k = $1 "|" $2 "|" $3; if (!(k in seen)) { seen[k] = 1; order[++n] = k } }
$4 == "startup" { start[k] = start[k] " " $7; speak[k] = speak[k] " " $8 }
$4 == "threshold" { change[k] = change[k] " " $9; tpeak[k] = tpeak[k] " " $12; win[k] = $6; fr[k] += $8; ch[k] += $7 }
END {
    print "| build | scale | image | raw RGBA MiB | start ms | start / 8192² | start peak MiB | change ms | change / 8192² (target <= 1.3) | frames / changes | window | change peak MiB |"
    print "|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---|---:|"
    for (i = 1; i <= n; i++) { k = order[i]; split(k, f, "|"); split(f[3], d, "x"); base = f[1] "|" f[2] "|8192x8192"
        m = median(start[k]); c = median(change[k]) / 1000
        printf "| %s | %s | %s | %.0f | %.1f | %.2f | %.0f | %.2f | %.2f | %d / %d | %s | %.0f |\n", f[1], f[2], f[3], d[1] * d[2] * 4 / 1048576,
            m, m / median(start[base]), median(speak[k]) / 1024, c, c / (median(change[base]) / 1000), fr[k], ch[k], win[k], median(tpeak[k]) / 1024 }
}' "$results")
echo "$table"

machine="$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), Mesa $(dpkg-query -W -f='${Version}' libgl1-mesa-dri 2>/dev/null), Xvfb 1920 x 1080, $(date -u +%Y-%m-%d)"
block=$(printf '<!-- large -->\nMeasured by `bench/large.sh` (%s rounds, medians) on %s.\n\n%s\n<!-- /large -->' "$runs" "$machine" "$table")
doc=docs/performance.md
grep -q '<!-- large -->' "$doc" || printf '\n## Images past the driver'"'"'s limits\n\n<!-- large -->\n<!-- /large -->\n' >>"$doc"
awk -v block="$block" '
/<!-- large -->/ { print block; skip = 1; next }
/<!-- \/large -->/ { skip = 0; next }
!skip { print }' "$doc" >"$doc.new" && mv "$doc.new" "$doc"
echo "Wrote the large-image table into docs/performance.md"
