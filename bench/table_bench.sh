#!/usr/bin/env bash
# A survey as a CSV table against the same survey as a station file: peak
# resident memory and wall time of whole korvanel-batch runs (GNU time -v),
# the table's figures as ratios to the station file's measured in the same
# loop, run after run in turn, and whether the result files are byte for
# byte the same. Also the table's preparation alone (a run refused right
# after it by a cell size of 0): what reading the table costs on its own.
# The survey: examples/make_survey COUNT 300 7; the CSV has a header in
# another order than the station file's (Station,CBA [mGal],Elevation,
# Northing,Easting), converted with awk.
# Usage: bench/table_bench.sh BUILD_DIR [COUNT [RUNS [JOBS]]]
#        (default 1000000 stations, 3 runs, 2 jobs)
set -euo pipefail
build=${1:-build}
count=${2:-1000000}
runs=${3:-3}
jobs=${4:-2}
tool=$build/cli/korvanel-batch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/examples/make_survey" "$count" 300 7 >"$work/survey.dat"
awk 'BEGIN { print "Station,CBA [mGal],Elevation,Northing,Easting" }
     { printf "%s,%s,%s,%s,%s\n", $3, $5, $4, $2, $1 }' "$work/survey.dat" >"$work/survey.csv"
echo "survey: $count stations; station file $(stat -c %s "$work/survey.dat") bytes," \
    "CSV $(stat -c %s "$work/survey.csv") bytes; $jobs jobs, $runs runs each"

# measure NAME FILE ARGS...: appends "peak_kib wall_s cpu_s" to $work/NAME
# and says them
measure() {
    local name=$1 file=$2
    shift 2
    /usr/bin/time -v -o "$work/time" "$tool" "$file" "$@" >/dev/null 2>"$work/err" || true
    local figures
    figures=$(awk -F': ' '/Maximum resident set size/ { peak = $2 }
        /User time|System time/ { cpu += $2 }
        /Elapsed \(wall clock\)/ { n = split($2, t, ":");
            for (i = 1; i <= n; i++) wall = wall * 60 + t[i] }
        END { print peak, wall, cpu }' "$work/time")
    echo "$figures" >>"$work/$name"
    echo "  $name: peak KiB, wall s, CPU s: $figures"
}

for ((r = 1; r <= runs; r++)); do
    measure dat "$work/survey.dat" -o "$work/dat_res.dat" -j "$jobs"
    measure csv "$work/survey.csv" -o "$work/csv_res.dat" -j "$jobs"
    measure prepare "$work/survey.csv" -o "$work/prepare_res.dat" --cell-size 0
    same=identical
    cmp -s "$work/dat_res.dat" "$work/csv_res.dat" || same=DIFFERENT
    echo "run $r: result files $same"
done

median() {  # median COLUMN FILE
    sort -n -k"$1","$1" "$2" | awk -v c="$1" '{ v[NR] = $c } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
figures() {  # figures NAME: the medians of its peak, wall and CPU
    echo "$(median 1 "$work/$1") $(median 2 "$work/$1") $(median 3 "$work/$1")"
}
{
    echo "dat $(figures dat)"
    echo "csv $(figures csv)"
    echo "prepare $(figures prepare)"
} | awk '{ peak[$1] = $2; wall[$1] = $3; cpu[$1] = $4 } END {
    printf "%-26s %10s %8s %8s\n", "median of the runs", "peak MiB", "wall s", "CPU s"
    printf "%-26s %10.1f %8.1f %8.1f\n", "station file", peak["dat"] / 1024, wall["dat"], cpu["dat"]
    printf "%-26s %10.1f %8.1f %8.1f\n", "CSV table", peak["csv"] / 1024, wall["csv"], cpu["csv"]
    printf "%-26s %10.1f %8.1f %8.1f\n", "CSV table, reading only", peak["prepare"] / 1024,
        wall["prepare"], cpu["prepare"]
    printf "%-26s %10.2f %8.2f %8.2f\n", "CSV / station file", peak["csv"] / peak["dat"],
        wall["csv"] / wall["dat"], cpu["csv"] / cpu["dat"]
}'
