#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each for SECONDS (default 60) on its seed corpus.
# A crash leaves its input in build-fuzz/findings/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVANEL_FUZZ=ON -DBUILD_WINDOW=OFF >/dev/null
cmake --build "$build" --target fuzz_line_parser fuzz_number fuzz_station_file fuzz_make_grid
mkdir -p "$build/findings"
status=0
for target in fuzz_line_parser fuzz_number fuzz_station_file fuzz_make_grid; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    seeds=fuzz/seeds/$target
    echo "== $target: ${seconds}s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=20 \
        -rss_limit_mb=2048 -artifact_prefix="$build/findings/$target-" -print_final_stats=1 \
        "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) 2>"$build/$target.log"; then
        echo "$target found a failure; see $build/$target.log and $build/findings/" >&2
        tail -n 40 "$build/$target.log" >&2
        status=1
    else
        grep -E 'stat::number_of_executed_units|cov:' "$build/$target.log" | tail -n 2
    fi
done
exit $status
