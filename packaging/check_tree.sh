#!/usr/bin/env bash
# Checks an installed Korvanel under one prefix: the files that should be there
# and no others, the installed batch tool's version and a run on the installed
# example survey, the manual pages (the batch tool's against its --help), and
# the window's desktop entry, icons and MIME type.
#
#   check_tree.sh ROOT VERSION WINDOW   ROOT: the prefix as installed (a DESTDIR's
#                                       usr/local, an unpacked package's usr);
#                                       WINDOW: 1 when the window is built, else 0
#   check_tree.sh --expected WINDOW     prints the paths expected under the prefix
set -euo pipefail

# The GIS module, loaded by the programs when a run reads a table.
gis_module=lib/korvanel/modules/libkorvanel-gis.so

# The paths under the prefix, sorted; those of the window only when it is built.
ExpectedFiles() {
    local window=$1
    {
        printf '%s\n' bin/korvanel-batch "$gis_module" share/doc/korvanel/changelog.gz \
            share/doc/korvanel/copyright share/korvanel/examples/survey.dat \
            share/man/man1/korvanel-batch.1.gz
        if [[ "$window" == 1 ]]; then
            printf '%s\n' bin/korvanel share/man/man1/korvanel.1.gz share/applications/korvanel.desktop \
                share/icons/hicolor/48x48/apps/korvanel.png \
                share/icons/hicolor/256x256/apps/korvanel.png \
                share/icons/hicolor/scalable/apps/korvanel.svg share/mime/packages/korvanel.xml
        fi
    } | LC_ALL=C sort
}

if [[ "${1:-}" == --expected ]]; then
    ExpectedFiles "$2"
    exit 0
fi

root=$1
version=$2
window=$3
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

Fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The files, and nothing else.
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
if [[ "$actual" != "$(ExpectedFiles "$window")" ]]; then
    Fail "the installed files differ from the expected ones:"
    diff <(ExpectedFiles "$window") <(echo "$actual") >&2 || true
fi

# The programs: they find every library they link, and carry no search path
# into a build folder.
programs=("$root/bin/korvanel-batch" "$root/$gis_module")
[[ "$window" == 1 ]] && programs+=("$root/bin/korvanel")
for program in "${programs[@]}"; do
    [[ "$program" == *.so || -x "$program" ]] || Fail "$program is not executable"
    if ldd "$program" | grep -q 'not found'; then
        Fail "$program misses libraries: $(ldd "$program" | grep 'not found')"
    fi
    if readelf -d "$program" | grep -Eq '\((RPATH|RUNPATH)\)'; then
        Fail "$program keeps a library search path: $(readelf -d "$program" | grep -E 'R(UN)?PATH')"
    fi
done

# The installed tool says the project's version and runs on the installed example.
batch=$root/bin/korvanel-batch
said=$("$batch" --version)
[[ "$said" == "korvanel-batch $version" ]] || Fail "--version says '$said', not 'korvanel-batch $version'"

survey=$root/share/korvanel/examples/survey.dat
stations=$(grep -c . "$survey" || true)
if ! "$batch" "$survey" -o "$work/survey_res.dat" --jobs 2 >"$work/summary.txt" 2>&1; then
    Fail "the run on the installed example survey failed:"
    cat "$work/summary.txt" >&2
else
    # The example's stations are about 300 m apart, so every station has a result
    # line and a companion row (each table has a header line); its deliberate
    # blunders are found. The companion table ends its lines with CR LF.
    lines=$(($(grep -c . "$work/survey_res.dat" || true) - 1))
    [[ "$lines" == "$stations" ]] || Fail "$lines result lines for $stations stations"
    rows=$(($(grep -c . "$work/survey_res.csv" || true) - 1))
    [[ "$rows" == "$stations" ]] || Fail "$rows companion rows for $stations stations"
    grep -q ',suspect,' "$work/survey_res.csv" || Fail "no suspect found in the example survey"
    # The same survey as a CSV table goes through the installed GIS module.
    awk 'BEGIN { print "easting,northing,station,elevation,bouguer" }
         NF == 5 && $1 + 0 == $1 { print $1 "," $2 "," $3 "," $4 "," $5 }' "$survey" >"$work/survey.csv"
    if ! "$batch" "$work/survey.csv" -o "$work/table_res.dat" --no-qc >"$work/table.txt" 2>&1; then
        Fail "the run on the example as a table failed: $(cat "$work/table.txt")"
    elif ! cmp -s "$work/table_res.dat" "$work/survey_res.dat"; then
        Fail "the example as a table gives another result than as a station file"
    fi
fi

# The manual pages render without warnings; the batch tool's names every option
# its --help names.
# A page as text, neither justified nor hyphenated, so words and options keep
# their shape; man's warnings go to man-warnings.txt.
Render() {
    MANWIDTH=80 man --warnings --nj --nh -E UTF-8 -l "$1" 2>"$work/man-warnings.txt" | col -b
}
pages=(korvanel-batch)
[[ "$window" == 1 ]] && pages+=(korvanel)
for page in "${pages[@]}"; do
    manual=$root/share/man/man1/$page.1.gz
    if ! gzip -t "$manual"; then
        Fail "$manual is not gzip data"
        continue
    fi
    rendered=$(Render "$manual")
    [[ -s "$work/man-warnings.txt" ]] && Fail "man warns on $page.1: $(cat "$work/man-warnings.txt")"
    grep -q "^ *$page - quality control" <<<"$rendered" || Fail "$page.1 has no NAME line"
    grep -q "$page $version" <<<"$rendered" || Fail "$page.1 does not show version $version"
done
rendered=$(Render "$root/share/man/man1/korvanel-batch.1.gz")
options=$("$batch" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[[ -n "$options" ]] || Fail "--help names no option"
for option in $options; do
    grep -qe "$option" <<<"$rendered" || Fail "the manual page lacks $option"
done

if [[ "$window" == 1 ]]; then
    desktop=$root/share/applications/korvanel.desktop
    # Its warnings and hints count too: the entry has none today.
    if ! said=$(desktop-file-validate "$desktop" 2>&1) || [[ -n "$said" ]]; then
        Fail "desktop-file-validate: $said"
    fi
    exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [[ -x "$root/bin/$exec_program" ]] || Fail "Exec=$exec_program is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    for size in 48 256; do
        png=$root/share/icons/hicolor/${size}x${size}/apps/$icon.png
        file "$png" | grep -q "PNG image data, $size x $size" || Fail "$png: $(file -b "$png")"
    done
    # Every MIME type the entry lists is one the desktop knows: the system's
    # shared database, or the one this installation adds (built here from a copy).
    cp -r "$root/share/mime" "$work/mime"
    update-mime-database "$work/mime" >"$work/mime.log" 2>&1 || Fail "update-mime-database: $(cat "$work/mime.log")"
    known=$(cat /usr/share/mime/types "$work/mime/types")
    for type in $(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' '); do
        grep -qxF "$type" <<<"$known" || Fail "MimeType $type is not a known type"
    done
    grep -qxF 'application/geopackage+sqlite3:*.gpkg' <(cut -d: -f2- "$work/mime/globs2") ||
        Fail "the installed MIME type does not claim *.gpkg"
fi

if ((failures > 0)); then
    echo "$failures check(s) of $root failed" >&2
    exit 1
fi
echo "installed tree $root: all checks passed"
