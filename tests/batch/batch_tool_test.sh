#!/usr/bin/env bash
# korvanel-batch end to end: what a user sees for good and bad runs.
# Usage: batch_tool_test.sh KORVANEL_BATCH MAKE_SURVEY
set -u
# Numbers with a point, whatever the caller's locale; the locale's own separator
# is tried on purpose below.
export LC_ALL=C.UTF-8
tool=$1
make_survey=$2
. "$(dirname "$0")/checks.sh"

run() {  # run ARGS...: sets status, out, err
    "$tool" "$@" >"$work/out" 2>"$work/err" </dev/null
    status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

"$make_survey" 200 300 11 37 >"$work/survey.xyz"

run
check "no arguments is a usage error" [ "$status" -eq 2 ]
run "$work/survey.xyz" --min-points
check "option without value is a usage error" [ "$status" -eq 2 ]

run "$work/survey.xyz"
check "normal run succeeds" [ "$status" -eq 0 ]
check "result proposed beside the input" [ -f "$work/survey_res.dat" ]
check "result has header and 200 lines" [ "$(wc -l <"$work/survey_res.dat")" -eq 201 ]
check "summary counts stations" grep -q "Stations read: 200, written: 200" "$work/out"
check "summary names largest r2" grep -q "largest |r2|" "$work/out"
check "says where the result went" grep -q "survey_res.dat" "$work/out"
# The summary's figures from the file's own r2 column (7), rounded as written.
expected_r2=$(awk 'NR > 1 { n++; s += $7; q += $7 * $7; a = $7 < 0 ? -$7 : $7;
    if (a > m) { m = a; name = $3 } }
    END { printf "r2 over %d stations: mean %.3f mGal, RMS %.3f mGal, largest |r2| %.3f mGal at station %s", n, s / n, sqrt(q / n), m, name }' "$work/survey_res.dat")
summary_r2=$(grep "^r2 over" "$work/out")
check "summary figures match the file" awk -v a="$expected_r2" -v b="$summary_r2" 'BEGIN {
    na = split(a, x, " "); nb = split(b, y, " "); if (na != nb) exit 1
    for (k = 1; k <= na; k++) { if (x[k] == y[k]) continue
        d = x[k] - y[k]; if (x[k] + 0 != x[k] || (d > 0.002 || d < -0.002)) exit 1 }
    exit 0 }'

run "$work/survey.xyz" -o "$work/b.dat" --increment abc
check "bad parameter is a usage error" [ "$status" -eq 2 ]
check "bad parameter is named" grep -q -- "--increment: 'abc' is not a valid floating point value" "$work/err"
check "nothing written after a bad parameter" [ ! -e "$work/b.dat" ]
run --version
check "--version answers" [ "$status" -eq 0 ]
check "--version names the tool" grep -Eq '^korvanel-batch [0-9]+\.[0-9]+' "$work/out"
run --help
check "help names the separators plainly" grep -q "'.' or ','" "$work/out"
check "help shows no set syntax" bash -c "! grep -q '{.,,}' '$work/out'"
run "$work/survey.xyz" -o "$work/b.dat" --encoding NO-SUCH-CODE
check "unknown encoding is a usage error" [ "$status" -eq 2 ]

run "$work/survey.xyz" -o "$work/c.dat" --cell-size 0
check "cell size 0 fails" [ "$status" -eq 1 ]
check "cell size message" grep -qx "Cell size must be defined." "$work/err"
check "cell size 0 writes nothing" [ ! -e "$work/c.dat" ]

cp "$work/survey.xyz" "$work/keep.xyz"
run "$work/survey.xyz" -o "$work/../$(basename "$work")/survey.xyz"
check "result naming the input is refused" [ "$status" -eq 2 ]
check "input untouched" cmp -s "$work/survey.xyz" "$work/keep.xyz"

