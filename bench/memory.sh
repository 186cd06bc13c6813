#!/usr/bin/env bash
# Peak resident memory and time to the first frame, both builds, for the
# images whose memory is the question: per format micrographs come in (8- and
# 16-bit grey PNG, grey TIFF, BMP with a grey colour table, 24-bit colour
# BMP) at 4096 x 4096, 16384 x 16384 and 30000 x 30000 (the last a ramp that
# compresses to almost nothing, made quickly at that size), 20000 x 3355
# (tiles) and an 8192 x 8192 PNG with alpha. Beside each, the pixmap plus the
# texture at the image's own depth (one byte a pixel each for 8-bit grey, two
# for 16-bit, four for colour), which showing an image cannot do without,
# and the peak above the process's own (the bundled sample's). The builds
# and images alternate run by run; medians of BENCH_RUNS (3) runs.
# BENCH_IMAGES lists the images to measure (SIZE.EXT:KIND, as below) where
# only some are wanted. Prints a Markdown table. BENCH_TREES lists the trees
# to measure side by side, each LABEL:QT5-BUILD:QT6-BUILD (another checkout's
# builds, say); this tree's build and build-qt6 unless set.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
runs=${BENCH_RUNS:-3}
IFS=";" read -r -a trees <<<"${BENCH_TREES:-this tree:$PWD/build:$PWD/build-qt6}"
data=$PWD/build/bench-data
results=$(mktemp)
trap 'rm -f "$results"' EXIT
# The 512 x 512 sample's peak is the process's own, which the rest sit on.
images=(512x512.bmp:rgb)
for size in 4096x4096 16384x16384; do
    images+=("$size.png:grey" "$size.png:grey16" "$size.tif:grey" "$size.bmp:grey-palette" "$size.bmp:rgb")
done
images+=(30000x30000.png:grey-ramp 30000x30000.png:grey16-ramp 30000x30000.tif:grey-ramp 30000x30000.bmp:grey-palette-ramp
         30000x30000.bmp:rgb-ramp 20000x3355.bmp:rgb 8192x8192.png:alpha)
[ -z "${BENCH_IMAGES:-}" ] || read -r -a images <<<"512x512.bmp:rgb $BENCH_IMAGES"
for image in "${images[@]}"; do
    name=${image%%:*} kind=${image#*:} size=${name%.*}
    folder="$data/memory-$name-$kind"
    mkdir -p "$folder"
    cp sample/test.frag "$folder/"
    [ -f "$folder/fibre.bmp" ] || build/tools/makefibre "$folder/fibre.${name##*.}" ${size%x*} ${size#*x} "$kind"
    # Any image serves as fibre.bmp, whatever its format.
    [ -f "$folder/fibre.bmp" ] || mv "$folder/fibre.${name##*.}" "$folder/fibre.bmp"
done

for round in $(seq "$runs"); do
    for image in "${images[@]}"; do
        name=${image%%:*} kind=${image#*:}
        for tree in "${trees[@]}"; do
            IFS=: read -r label qt5 qt6 <<<"$tree"
            for qt in 5 6; do
                dir=$qt5; [ $qt = 6 ] && dir=$qt6
                OMBREL_SESSION_SIZE=1920x1080 MESA_SHADER_CACHE_DISABLE=true headless env FIRSTFRAME_LIB="$PWD/build/bench/libfirstframe.so" \
                    build/bench/bench_startup --runs 1 "$data/memory-$name-$kind" "$dir/ombrel-gl" |
                    sed "s|^|$label\tQt $qt\t$name $kind\t|" | tee -a "$results" >&2
            done
        done
    done
done

# Columns: tree build image startup program runs ms KiB slowest
awk -F'\t' "$(cat bench/median.awk)"'
{ k = $3 "|" $2 "|" $1; if (!(k in seen)) { seen[k] = 1; order[++n] = k }; ms[k] = ms[k] " " $7; kib[k] = kib[k] " " $8 }
END {
    print "| image | build | tree | start ms | peak MiB | above the bare process MiB | pixmap + texture MiB | above / (pixmap + texture) |"
    print "|---|---|---|---:|---:|---:|---:|---:|"
    for (i = 1; i <= n; i++) { split(order[i], f, "|"); if (f[1] ~ /^512x512/) base[f[2] "|" f[3]] = median(kib[order[i]]) / 1024 - 2 }
    for (i = 1; i <= n; i++) { split(order[i], f, "|"); split(f[1], g, " "); split(g[1], d, "[x.]")
        if (g[1] ~ /^512x512/) continue
        bytes = g[2] ~ /^grey16/ ? 4 : g[2] ~ /^grey/ ? 2 : 8
        need = d[1] * d[2] * bytes / 1048576; peak = median(kib[order[i]]) / 1024; above = peak - base[f[2] "|" f[3]]
        printf "| %s %s | %s | %s | %.0f | %.0f | %.0f | %.0f | %.2f |\n", g[1], g[2], f[2], f[3], median(ms[order[i]]), peak, above, need, above / need }
}' "$results"
