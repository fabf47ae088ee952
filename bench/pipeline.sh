#!/usr/bin/env bash
# Checks generated NZBs against the responder with a simulated round trip of 30 ms (each reply
# sent 30 ms after its command arrived) over 10 connections, once per pipeline depth. Prints
# the STAT answers per second of each depth and its speed-up over depth 1.
#   bench/pipeline.sh [BUILD_DIR] [DEPTH...]     (defaults: build-bench; 1 8 32 100)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
depths=("${@:2}")
((${#depths[@]})) || depths=(1 8 32 100)
. bench/require_built.sh
require_built "$build" bench/orvalis-make-nzb bench/orvalis-bench-responder app/orvalis-check

out=bench/out
mkdir -p "$out"
coproc responder { exec "$build/bench/orvalis-bench-responder" 0 30; }
read -r port <&"${responder[0]}"
trap 'kill $responder_PID 2>/dev/null' EXIT

base=
for depth in "${depths[@]}"; do
    # About ten seconds of checking at the expected rate, and never fewer than 2,000 entries.
    segments=$((depth * 3000 > 2000 ? depth * 3000 : 2000))
    ((segments <= 200000)) || segments=200000
    nzb=$out/$segments-segments.nzb
    [ -f "$nzb" ] || "$build/bench/orvalis-make-nzb" --segments "$segments" --files $((segments / 100)) --seed 3 "$nzb"
    start=$(date +%s.%N)
    "$build/app/orvalis-check" --server "127.0.0.1:$port:10" --pipeline "$depth" "$nzb" >"$out/pipeline-$depth.txt" || true
    end=$(date +%s.%N)
    grep -q "Parts checked: $segments" "$out/pipeline-$depth.txt" || { echo "depth $depth: the check did not complete" >&2; exit 1; }
    rate=$(awk -v n="$segments" -v s="$start" -v e="$end" 'BEGIN { printf "%.0f", n / (e - s) }')
    base=${base:-$rate}
    awk -v d="$depth" -v r="$rate" -v b="$base" -v n="$segments" \
        'BEGIN { printf "depth %3d: %7d STAT/s (%5.1fx depth %s), %d entries\n", d, r, r / b, "'"${depths[0]}"'", n }'
done
