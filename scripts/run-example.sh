#!/usr/bin/env bash
# The main job: where a display is available, the window program (choose
# examples/survey.dat with the "..." button and press Calc); otherwise the batch
# tool on the shipped example survey, then where the result went and its first lines.
set -euo pipefail
build=${1:-build}
input=examples/survey.dat
output=${build}/survey_res.dat
window=${build}/gui/korvanel
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -x "$window" ]]; then
    echo "Opening the window; the example survey is $input."
    exec "$window"
fi
"${build}/cli/korvanel-batch" "$input" -o "$output"
echo
echo "First lines of $output:"
head -n 6 "$output"
