#!/usr/bin/env bash
# Installs a build into a temporary DESTDIR, as 'make install DESTDIR=...' does,
# and checks what landed there: everything under the prefix, nothing beside it.
#
#   install_test.sh BUILD VERSION WINDOW   WINDOW: 1 when the window is built, else 0
set -euo pipefail
build=$1
version=$2
window=$3
prefix=/usr/local
here=$(cd "$(dirname "$0")" && pwd)
destdir=$(mktemp -d)
trap 'rm -rf "$destdir"' EXIT

DESTDIR=$destdir cmake --install "$build" --prefix "$prefix" >/dev/null
outside=$(cd "$destdir" && find . -type f -not -path ".$prefix/*")
if [[ -n "$outside" ]]; then
    echo "FAIL: installed outside $prefix: $outside" >&2
    exit 1
fi
bash "$here/check_tree.sh" "$destdir$prefix" "$version" "$window"