{ head -n 2 "$work/survey.xyz"; printf '1 2 K\xf6ln 3 4\n'; } >"$work/latin.xyz"
run "$work/latin.xyz" -o "$work/latin_res.dat"
check "text that is not UTF-8 fails" [ "$status" -eq 1 ]
check "and the first message names its line" bash -c "head -n 1 '$work/err' | grep -q 'Line 3 of $work/latin.xyz is not UTF-8 text'"
check "and points to --encoding" grep -q -- "--encoding" "$work/err"
# The same file read as Latin-1 gives the station its name.
{ head -n 20 "$work/survey.xyz"; printf '500150 5500150 K\xf6ln 3 4\n'; } >"$work/latin.xyz"
run "$work/latin.xyz" -o "$work/latin_res.dat" --encoding LATIN1 --min-points 4
check "--encoding LATIN1 reads it" [ "$status" -eq 0 ]
check "the name reaches the result in its code page" grep -q "$(printf 'K\xf6ln')" "$work/latin_res.dat"

run "$work/absent.xyz" -o "$work/d.dat"
check "missing input fails" [ "$status" -eq 1 ]
check "missing input names the path" grep -q "absent.xyz" "$work/err"

run "$work/survey.xyz" -o "$work/no/such/dir/e.dat"
check "unopenable output fails" [ "$status" -eq 1 ]
check "unopenable output message" grep -q "Error by opening file $work/no/such/dir/e.dat" "$work/err"

if [ -w /dev/full ]; then
    run "$work/survey.xyz" -o /dev/full
    check "full disk fails" [ "$status" -eq 1 ]
    check "full disk names the file" grep -q "/dev/full" "$work/err"
fi

tr ' .' ';,' <"$work/survey.xyz" >"$work/comma.xyz"
run "$work/comma.xyz" -o "$work/comma_res.dat" --decimal-separator , --search-distance 2500,0
check "comma separator run succeeds" [ "$status" -eq 0 ]
check "comma separator gives the same result" cmp -s "$work/comma_res.dat" "$work/survey_res.dat"
if locale -a 2>/dev/null | grep -qiE '^de_DE\.utf-?8$'; then
    LC_ALL=de_DE.UTF-8 "$tool" "$work/comma.xyz" -o "$work/locale_res.dat" >"$work/out" 2>"$work/err" </dev/null
    check "the locale's comma is the default separator" cmp -s "$work/locale_res.dat" "$work/survey_res.dat"
    run "$work/survey.xyz" -o "$work/point_res.dat" --decimal-separator ,
    check "points under a comma separator read nothing" [ "$status" -eq 1 ]
    check "and the tool says so" grep -q "No line of .* was read as a station" "$work/err"
else
    echo "de_DE.UTF-8 locale not installed: the locale's separator is not tried" >&2
fi

for jobs in 1 3; do
    run "$work/survey.xyz" -o "$work/jobs$jobs.dat" --jobs $jobs
    check "--jobs $jobs run succeeds" [ "$status" -eq 0 ]
    check "--jobs $jobs gives the same bytes" cmp -s "$work/jobs$jobs.dat" "$work/survey_res.dat"
done
run "$work/survey.xyz" -o "$work/jobs0.dat" --jobs 0
check "--jobs 0 is a usage error" [ "$status" -eq 2 ]

