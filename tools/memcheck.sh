#!/usr/bin/env bash
# One start-to-close run of ombrel-gl on the bundled sample under valgrind's
# memcheck, headless. Prints memcheck's leak summary and any definite leak
# whose stack passes through the project's own sources.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
ensure_packages "${OMBREL_RUN_PACKAGES[@]}" "${OMBREL_TEST_PACKAGES[@]}"
build_project build
rm -f build/memcheck.*.log
log=build/memcheck.%p.log
root=$PWD
cd sample
headless bash -c '
    root=$1; log=$2
    # One log per process: the toolkit may start helpers of its own.
    valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite --num-callers=40 \
        --log-file="$log" "$root/build/ombrel-gl" &
    app=$!
    # Let it draw a few frames before asking it to close.
    timeout 300 xdotool search --sync --onlyvisible --pid "$app" --name "^Ombrel GL\$" >/dev/null
    sleep 5
    "$root/build/tools/wmclose" --pid "$app" "Ombrel GL"
    wait "$app"
' _ "$root" "$root/$log" || { echo "ombrel-gl under memcheck ended with status $?" >&2; }
cd "$root"
for file in build/memcheck.*.log; do
    echo "$file: $(grep -m1 'Command:' "$file" | sed 's/^==[0-9]*== //')"
    sed -n '/LEAK SUMMARY/,/suppressed/p' "$file"
done
own=$(awk '/definitely lost in/{block=1; text=""} block{text=text $0 "\n"} /^==[0-9]+== $/{if (block && text ~ /(app|render|widgets)\/[a-z]+\.(cpp|h)/) printf "%s", text; block=0}' build/memcheck.*.log)
if [ -n "$own" ]; then
    echo "Definite leaks through the project's sources:"
    echo "$own"
    exit 1
fi
echo "No definite leak passes through the project's sources (logs: build/memcheck.*.log)"
