#!/usr/bin/env bash
# Long runs of korvanel-batch: peak memory (Linux peak RSS) of whole runs against
# runs that only load the point store, for growing surveys. The difference, the
# memory of the estimation itself, must stay flat in the number of stations.
# Usage: bench/long_run.sh BUILD_DIR [SIZE ...]   (default 100000 300000 1000000)
set -euo pipefail
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 300000 1000000)
tool=$build/cli/korvanel-batch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

peak_kb() {  # peak_kb COMMAND...: runs it, prints its peak RSS in KiB and its seconds
    /usr/bin/env time -f '%M %e' -o "$work/time" "$@" >/dev/null 2>"$work/err" || true
    tail -n 1 "$work/time"  # the line after a "Command exited ..." note
}

printf '%10s %14s %14s %14s %10s\n' stations "load-only MiB" "whole-run MiB" "estimation MiB" seconds
for size in "${sizes[@]}"; do
    "$build/examples/make_survey" "$size" 300 1 >"$work/s.dat"
    # A result path that cannot be opened ends the run right after the load.
    read -r load_kb _ < <(peak_kb "$tool" "$work/s.dat" -o "$work/missing/r.dat")
    read -r run_kb seconds < <(peak_kb "$tool" "$work/s.dat" -o "$work/r.dat")
    lines=$(($(wc -l <"$work/r.dat") - 1))
    [ "$lines" -eq "$size" ] || echo "warning: $lines of $size stations written" >&2
    awk -v n="$size" -v l="$load_kb" -v r="$run_kb" -v s="$seconds" \
        'BEGIN { printf "%10d %14.1f %14.1f %14.1f %10.1f\n", n, l / 1024, r / 1024, (r - l) / 1024, s }'
done
