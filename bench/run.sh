#!/usr/bin/env bash
# Runs every benchmark against its reference, in one run on this machine,
# and writes the results table into docs/performance.md (between the
# results markers) and the plots docs/performance-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
ensure_packages "${OMBREL_RUN_PACKAGES[@]}" "${OMBREL_TEST_PACKAGES[@]}" gnuplot-nox
build_project build
build_project build-qt6 -DOMBREL_QT=6

runs=${BENCH_RUNS:-7}
data=$PWD/build/bench-data
results=$PWD/build/bench-results.tsv
mkdir -p "$data"
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

# Both builds in one alternating sequence, each beside its own reference, so
# that drift on a shared machine falls on all four alike.
echo "== Start to first frame, peak memory (median of $runs runs each), Qt 5 and Qt 6"
for size in "${sizes[@]}"; do
    headless env FIRSTFRAME_LIB="$PWD/build/bench/libfirstframe.so" \
        build/bench/bench_startup --runs "$runs" "$data/$size" "$PWD/build/ombrel-gl" "$PWD/build/bench/reference_viewer" \
        "$PWD/build-qt6/ombrel-gl" "$PWD/build-qt6/bench/reference_viewer" |
        sed "s/^startup\t/startup\t$size\t/" | tee -a "$results"
done
echo "== Repaint"
headless build/bench/bench_repaint sample | tee -a "$results"
echo "== Line reader"
build/bench/bench_linereader "$data" | tee -a "$results"

# The tables, from the results file.
table=$(awk -F'\t' '
function mib(kib) { return sprintf("%.0f", kib / 1024) }
$1 == "startup" { qt = $3 ~ /build-qt6\// ? 6 : 5; n = split($3, p, "/"); who = qt p[n]
    t[$2, who] = $5; peak[$2, who] = $6; slow[$2, who] = $7; if (!($2 in seen)) { seen[$2] = 1; order[++sizes] = $2 } }
$1 == "repaint" { rep[++reps] = $0 }
$1 == "linereader" { lr[++lrs] = $0; ms[$2] = $5; refms[$2] = $6 }
END {
    print "### Start to first frame (median ms), each build against its own reference\n"
    print "| build | image | ombrel-gl | reference | ratio (target <= 1.10; <= 0.67 at 4096 and 8192) | slowest ombrel-gl | slowest / reference median (target <= 0.80 at 4096 and 8192) | slowest reference |"
    print "|---|---|---:|---:|---:|---:|---:|---:|"
    for (q = 5; q <= 6; q++) for (i = 1; i <= sizes; i++) { s = order[i]; a = t[s, q "ombrel-gl"]; b = t[s, q "reference_viewer"]
        printf "| Qt %d | %s x %s | %.1f | %.1f | %.3f | %.1f | %.3f | %.1f |\n", q, s, s, a, b, a / b, slow[s, q "ombrel-gl"], slow[s, q "ombrel-gl"] / b, slow[s, q "reference_viewer"] }
    print "\n### Peak resident memory up to the first frame (median MiB)\n"
    print "| build | image | raw RGBA | ombrel-gl | ombrel-gl / raw | reference | reference / raw |"
    print "|---|---|---:|---:|---:|---:|---:|"
    for (q = 5; q <= 6; q++) for (i = 1; i <= sizes; i++) { s = order[i]; raw = s * s * 4 / 1048576; a = peak[s, q "ombrel-gl"] / 1024; b = peak[s, q "reference_viewer"] / 1024
        printf "| Qt %d | %s x %s | %.0f | %.0f | %.2f | %.0f | %.2f |\n", q, s, s, raw, a, a / raw, b, b / raw }
    print "\n### Qt 6 against Qt 5: start-up and peak memory of the viewers\n"
    print "| image | Qt 6 ms | Qt 5 ms | Qt 6 / Qt 5 (target <= 1.0 at 4096 and 8192) | Qt 6 MiB | Qt 5 MiB | Qt 6 / Qt 5 memory (target <= 1.1) |"
    print "|---|---:|---:|---:|---:|---:|---:|"
    for (i = 1; i <= sizes; i++) { s = order[i]; a = t[s, "6ombrel-gl"]; c = t[s, "5ombrel-gl"]
        m6 = peak[s, "6ombrel-gl"] / 1024; m5 = peak[s, "5ombrel-gl"] / 1024
        printf "| %s x %s | %.1f | %.1f | %.3f | %.0f | %.0f | %.2f |\n", s, s, a, c, a / c, m6, m5, m6 / m5 }
    print "\n### Repaint: sett_terskel to a finished frame (median us)\n"
    print "| view | frames | ombrel-gl | reference | ratio (target <= 1.05) |"
    print "|---|---:|---:|---:|---:|"
    for (i = 1; i <= reps; i++) { split(rep[i], f, "\t"); printf "| %s | %s | %.1f | %.1f | %.3f |\n", f[2], f[3], f[4], f[5], f[6] }
    print "\n### Shader source line reader (median)\n"
    print "| file | lines | bytes | ours ms | std::getline ms | ours MB/s | std::getline MB/s | throughput ratio (target >= 0.5) |"
    print "|---|---:|---:|---:|---:|---:|---:|---:|"
    for (i = 1; i <= lrs; i++) { split(lr[i], f, "\t"); printf "| %s | %s | %s | %.3f | %.3f | %.1f | %.1f | %.2f |\n", f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9] }
    print "\nGrowth with size (target: ten times the lines, at most eleven times the time):\n"
    print "| from | to | line reader time ratio | std::getline time ratio |"
    print "|---|---|---:|---:|"
    split("lines-1000 lines-10000 lines-100000 lines-1000000", L, " ")
    for (i = 1; i < 4; i++) printf "| %s | %s | %.2f | %.2f |\n", L[i], L[i + 1], ms[L[i + 1]] / ms[L[i]], refms[L[i + 1]] / refms[L[i]]
}' "$results")

