#!/usr/bin/env bash
# Per-station speed and per-job memory of korvanel-batch against the tool as it
# stood before the speed work (commit b1958c0), side by side in one run on the
# synthetic surveys (examples/make_survey COUNT 300 7): wall and CPU seconds per
# station, peak resident memory, and whether the result files of the two tools
# are byte for byte the same. Figures are medians of the runs made; old and new
# alternate, so a machine whose speed drifts affects both alike.
# Usage: bench/speed_bench.sh [BUILD_DIR] [--runs N] [--skip-large]
#   BUILD_DIR (default build) holds the new tool and make_survey; the old tool
#   is built from its commit in BUILD_DIR/speed-bench/ (kept for later runs).
set -euo pipefail
build=build
runs=5
large=1
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=$2; shift 2 ;;
    --skip-large) large=0; shift ;;
    -h | --help) sed -n '2,10p' "$0"; exit 0 ;;
    *) build=$1; shift ;;
    esac
done
baseline=b1958c0
repo=$(cd "$(dirname "$0")/.." && pwd)
new=$build/cli/korvanel-batch
survey=$build/examples/make_survey
scratch=$build/speed-bench
for tool in "$new" "$survey"; do
    [ -x "$tool" ] || { echo "speed_bench: $tool missing (make bench first)" >&2; exit 1; }
done
mkdir -p "$scratch"
work=$(mktemp -d "$scratch/run.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The old tool, from its commit's own sources.
old=$scratch/old/build/cli/korvanel-batch
if [ ! -x "$old" ]; then
    echo "building korvanel-batch of $baseline in $scratch/old ..." >&2
    rm -rf "$scratch/old"
    mkdir -p "$scratch/old/src"
    git -C "$repo" archive "$baseline" | tar -x -C "$scratch/old/src"
    cmake -S "$scratch/old/src" -B "$scratch/old/build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_WINDOW=OFF >"$scratch/old/configure.log"
    cmake --build "$scratch/old/build" --target korvanel-batch >"$scratch/old/build.log"
fi
# The old tool's run is what the new one does without the quality-control
# stage, once it has one.
new_args=()
if "$new" --help 2>&1 | grep -q -- '--no-qc'; then
    new_args=(--no-qc)
fi

# Runs TOOL on STATIONS with JOBS jobs into OUT; prints "wall cpu peak_kib".
run() {
    local tool=$1 stations=$2 jobs=$3 out=$4
    shift 4
    /usr/bin/env time -f '%e %U %S %M' -o "$work/time" \
        "$tool" "$stations" -o "$out" -j "$jobs" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; return 1; }
    awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$work/time"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo "old: korvanel-batch of $baseline; new: $new ${new_args[*]}"
printf '%9s %4s %4s | %9s %9s | %9s %9s | %6s %6s | %8s %8s | %s\n' stations jobs runs \
    "old wall" "new wall" "old cpu" "new cpu" "wall" "cpu" "old peak" "new peak" "result"
printf '%9s %4s %4s | %19s | %19s | %13s | %17s |\n' "" "" "" "ms/station" "ms/station" "new/old" "MiB"

# One survey size and job count: `count` runs of each tool, alternating.
measure() {
    local stations=$1 jobs=$2 count=$3 size
    size=$(wc -l <"$stations")
    local -a ow=() nw=() oc=() nc=() op=() np=()
    local same=identical k
    for ((k = 0; k < count; k++)); do
        read -r w c p < <(run "$old" "$stations" "$jobs" "$work/old.dat")
        ow+=("$w"); oc+=("$c"); op+=("$p")
        read -r w c p < <(run "$new" "$stations" "$jobs" "$work/new.dat" "${new_args[@]}")
        nw+=("$w"); nc+=("$c"); np+=("$p")
        cmp -s "$work/old.dat" "$work/new.dat" || same=DIFFERENT
    done
    local mow mnw moc mnc mop mnp
    mow=$(printf '%s\n' "${ow[@]}" | median); mnw=$(printf '%s\n' "${nw[@]}" | median)
    moc=$(printf '%s\n' "${oc[@]}" | median); mnc=$(printf '%s\n' "${nc[@]}" | median)
    mop=$(printf '%s\n' "${op[@]}" | median); mnp=$(printf '%s\n' "${np[@]}" | median)
    awk -v n="$size" -v j="$jobs" -v r="$count" -v ow="$mow" -v nw="$mnw" -v oc="$moc" \
        -v nc="$mnc" -v op="$mop" -v np="$mnp" -v same="$same" 'BEGIN {
        printf "%9d %4d %4d | %9.4f %9.4f | %9.4f %9.4f | %6.3f %6.3f | %8.1f %8.1f | %s\n",
            n, j, r, 1000 * ow / n, 1000 * nw / n, 1000 * oc / n, 1000 * nc / n,
            nw / ow, nc / oc, op / 1024, np / 1024, same }'
    [ "$same" = identical ]
}
# The new tool alone (its figures, no comparison).
measure_new() {
    local stations=$1 jobs=$2 size w c p
    size=$(wc -l <"$stations")
    read -r w c p < <(run "$new" "$stations" "$jobs" "$work/new.dat" "${new_args[@]}")
    awk -v n="$size" -v j="$jobs" -v w="$w" -v c="$c" -v p="$p" 'BEGIN {
        printf "%9d %4d %4d | %9s %9.4f | %9s %9.4f | %6s %6s | %8s %8.1f | new only\n",
            n, j, 1, "-", 1000 * w / n, "-", 1000 * c / n, "-", "-", "-", p / 1024 }'
}

