#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each on its seed corpus.
#
#   scripts/fuzz.sh [SECONDS]   explore: random seed, SECONDS (default 60) per
#                               target, the corpus kept in build-fuzz/corpus/
#   scripts/fuzz.sh --fixed     the CI's run: every seed and regression input
#                               replayed, then a fixed seed and a fixed number
#                               of runs per target from an empty corpus, so
#                               every machine tries the same inputs and a
#                               pass here is a pass there
#
# A crash leaves its input in build-fuzz/findings/ and fails the script; copy
# it into fuzz/seeds/<target>/ as a regression case once it is mended.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
fixed=0
seconds=60
if [ "${1:-}" = "--fixed" ]; then
    fixed=1
elif [ -n "${1:-}" ]; then
    seconds=$1
fi
findings="$repo/build-fuzz/findings"
mkdir -p "$findings"

if [ "$fixed" = 1 ]; then
    # The mutations libFuzzer picks depend on code and data addresses, which
    # depend on the paths compiled into the program and on the environment's
    # size. So the fixed run builds a copy of the sources at one place and
    # runs with a fixed environment and address randomisation off: the same
    # sources then give the same program and the same inputs on any machine.
    root=/tmp/korvanel-fuzz-fixed
    rm -rf "$root/src" "$root/findings"
    mkdir -p "$root/src"
    tar -C "$repo" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$root/src" -xf -
    src="$root/src"
    build="$root/build"
else
    src="$repo"
    build="$repo/build-fuzz"
fi
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVANEL_FUZZ=ON -DBUILD_WINDOW=OFF >/dev/null
targets=(fuzz_line_parser fuzz_number fuzz_station_file fuzz_make_grid fuzz_table_row)
cmake --build "$build" --target "${targets[@]}"

# Runs per target in the fixed mode: under a minute and a half each on a
# 2-core development machine, so that CI stays well under twenty minutes
# (longer exploration is 'make fuzz'). The time limit only guards a much
# slower machine.
declare -A fixed_runs=(
    [fuzz_line_parser]=2000000
    [fuzz_number]=10000000
    [fuzz_station_file]=20000
    [fuzz_make_grid]=200000
    [fuzz_table_row]=500000
)

fixed_start=()
if [ "$fixed" = 1 ]; then
    fixed_start=(env -i PATH=/usr/bin:/bin)
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        fixed_start+=(setarch "$(uname -m)" -R)
    else
        echo "address randomisation cannot be turned off here: inputs will differ" >&2
    fi
fi

status=0
for target in "${targets[@]}"; do
    seeds=$src/fuzz/seeds/$target
    seed_args=()
    [ -d "$seeds" ] && seed_args=("$seeds")
    # In the fixed mode every path on the command line is fixed too.
    artifacts=$findings
    [ "$fixed" = 1 ] && artifacts="$root/findings"
    mkdir -p "$artifacts"
    common=(-max_len=4096 -timeout=20 -rss_limit_mb=2048
        -artifact_prefix="$artifacts/$target-" -print_final_stats=1)
    log="$repo/build-fuzz/$target.log"
    if [ "$fixed" = 1 ]; then
        corpus="$root/corpus/$target"
        rm -rf "$corpus"
        mkdir -p "$corpus"
        echo "== $target: seeds replayed, then ${fixed_runs[$target]} runs from seed 1"
        run=("${fixed_start[@]}" "$build/fuzz/$target" "${common[@]}" -seed=1
            -runs="${fixed_runs[$target]}" -reload=0 -max_total_time=300
            "$corpus" "${seed_args[@]}")
    else
        corpus="$build/corpus/$target"
        mkdir -p "$corpus"
        echo "== $target: ${seconds}s"
        run=("$build/fuzz/$target" "${common[@]}" -max_total_time="$seconds"
            "$corpus" "${seed_args[@]}")
    fi
    if ! "${run[@]}" 2>"$log"; then
        [ "$artifacts" != "$findings" ] && cp "$artifacts/$target-"* "$findings/" 2>/dev/null
        echo "$target found a failure; see $log and $findings/" >&2
        tail -n 40 "$log" >&2
        status=1
    else
        grep -E 'stat::number_of_executed_units|cov:' "$log" | tail -n 2
    fi
done
exit $status
