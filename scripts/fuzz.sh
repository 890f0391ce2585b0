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
fixed=0
seconds=60
if [ "${1:-}" = "--fixed" ]; then
    fixed=1
elif [ -n "${1:-}" ]; then
    seconds=$1
fi
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVANEL_FUZZ=ON -DBUILD_WINDOW=OFF >/dev/null
targets=(fuzz_line_parser fuzz_number fuzz_station_file fuzz_make_grid)
cmake --build "$build" --target "${targets[@]}"
mkdir -p "$build/findings"

# Runs per target in the fixed mode: about 40 seconds each on a 2-core
# development machine. The time limit only guards a much slower machine.
declare -A fixed_runs=(
    [fuzz_line_parser]=4000000
    [fuzz_number]=20000000
    [fuzz_station_file]=50000
    [fuzz_make_grid]=400000
)

no_aslr=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
    no_aslr=(setarch "$(uname -m)" -R)
fi

status=0
for target in "${targets[@]}"; do
    seeds=fuzz/seeds/$target
    seed_args=()
    [ -d "$seeds" ] && seed_args=("$seeds")
    common=(-max_len=4096 -timeout=20 -rss_limit_mb=2048
        -artifact_prefix="$build/findings/$target-" -print_final_stats=1)
    if [ "$fixed" = 1 ]; then
        corpus="$build/fixed-corpus/$target"
        rm -rf "$corpus"
        mkdir -p "$corpus"
        echo "== $target: seeds replayed, then ${fixed_runs[$target]} runs from seed 1"
        # The comparison tables that steer mutations are keyed by code
        # address: with address randomisation off, a seed gives one sequence.
        run=("${no_aslr[@]}" "$build/fuzz/$target" "${common[@]}" -seed=1
            -runs="${fixed_runs[$target]}" -reload=0 -max_total_time=300
            "$corpus" "${seed_args[@]}")
    else
        corpus="$build/corpus/$target"
        mkdir -p "$corpus"
        echo "== $target: ${seconds}s"
        run=("$build/fuzz/$target" "${common[@]}" -max_total_time="$seconds"
            "$corpus" "${seed_args[@]}")
    fi
    if ! "${run[@]}" 2>"$build/$target.log"; then
        echo "$target found a failure; see $build/$target.log and $build/findings/" >&2
        tail -n 40 "$build/$target.log" >&2
        status=1
    else
        grep -E 'stat::number_of_executed_units|cov:' "$build/$target.log" | tail -n 2
    fi
done
exit $status
