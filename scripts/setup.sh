#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests, the benchmarks, the
# fuzzers and the Debian package need. Idempotent: it installs only what is
# missing, and does nothing (not even 'apt-get update') when everything is present.
set -euo pipefail

packages=(
    g++ cmake ninja-build make pkg-config
    libsqlite3-dev libgtest-dev libgmock-dev libcli11-dev libbenchmark-dev
    qt6-base-dev qt6-svg-dev libgl-dev fonts-wine fonts-dejavu-core
    libgdal-dev libproj-dev nlohmann-json3-dev
    clang libclang-rt-14-dev
    locales time
    help2man librsvg2-bin gzip desktop-file-utils dpkg-dev file lintian
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$package")
    fi
done

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi

# A comma-decimal locale, so the reader and writer tests also run under one.
ensure_comma_locale() {
    if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
        echo "setup: generating the de_DE.UTF-8 locale" >&2
        "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "setup: no de_DE.UTF-8 locale" >&2
    fi
}

if ((${#missing[@]} == 0)); then
    ensure_comma_locale
    exit 0
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
ensure_comma_locale
