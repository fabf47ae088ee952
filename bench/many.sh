#!/usr/bin/env bash
# Checks 100 generated NZBs of 100 segments each against the local responder over 10
# connections: in one call of orvalis-check, whose connections stay open from one NZB to the
# next, and in 100 calls of one NZB each. Prints the median wall time of ROUNDS runs of each and
# their ratio. A DELAY_MS sends each reply that long after its command, as a distant server would.
#   bench/many.sh [BUILD_DIR] [ROUNDS] [DELAY_MS]     (defaults: build-bench, 5, 0; builds nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
rounds=${2:-5}
delay=${3:-0}
. bench/require_built.sh
require_built "$build" bench/orvalis-make-nzb bench/orvalis-bench-responder app/orvalis-check

out=bench/out/many
mkdir -p "$out"
nzbs=()
for ((i = 1; i <= 100; i++)); do
    nzbs+=("$out/$i.nzb")
    [ -f "$out/$i.nzb" ] || "$build/bench/orvalis-make-nzb" --segments 100 --files 5 --seed "$i" "$out/$i.nzb"
done

coproc responder { exec "$build/bench/orvalis-bench-responder" 0 "$delay"; }
read -r port <&"${responder[0]}"
trap 'kill $responder_PID 2>/dev/null' EXIT
# --stat-only: the responder keeps no article bodies to read.
check=("$build/app/orvalis-check" --stat-only --server "127.0.0.1:$port:10")

seconds() { # command... -> wall seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}
each_alone() { for nzb in "${nzbs[@]}"; do "${check[@]}" "$nzb" || true; done; }

: >"$out/one.txt"; : >"$out/each.txt"
for ((i = 1; i <= rounds; i++)); do
    seconds "${check[@]}" "${nzbs[@]}" >>"$out/one.txt"
    seconds each_alone >>"$out/each.txt"
done
median() { sort -g | sed -n "$(((rounds + 1) / 2))p"; }
one=$(median <"$out/one.txt")
each=$(median <"$out/each.txt")
awk -v o="$one" -v e="$each" -v d="$delay" 'BEGIN {
    printf "100 NZBs x 100 segments, 10 connections, replies after %d ms\n", d
    printf "one call   %7.3f s\n100 calls  %7.3f s\nthe one call takes %.3f of the time of 100 calls (%.1fx faster)\n", o, e, o / e, e / o }'
