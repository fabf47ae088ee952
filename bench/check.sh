#!/usr/bin/env bash
# Checks a generated NZB of 200,000 segments against the local responder over 10 connections:
# with orvalis-check and through the window offscreen, alternating with the lockstep C client
# that shows the responder's ceiling. Prints the medians of ROUNDS runs of each.
#   bench/check.sh [BUILD_DIR] [ROUNDS]     (BUILD_DIR defaults to build-bench; builds nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
rounds=${2:-5}
. bench/require_built.sh
require_built "$build" bench/orvalis-make-nzb bench/orvalis-bench-responder bench/orvalis-bench-client bench/orvalis-bench-window app/orvalis-check
[ -x /usr/bin/time ] || { apt-get update && apt-get install -y time; }

out=bench/out
mkdir -p "$out"
nzb=$out/200k-segments.nzb
[ -f "$nzb" ] || "$build/bench/orvalis-make-nzb" --segments 200000 --files 2000 --seed 2 "$nzb"
answers=200000

coproc responder { exec "$build/bench/orvalis-bench-responder" 0; }
read -r port <&"${responder[0]}"
trap 'kill $responder_PID 2>/dev/null' EXIT

# Runs a command under time -v; prints "answers_per_second cpu_us_per_answer peak_mb".
measure() {
    /usr/bin/time -f '%e %U %S %M' -o "$out/time.txt" "$@" >"$out/stdout.txt" 2>/dev/null || true
    read -r wall user system peak <"$out/time.txt"
    awk -v w="$wall" -v u="$user" -v s="$system" -v p="$peak" -v n="$answers" \
        'BEGIN { printf "%.0f %.2f %.0f\n", n / w, (u + s) * 1e6 / n, p / 1024 }'
}
client_rate() { # "answers_per_second cpu_us_per_answer"
    /usr/bin/time -f '%U %S' -o "$out/client-time.txt" "$build/bench/orvalis-bench-client" "$port" 10 "$answers" >"$out/client-out.txt"
    awk -v n="$answers" 'NR == FNR { cpu = ($1 + $2) * 1e6 / n; next } { print $(NF - 1), cpu }' "$out/client-time.txt" "$out/client-out.txt"
}

: >"$out/client.txt"; : >"$out/cli.txt"; : >"$out/window.txt"
for ((i = 1; i <= rounds; i++)); do
    client_rate >>"$out/client.txt"
    measure "$build/app/orvalis-check" --server "127.0.0.1:$port:10" "$nzb" >>"$out/cli.txt"
    QT_QPA_PLATFORM=offscreen measure "$build/bench/orvalis-bench-window" "$nzb" "$port" 10 >>"$out/window.txt"
done

median() { sort -g | sed -n "$(((rounds + 1) / 2))p"; }
# The tool's rate counts its whole run; the load of the NZB alone, subtracted, gives the check's.
load_seconds=$(for ((i = 1; i <= rounds; i++)); do
    /usr/bin/time -f '%e' -o "$out/time.txt" "$build/app/orvalis-check" --dump "$nzb" >/dev/null 2>&1; cat "$out/time.txt"
done | median)
client=$(cut -d' ' -f1 "$out/client.txt" | median)
client_cpu=$(cut -d' ' -f2 "$out/client.txt" | median)
for name in cli window; do
    rate=$(cut -d' ' -f1 "$out/$name.txt" | median)
    cpu=$(cut -d' ' -f2 "$out/$name.txt" | median)
    peak=$(cut -d' ' -f3 "$out/$name.txt" | sort -g | tail -1)
    awk -v n="$name" -v r="$rate" -v c="$cpu" -v p="$peak" -v l="$client" 'BEGIN {
        printf "%-7s %7.0f answers/s (%3.0f%% of the client), %5.2f us CPU per answer, peak %4.0f MB\n", n, r, 100 * r / l, c, p }'
done
awk -v r="$(cut -d' ' -f1 "$out/cli.txt" | median)" -v n="$answers" -v l="$load_seconds" -v c="$client" 'BEGIN {
    s = n / r - l; printf "cli     %7.0f answers/s in the check alone (%.2f s of load left out; %3.0f%% of the client)\n", n / s, l, 100 * n / s / c }'

printf 'client  %7.0f answers/s, %5.2f us CPU per answer (lockstep C client, 10 connections: the ceiling)\n' "$client" "$client_cpu"
