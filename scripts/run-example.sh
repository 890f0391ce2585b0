#!/usr/bin/env bash
# The main job: runs the batch tool on the shipped example survey.
set -euo pipefail
build=${1:-build}
echo "The batch tool is not built yet: 'make test' builds and tests the gridder." >&2
