#!/usr/bin/env bash
# Long runs of korvanel-batch and their memory (Linux RSS). For each survey size:
# the peak of a run that only loads the point store, the peak of the whole run,
# and the resident size while the second pass goes on, sampled when a quarter,
# half, three quarters and all of the stations are written. Flat samples mean
# the estimation itself holds no memory per station; what the whole run holds
# beyond the load is the shared window index and each job's scratch. The
# partial result is looked for under the result's name and any name that
# starts with it (a temporary file renamed at the end).
# Usage: bench/long_run.sh BUILD_DIR [SIZE ...]   (default 100000 1000000)
set -euo pipefail
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
tool=$build/cli/korvanel-batch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mib() { awk -v kb="$1" 'BEGIN { printf "%.1f", kb / 1024 }'; }

printf '%10s %10s %10s %10s %10s %10s %10s %9s\n' stations "load peak" "run peak" "RSS 25%" "RSS 50%" \
    "RSS 75%" "RSS 100%" seconds
for size in "${sizes[@]}"; do
    "$build/examples/make_survey" "$size" 300 1 >"$work/s.dat"
    # A result path that cannot be opened ends the run right after the load.
    /usr/bin/env time -f '%M' -o "$work/load" "$tool" "$work/s.dat" -o "$work/missing/r.dat" \
        >/dev/null 2>&1 || true
    load_kb=$(tail -n 1 "$work/load")

    start=$(date +%s.%N)
    /usr/bin/env time -f '%M' -o "$work/run" "$tool" "$work/s.dat" -o "$work/r.dat" \
        >/dev/null 2>"$work/err" &
    timer=$!
    samples=()
    next=1
    while kill -0 "$timer" 2>/dev/null; do
        pid=$(pgrep -P "$timer" korvanel-batch || true)
        partial=$(ls -t "$work"/r.dat* 2>/dev/null | head -n 1 || true)
        if [ -n "$pid" ] && [ -n "$partial" ]; then
            written=$(($(wc -l <"$partial" 2>/dev/null || echo 1) - 1))
            if [ "$next" -le 4 ] && [ "$written" -ge $((size * next / 4 - size / 50)) ]; then
                rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
                samples+=("$(mib "$rss")")
                next=$((next + 1))
            fi
        fi
        sleep 0.2
    done
    wait "$timer"
    seconds=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
    run_kb=$(tail -n 1 "$work/run")
    while [ ${#samples[@]} -lt 4 ]; do samples+=("-"); done
    lines=$(($(wc -l <"$work/r.dat") - 1))
    [ "$lines" -eq "$size" ] || echo "warning: $lines of $size stations written" >&2
    printf '%10d %10s %10s %10s %10s %10s %10s %9s\n' "$size" "$(mib "$load_kb")" "$(mib "$run_kb")" \
        "${samples[@]}" "$seconds"
done
echo "(MiB; jobs: the tool's default, one per core)"