# The run users get, with quality control (sigma, suspects, the companion
# table), against the same tool without it and against the old tool: `count`
# runs of each, in turn.
measure_qc() {
    local stations=$1 jobs=$2 count=$3 size k
    size=$(wc -l <"$stations")
    local -a ow=() qw=() nw=() oc=() qc=() nc=() qp=()
    local same=identical
    for ((k = 0; k < count; k++)); do
        read -r w c p < <(run "$old" "$stations" "$jobs" "$work/old.dat")
        ow+=("$w"); oc+=("$c")
        read -r w c p < <(run "$new" "$stations" "$jobs" "$work/qc.dat")
        qw+=("$w"); qc+=("$c"); qp+=("$p")
        read -r w c p < <(run "$new" "$stations" "$jobs" "$work/new.dat" --no-qc)
        nw+=("$w"); nc+=("$c")
        cmp -s "$work/old.dat" "$work/qc.dat" || same=DIFFERENT
    done
    local mow mqw mnw moc mqc mnc mqp
    mow=$(printf '%s\n' "${ow[@]}" | median); mqw=$(printf '%s\n' "${qw[@]}" | median)
    mnw=$(printf '%s\n' "${nw[@]}" | median); moc=$(printf '%s\n' "${oc[@]}" | median)
    mqc=$(printf '%s\n' "${qc[@]}" | median); mnc=$(printf '%s\n' "${nc[@]}" | median)
    mqp=$(printf '%s\n' "${qp[@]}" | median)
    awk -v n="$size" -v j="$jobs" -v r="$count" -v ow="$mow" -v qw="$mqw" -v nw="$mnw" \
        -v oc="$moc" -v qc="$mqc" -v nc="$mnc" -v qp="$mqp" -v same="$same" 'BEGIN {
        printf "%9d %4d %4d | %9.4f %9.4f %9.4f | %6.3f %6.3f | %6.3f %6.3f | %8.1f | %s\n",
            n, j, r, 1000 * oc / n, 1000 * qc / n, 1000 * nc / n, qc / nc, qw / nw,
            qc / oc, qw / ow, qp / 1024, same }'
    [ "$same" = identical ]
}

status=0
"$survey" 10000 300 7 >"$work/s10k.dat"
"$survey" 100000 300 7 >"$work/s100k.dat"
for jobs in 1 2 3; do
    measure "$work/s10k.dat" "$jobs" "$runs" || status=1
done
measure "$work/s100k.dat" 1 $(((runs + 1) / 2)) || status=1
measure "$work/s100k.dat" 2 $(((runs + 1) / 2)) || status=1
if [ "$large" -eq 1 ]; then
    "$survey" 1000000 300 7 >"$work/s1m.dat"
    measure "$work/s1m.dat" 2 1 || status=1
    measure_new "$work/s1m.dat" 1
    measure_new "$work/s1m.dat" 3
fi
if [ ${#new_args[@]} -gt 0 ]; then
    echo
    echo "the default run (quality control) against --no-qc and the old tool:"
    printf '%9s %4s %4s | %9s %9s %9s | %13s | %13s | %8s | %s\n' stations jobs runs \
        "old cpu" "qc cpu" "no-qc cpu" "qc/no-qc" "qc/old" "qc peak" "result"
    printf '%9s %4s %4s | %29s | %13s | %13s | %8s |\n' "" "" "" "ms/station" \
        "cpu    wall" "cpu    wall" "MiB"
    measure_qc "$work/s10k.dat" 1 "$runs" || status=1
    measure_qc "$work/s10k.dat" 2 "$runs" || status=1
    if [ "$large" -eq 1 ]; then
        measure_qc "$work/s1m.dat" 2 1 || status=1
    fi
fi
echo "machine: load $(cut -d' ' -f1-3 /proc/loadavg) at the end"
[ "$status" -eq 0 ] || echo "speed_bench: the result files of old and new differ" >&2
exit "$status"