machine="$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), Mesa $(dpkg-query -W -f='${Version}' libgl1-mesa-dri 2>/dev/null), $(date -u +%Y-%m-%d)"
block=$(printf '<!-- results -->\nMeasured by `bench/run.sh` (%s runs per start-up figure) on %s.\n\n%s\n\n![Start to first frame](performance-startup.png)\n![Line reader](performance-linereader.png)\n<!-- /results -->' "$runs" "$machine" "$table")
doc=docs/performance.md
[ -f "$doc" ] || printf '# Performance\n\n<!-- results -->\n<!-- /results -->\n' >"$doc"
awk -v block="$block" '
/<!-- results -->/ { print block; skip = 1; next }
/<!-- \/results -->/ { skip = 0; next }
!skip { print }' "$doc" >"$doc.new" && mv "$doc.new" "$doc"

# The plots.
awk -F'\t' '$1 == "startup" { qt = $3 ~ /build-qt6\// ? 6 : 5; n = split($3, p, "/"); v[$2, qt p[n]] = $5; if (!($2 in s)) { s[$2] = 1; o[++k] = $2 } }
    END { for (i = 1; i <= k; i++) print o[i], v[o[i], "5ombrel-gl"], v[o[i], "5reference_viewer"], v[o[i], "6ombrel-gl"], v[o[i], "6reference_viewer"] }' "$results" >build/bench-startup.dat
awk -F'\t' '$1 == "linereader" && $2 ~ /^lines-/ { print $3, $5, $6 }' "$results" >build/bench-linereader.dat
gnuplot <<GNUPLOT
set terminal pngcairo size 800,480
set output "docs/performance-startup.png"
set title "Start to first frame (median of $runs runs)"
set style data histograms
set style fill solid 0.8
set ylabel "ms (log scale)"
set xlabel "image side (pixels)"
set key left top
set yrange [50:*]
set logscale y
plot "build/bench-startup.dat" using 2:xtic(1) title "Qt 5 ombrel-gl", "" using 3 title "Qt 5 reference", "" using 4 title "Qt 6 ombrel-gl", "" using 5 title "Qt 6 reference"
unset logscale y
set output "docs/performance-linereader.png"
set title "Shader source line reader"
set style data linespoints
set logscale xy
set autoscale y
set xlabel "lines"
set ylabel "ms (median)"
plot "build/bench-linereader.dat" using 1:2 title "line reader", "" using 1:3 title "std::getline into one string"
GNUPLOT
echo "Wrote docs/performance.md, docs/performance-startup.png, docs/performance-linereader.png"
bench/threshold.sh
