#!/usr/bin/env bash
# Runs the fuzz targets of a build made with -DORVALIS_FUZZ=ON, two at a time.
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
# Each starts from its seeds in fuzz/corpus/, its past findings in fuzz/regressions/ and, for
# the NZB loader, the real NZBs in ../shared/corpus/nzb when present. New inputs go to
# $FUZZ_WORK/TARGET (a temporary folder by default), so the seeds in the repository stay small;
# a crashing input is written to $FUZZ_WORK/TARGET-crash-* and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?build folder}
seconds=${2:?seconds per target}
shift 2
targets=("$@")
((${#targets[@]})) || targets=(nzb_loader subject settings_reader reply_reader nntp_dialogue gzip_reader par2_reader)
work=${FUZZ_WORK:-$(mktemp -d)}

run_target() {
    local target=$1 extra=()
    mkdir -p "$work/$target"
    case $target in
    nzb_loader | settings_reader) extra=(-dict=fuzz/xml.dict -max_len=16384) ;;
    reply_reader) extra=(-dict=fuzz/nntp.dict) ;;
    # Qt's lazily built caches make every run look like a leak, and the scan after each run
    # took nine tenths of the time; leaks are found by the sanitizer build's test run instead.
    nntp_dialogue) extra=(-dict=fuzz/nntp.dict -detect_leaks=0) ;;
    esac
    local seeds=(fuzz/corpus/"$target" fuzz/regressions/"$target")
    if [ "$target" = nzb_loader ] && [ -d ../shared/corpus/nzb ]; then
        seeds+=(../shared/corpus/nzb)
    fi
    if "$build/fuzz/fuzz_$target" "${extra[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 \
        -print_final_stats=1 -artifact_prefix="$work/$target-" "$work/$target" "${seeds[@]}" \
        >"$work/$target.log" 2>&1; then
        echo "fuzz_$target: $(grep -E '^stat::number_of_executed_units' "$work/$target.log" | awk '{print $2}') runs in ${seconds} s, no finding"
    else
        echo "fuzz_$target: FINDING, see $work/$target.log" >&2
        tail -40 "$work/$target.log" >&2
        return 1
    fi
}
export -f run_target
export build seconds work
printf '%s\n' "${targets[@]}" | xargs -P2 -I{} bash -c 'run_target {}'
