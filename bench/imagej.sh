#!/usr/bin/env bash
# A threshold change beside ImageJ, the program people would use instead,
# in one Xvfb with the same OpenGL (llvmpipe here): the same 8-bit grey
# micrographs of 4096 x 4096 and 8192 x 8192 (BMP with a grey colour table,
# which all three read), the same image pixels seen at 1:1 (596 x 392, the
# Qt 5 build's first window, and 1500 x 900), one change to a finished,
# synced frame, median of 200. The programs take turns, run by run. Prints a
# Markdown table with each build's ratio to ImageJ. ImageJ is Debian's
# imagej package (its ij.jar); where it is not installed only the builds run.
# A second table puts the builds' floors beside it: the same change with a
# shader that only passes each texel on (bench/texel-only.frag) and with one
# that reads no texel (bench/no-texel.frag).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
runs=${BENCH_RUNS:-3}
jar=/usr/share/java/ij.jar
data=$PWD/build/bench-data
classes=$PWD/build/bench-imagej
results=$(mktemp)
trap 'rm -f "$results"' EXIT
if [ -f "$jar" ] && command -v javac >/dev/null; then
    mkdir -p "$classes"
    javac -cp "$jar" -d "$classes" bench/ImageJThreshold.java
else
    echo "No ImageJ here ($jar, and javac): the builds alone" >&2
    jar=
fi
sizes=(4096 8192)
shaders=("threshold:sample/test.frag" "texel only:bench/texel-only.frag" "no texel:bench/no-texel.frag")
# folder SIZE SHADER: the data folder of one image size and shader.
folder() {
    if [ "$2" = threshold ]; then echo "$data/grey-$1"; else echo "$data/grey-$1-${2// /-}"; fi
}
for size in "${sizes[@]}"; do
    image="$(folder "$size" threshold)/fibre.bmp"
    for shader in "${shaders[@]}"; do
        to=$(folder "$size" "${shader%%:*}")
        mkdir -p "$to"
        cp "${shader#*:}" "$to/test.frag"
        [ "$to/fibre.bmp" = "$image" ] || ln -sf "$image" "$to/fibre.bmp"
    done
    [ -f "$image" ] || build/tools/makefibre "$image" "$size" "$size" grey-palette
done

screen() {
    OMBREL_SESSION_SIZE=2560x1600 MESA_SHADER_CACHE_DISABLE=true headless "$@"
}

for round in $(seq "$runs"); do
    for seen in 596x392 1500x900; do
        for size in "${sizes[@]}"; do
            if [ -n "$jar" ]; then
                screen java -cp "$jar:$classes" ImageJThreshold "${seen%x*}" "${seen#*x}" "$(folder "$size" threshold)/fibre.bmp" 200 2>/dev/null |
                    awk -F'\t' -v s="$seen" '$1 == "imagej" { print "ImageJ\t" s "\t" $2 "\t" $5 }' | tee -a "$results"
            fi
            for shader in "${shaders[@]}"; do
                name=${shader%%:*}
                for qt in 5 6; do
                    dir=build
                    [ $qt = 6 ] && dir=build-qt6
                    label="Qt $qt build"
                    [ "$name" = threshold ] || label="$label, $name"
                    screen "$dir/bench/bench_threshold" --seen "$seen" "$(folder "$size" "$name")" 2>/dev/null |
                        awk -F'\t' -v s="$seen" -v b="$label" '$1 == "threshold" && $10 == s {
                            if ($5 != $4) print b ": " $5 " frames for " $4 " changes" > "/dev/stderr"
                            print b "\t" s "\t" $2 "\t" $6 }' |
                        tee -a "$results"
                done
            done
        done
    done
done

# Columns: program seen side median-us
awk -F'\t' "$(cat bench/median.awk)"'
{ k = $2 "|" $3; if (!(k in seen)) { seen[k] = 1; order[++n] = k }; us[$1, k] = us[$1, k] " " $4 }
END {
    print "| seen | image | Qt 5 build ms | Qt 6 build ms | ImageJ ms | Qt 5 / ImageJ | Qt 6 / ImageJ |"
    print "|---|---:|---:|---:|---:|---:|---:|"
    for (i = 1; i <= n; i++) { k = order[i]; split(k, f, "|")
        q5 = median(us["Qt 5 build", k]) / 1000; q6 = median(us["Qt 6 build", k]) / 1000
        ij = (("ImageJ", k) in us) ? median(us["ImageJ", k]) / 1000 : 0
        printf "| %s | %s² | %.2f | %.2f | %s | %s | %s |\n", f[1], f[2], q5, q6, ij ? sprintf("%.2f", ij) : "", ij ? sprintf("%.2f", q5 / ij) : "",
            ij ? sprintf("%.2f", q6 / ij) : "" }
    print ""
    print "| seen | image | Qt 5 texel only ms | Qt 5 no texel ms | Qt 6 texel only ms | Qt 6 no texel ms | ImageJ ms |"
    print "|---|---:|---:|---:|---:|---:|---:|"
    for (i = 1; i <= n; i++) { k = order[i]; split(k, f, "|")
        ij = (("ImageJ", k) in us) ? sprintf("%.2f", median(us["ImageJ", k]) / 1000) : ""
        printf "| %s | %s² | %.2f | %.2f | %.2f | %.2f | %s |\n", f[1], f[2], median(us["Qt 5 build, texel only", k]) / 1000,
            median(us["Qt 5 build, no texel", k]) / 1000, median(us["Qt 6 build, texel only", k]) / 1000,
            median(us["Qt 6 build, no texel", k]) / 1000, ij }
}' "$results"