# --plot: the run's figure, PNG or SVG by the extension. Qt starts only for it,
# and then on its offscreen platform: a platform that cannot start, named by
# the caller, stops neither a run without --plot nor one with it.
png_size() {  # the width and height in a PNG's header
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", (($1 * 256 + $2) * 256 + $3) * 256 + $4, (($5 * 256 + $6) * 256 + $7) * 256 + $8 }'
}
QT_QPA_PLATFORM=no-such-platform DISPLAY= run "$work/survey.xyz" -o "$work/p.dat" --plot "$work/p.png"
check "--plot run succeeds without a display" [ "$status" -eq 0 ]
check "--plot writes a PNG of 1600x1000" [ "$(png_size "$work/p.png")" = "1600x1000" ]
check "--plot says where the picture went" grep -q "Picture written to $work/p.png" "$work/out"
suspect=$(awk '/^  station /{ getline; print $1; exit }' "$work/out")
check "the survey has a suspect to name" [ -n "$suspect" ]
run "$work/survey.xyz" -o "$work/p.dat" --plot "$work/p.svg" --plot-size 800x500
check "--plot .svg succeeds" [ "$status" -eq 0 ]
check "the SVG is an SVG" grep -q "<svg" "$work/p.svg"
check "the SVG names a suspect as text, with its cause" grep -Eq ">$suspect [a-z-]+</text>" "$work/p.svg"
run "$work/survey.xyz" -o "$work/p.dat" --plot "$work/p.png" --plot-size 900x600
check "--plot-size sizes the PNG" [ "$(png_size "$work/p.png")" = "900x600" ]
QT_QPA_PLATFORM=no-such-platform run "$work/survey.xyz" -o "$work/q.dat"
check "without --plot Qt never starts" [ "$status" -eq 0 ]
rm -f "$work/q.dat"
for bad in "--plot $work/q.jpg" "--plot $work/q" "--plot $work/q.png --plot-size 100x100" \
           "--plot $work/q.png --plot-size wide" "--plot-size 800x600" "--plot $work/q.png --no-qc"; do
    # shellcheck disable=SC2086  # the options split into words on purpose
    run "$work/survey.xyz" -o "$work/q.dat" $bad
    check "$bad is a usage error" [ "$status" -eq 2 ]
    check "$bad writes nothing" [ ! -e "$work/q.dat" ]
done
run "$work/survey.xyz" -o "$work/q.dat" --plot "$work/q.gif"
check "a wrong extension names the right ones" grep -q ".png or .svg" "$work/err"
run "$work/survey.xyz" -o "$work/q.dat" --plot "$work/no/folder/q.png"
check "a picture that cannot be written fails" [ "$status" -eq 1 ]
check "it says why" grep -q "Cannot write $work/no/folder/q.png (--plot): No such file or directory" "$work/err"
check "before any station is estimated: nothing is written" [ ! -e "$work/q.dat" ]

# Ctrl-C stops after the station in hand and keeps whole lines, with one job
# and with several.
"$make_survey" 20000 300 5 >"$work/big.xyz"
for jobs in 1 2; do
rm -f "$work/big_res.dat"
"$tool" "$work/big.xyz" -o "$work/big_res.dat" --jobs $jobs >"$work/out" 2>"$work/err" </dev/null &
pid=$!
# The result grows beside its final name until the run ends.
for _ in $(seq 1 200); do
    part=$(ls "$work"/big_res.dat.part-* 2>/dev/null | head -n 1)
    [ -n "$part" ] && [ "$(wc -c <"$part")" -gt 1000 ] && break
    sleep 0.05
done
kill -INT "$pid"
wait "$pid"
status=$?
check "Ctrl-C exits with 130 (jobs $jobs)" [ "$status" -eq 130 ]
check "Ctrl-C says so (jobs $jobs)" grep -q "holds the lines written so far" "$work/err"
lines=$(wc -l <"$work/big_res.dat")
check "stopped file is partial (jobs $jobs)" [ "$lines" -gt 1 ] && [ "$lines" -lt 20001 ]
check "every stopped line is complete (jobs $jobs)" awk 'length($0) != 103 { bad = 1 } END { exit bad }' "$work/big_res.dat"

check "stopped run leaves no temporary file (jobs $jobs)" bash -c "! ls '$work'/big_res.dat.part-* 2>/dev/null"
done

# A run killed outright, at any moment, leaves the earlier result as it was.
printf 'an earlier result\r\n' >"$work/killed_res.dat"
cp "$work/killed_res.dat" "$work/killed_keep.dat"
for delay in 0.05 0.3 1; do
"$tool" "$work/big.xyz" -o "$work/killed_res.dat" >/dev/null 2>&1 </dev/null &
pid=$!
sleep "$delay"
kill -KILL "$pid"
wait "$pid" 2>/dev/null
check "SIGKILL after ${delay}s keeps the earlier result" cmp -s "$work/killed_res.dat" "$work/killed_keep.dat"
rm -f "$work"/killed_res.dat.part-*
done

finish
