#!/usr/bin/env bash
# What --sample costs: a generated NZB of 10,000 segments checked against the local responder
# over 10 connections, each reply DELAY_MS late as from a distant server, with and without
# --sample 20, alternately. Prints the median wall time of ROUNDS runs of each and the difference.
#   bench/sample.sh [BUILD_DIR] [ROUNDS] [DELAY_MS]     (defaults: build-bench, 5, 30; builds nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
rounds=${2:-5}
delay=${3:-30}
. bench/require_built.sh
require_built "$build" bench/orvalis-make-nzb bench/orvalis-bench-responder app/orvalis-check

out=bench/out/sample
mkdir -p "$out"
nzb=$out/10k-segments.nzb
[ -f "$nzb" ] || "$build/bench/orvalis-make-nzb" --segments 10000 --files 100 --seed 3 "$nzb"

coproc responder { exec "$build/bench/orvalis-bench-responder" 0 "$delay"; }
read -r port <&"${responder[0]}"
trap 'kill $responder_PID 2>/dev/null' EXIT
check=("$build/app/orvalis-check" --pipeline 16 --server "127.0.0.1:$port:10" "$nzb")

seconds() { # command... -> wall seconds; the check must find everything
    local start end
    start=$(date +%s.%N)
    "$@" >"$out/stdout.txt" 2>&1 || { cat "$out/stdout.txt" >&2; return 1; }
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { print e - s }'
}
: >"$out/plain.txt"; : >"$out/sampled.txt"
for ((i = 1; i <= rounds; i++)); do
    seconds "${check[@]}" >>"$out/plain.txt"
    seconds "${check[@]}" --sample 20 >>"$out/sampled.txt"
done
median() { sort -g "$1" | sed -n "$(((rounds + 1) / 2))p"; }
plain=$(median "$out/plain.txt")
sampled=$(median "$out/sampled.txt")
printf 'without --sample %6.2f s\nwith --sample 20 %6.2f s\nadded            %6.2f s (%s ms per reply, 10 connections, pipeline 16)\n' \
    "$plain" "$sampled" "$(awk -v a="$sampled" -v b="$plain" 'BEGIN { print a - b }')" "$delay"
