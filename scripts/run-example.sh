#!/usr/bin/env bash
# The main job: the batch tool on the shipped example survey, then where the
# result went and its first lines.
set -euo pipefail
build=${1:-build}
input=examples/survey.dat
output=${build}/survey_res.dat
"${build}/cli/korvanel-batch" "$input" -o "$output"
echo
echo "First lines of $output:"
head -n 6 "$output"
