#!/usr/bin/env bash
# The installation and the Debian package as a user meets them: 'make install'
# with another PREFIX into a DESTDIR, then 'make package' and the package's name,
# fields, dependencies and contents, its programs run from the unpacked package,
# and lintian, whose errors fail the check (its warnings are shown).
#
#   packaging/package_test.sh [BUILD]   BUILD: the build folder (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

Fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The package of the library file a program links, as dpkg knows it; on a merged
# /usr the loader may name /lib where the package lists /usr/lib.
OwnerOf() {
    local path=$1 candidate
    for candidate in "$path" "/usr$path" "$(realpath "$path")"; do
        dpkg-query -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1 && return 0
    done
    return 1
}

cache=$build/CMakeCache.txt
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$cache")
window=0
grep -q '^BUILD_WINDOW:BOOL=ON$' "$cache" && window=1

# make install under another prefix, staged.
prefix=/opt/korvanel
make install BUILD="$build" PREFIX="$prefix" DESTDIR="$work/stage" >"$work/install.log"
outside=$(cd "$work/stage" && find . -type f -not -path ".$prefix/*")
[[ -z "$outside" ]] || Fail "make install wrote outside $prefix: $outside"
bash packaging/check_tree.sh "$work/stage$prefix" "$version" "$window" || Fail "make install"

# make package: the name and fields carry the project's one version.
make package BUILD="$build" >"$work/package.log" || {
    cat "$work/package.log" >&2
    exit 1
}
arch=$(dpkg --print-architecture)
deb=$build/korvanel_${version}_${arch}.deb
if [[ ! -f "$deb" ]]; then
    echo "FAIL: no $deb; the build folder has: $(ls "$build"/*.deb 2>/dev/null)" >&2
    exit 1
fi
echo "package $deb:"
dpkg-deb --info "$deb"
Field() { dpkg-deb --field "$deb" "$1"; }
[[ "$(Field Package)" == korvanel ]] || Fail "Package: $(Field Package)"
[[ "$(Field Version)" == "$version" ]] || Fail "Version: $(Field Version), not $version"
[[ "$(Field Architecture)" == "$arch" ]] || Fail "Architecture: $(Field Architecture)"
[[ "$(Field Section)" == science ]] || Fail "Section: $(Field Section)"
(($(Field Description | wc -l) > 2)) || Fail "the package has no long description"

# The contents: the expected files under /usr, owned by root.
dpkg-deb --contents "$deb" >"$work/contents.txt"
files=$(awk '$1 !~ /^d/ { print $6 }' "$work/contents.txt" | sed 's|^\./usr/||' | LC_ALL=C sort)
if [[ "$files" != "$(bash packaging/check_tree.sh --expected "$window")" ]]; then
    Fail "the package's files differ from the expected ones:"
    diff <(bash packaging/check_tree.sh --expected "$window") <(echo "$files") >&2 || true
fi
awk '$2 != "root/root" { print "FAIL: not owned by root: " $0; bad = 1 } END { exit bad }' \
    "$work/contents.txt" >&2 || Fail "ownership"

# The unpacked package: its programs run, and it depends on the package of
# every library they link directly.
dpkg-deb --extract "$deb" "$work/root"
bash packaging/check_tree.sh "$work/root/usr" "$version" "$window" || Fail "the unpacked package"
depends=$(Field Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//')
for program in "$work"/root/usr/bin/* "$work"/root/usr/lib/korvanel/modules/*.so; do
    for library in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        # "name => path (address)", or "path (address)" for the loader itself.
        path=$(ldd "$program" | awk -v name="$library" '$1 == name { print $3 }
            $1 ~ ("/" name "$") { print $1 }')
        owner=$(OwnerOf "$path") || {
            Fail "no package owns $library ($path)"
            continue
        }
        grep -qxF "$owner" <<<"$depends" || Fail "$(basename "$program") links $library of $owner, not in Depends"
    done
done

# The package manager would install it: its dependencies resolve here.
apt-get --simulate install "$(realpath "$deb")" >"$work/apt.log" 2>&1 || Fail "apt cannot install $deb: $(cat "$work/apt.log")"

# lintian: errors fail, everything it says is shown.
echo "lintian $deb:"
lintian --display-info --pedantic --fail-on error "$deb" || Fail "lintian reports errors"

if ((failures > 0)); then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "make install and make package: all checks passed"
