#!/usr/bin/env bash
# Loads a generated NZB of 1,000,000 segments in 10,000 files through the core and,
# side by side in separate processes, parses it bare with pugixml; prints the median
# wall time and the peak memory of each and their ratios.
#   bench/run.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
rounds=${2:-5}
command -v /usr/bin/time >/dev/null || { apt-get update && apt-get install -y time; }
if [ ! -x "$build/bench/orvalis-bench-load" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build" -j2 --target orvalis-make-nzb orvalis-bench-load orvalis-bench-bare-parse
fi
mkdir -p bench/out
nzb=bench/out/1m-segments.nzb
[ -f "$nzb" ] || "$build/bench/orvalis-make-nzb" --segments 1000000 --files 10000 "$nzb"
size=$(stat -c %s "$nzb")

measure() { # program -> "seconds rss_kb"
    /usr/bin/time -f '%e %M' -o bench/out/time.txt "$@" >/dev/null
    cat bench/out/time.txt
}
load_times=(); bare_times=(); load_rss=0; bare_rss=0
for ((i = 0; i < rounds; i++)); do
    read -r t m < <(measure "$build/bench/orvalis-bench-bare-parse" "$nzb"); bare_times+=("$t"); ((m > bare_rss)) && bare_rss=$m
    read -r t m < <(measure "$build/bench/orvalis-bench-load" "$nzb"); load_times+=("$t"); ((m > load_rss)) && load_rss=$m
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
bare=$(median "${bare_times[@]}"); load=$(median "${load_times[@]}")
awk -v size="$size" -v bare="$bare" -v load="$load" -v brss="$bare_rss" -v lrss="$load_rss" 'BEGIN {
    printf "file: %.1f MB\n", size / 1e6
    printf "bare parse: %.2f s, peak %.0f MB (%.2f x file)\n", bare, brss / 1024, brss * 1024 / size
    printf "load:       %.2f s, peak %.0f MB (%.2f x file)\n", load, lrss / 1024, lrss * 1024 / size
    printf "load / bare parse: %.2f\n", load / bare
}'
