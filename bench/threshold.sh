#!/usr/bin/env bash
# A threshold change in the real window at the image sizes people open, on
# both builds, at screen scales 1 and 2, with the same part of the view seen
# on both builds, like for like: 596 x 392 (the Qt 5 build's first window)
# and 1500 x 900 logical pixels. Each row says what it saw. Writes the table
# into docs/performance.md (between the threshold markers) and the plot
# docs/performance-threshold.png. bench/run.sh runs it; it also runs alone
# once the builds exist.
#
# BENCH_BEFORE=DIR adds the same figures for another tree's builds
# (DIR/b5 and DIR/b6, each with bench/bench_threshold), as "before".
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
command -v gnuplot >/dev/null || ensure_packages gnuplot-nox

data=$PWD/build/bench-data
results=$PWD/build/bench-threshold.tsv
: >"$results"
sizes=(512 2048 4096 8192)
for size in "${sizes[@]}"; do
    mkdir -p "$data/$size"
    cp sample/test.frag "$data/$size/"
    if [ "$size" = 512 ]; then
        cp sample/fibre.bmp "$data/$size/"
    elif [ ! -f "$data/$size/fibre.bmp" ]; then
        build/tools/makefibre "$data/$size/fibre.bmp" "$size"
    fi
done

# Room for 1500 x 900 seen at scale 2.
screen() {
    OMBREL_SESSION_SIZE=3400x2100 MESA_SHADER_CACHE_DISABLE=true headless "$@"
}

# run LABEL BENCH [--quick]
run() {
    local label=$1 bench=$2
    shift 2
    local scale seen size
    for scale in 1 2; do
        for seen in 596x392 1500x900; do
            for size in "${sizes[@]}"; do
                screen env QT_SCALE_FACTOR=$scale "$bench" "$@" --seen "$seen" "$data/$size" 2>/dev/null |
                    sed "s/^threshold\t/threshold\t$label\t$scale\t$seen\t/" | tee -a "$results"
            done
        done
    done
}

echo "== Threshold change in the window (200 changes a row, then 100 queued)"
run "Qt 5" build/bench/bench_threshold
run "Qt 6" build-qt6/bench/bench_threshold
if [ -n "${BENCH_BEFORE:-}" ]; then
    # The old view drew every pixel of the image-sized view: 20 changes a row.
    run "Qt 5 before" "$BENCH_BEFORE/b5/bench/bench_threshold" --quick
    run "Qt 6 before" "$BENCH_BEFORE/b6/bench/bench_threshold" --quick
fi

# Columns: label scale mode side window changes frames median p90 drag peak
table=$(awk -F'\t' '
$1 == "threshold" { key = $2 "|" $3 "|" $13; med[key, $5] = $9; p90[key, $5] = $10; drag[key, $5] = $11; peak[key, $5] = $12
    win[key, $5] = $6; fr[key, $5] = $8 "/" $7; if (!(key in seen)) { seen[key] = 1; order[++n] = key } }
END {
    print "| build | scale | seen | image | window size | frames / changes | median ms | 90th pct ms | ratio to 512 (target <= 1.3) | to Qt 5 at this scale, the same seen (target <= 1.5) | 100 queued ms (target <= 1000 at 8192) | peak MiB | peak / raw RGBA (target <= 3.5 at 8192, Qt 5) |"
    print "|---|---:|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|"
    split("512 2048 4096 8192", S, " ")
    for (i = 1; i <= n; i++) { k = order[i]; split(k, f, "|"); q5 = "Qt 5|" f[2] "|" f[3]
        for (j = 1; j <= 4; j++) { s = S[j]; if (!((k, s) in med)) continue
            raw = s * s * 4 / 1048576
            printf "| %s | %s | %s | %s | %s | %s | %.2f | %.2f | %.2f | %s | %.0f | %.0f | %.2f |\n", f[1], f[2], f[3], s, win[k, s], fr[k, s],
                med[k, s] / 1000, p90[k, s] / 1000, med[k, s] / med[k, 512], f[1] == "Qt 6" && (q5, s) in med ? sprintf("%.2f", med[k, s] / med[q5, s]) : "",
                drag[k, s], peak[k, s] / 1024, peak[k, s] / 1024 / raw } }
}' "$results")

machine="$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), Mesa $(dpkg-query -W -f='${Version}' libgl1-mesa-dri 2>/dev/null), Xvfb 1920 x 1080, $(date -u +%Y-%m-%d)"
block=$(printf '<!-- threshold -->\nMeasured by `bench/threshold.sh` on %s.\n\n%s\n\n![Threshold change against image size](performance-threshold.png)\n<!-- /threshold -->' "$machine" "$table")
doc=docs/performance.md
grep -q '<!-- threshold -->' "$doc" || printf '\n## Threshold change in the window\n\n<!-- threshold -->\n<!-- /threshold -->\n' >>"$doc"
awk -v block="$block" '
/<!-- threshold -->/ { print block; skip = 1; next }
/<!-- \/threshold -->/ { skip = 0; next }
!skip { print }' "$doc" >"$doc.new" && mv "$doc.new" "$doc"

# The plot: median change against image side, first window size, per build and scale.
awk -F'\t' '$1 == "threshold" && $4 == "596x392" { v[$2 " scale " $3, $5] = $9 / 1000; if (!(($2 " scale " $3) in s)) { s[$2 " scale " $3] = 1; o[++k] = $2 " scale " $3 } }
    END { printf "side"; for (i = 1; i <= k; i++) printf "\t\"%s\"", o[i]; print ""
          split("512 2048 4096 8192", S, " ")
          for (j = 1; j <= 4; j++) { printf "%s", S[j]; for (i = 1; i <= k; i++) printf "\t%s", ((o[i], S[j]) in v) ? v[o[i], S[j]] : "NaN"; print "" } }' \
    "$results" >build/bench-threshold.dat
columns=$(head -n 1 build/bench-threshold.dat | awk -F'\t' '{ print NF }')
gnuplot <<GNUPLOT
set terminal pngcairo size 900,520
set output "docs/performance-threshold.png"
set title "One threshold change to its finished frame, 596 x 392 of the view seen"
set datafile separator "\t"
set logscale xy
set xtics (512, 2048, 4096, 8192)
set xlabel "image side (pixels)"
set ylabel "ms (median)"
set key left top
plot for [c=2:$columns] "build/bench-threshold.dat" using 1:c with linespoints title columnheader(c)
GNUPLOT
echo "Wrote the threshold table into docs/performance.md and docs/performance-threshold.png"
