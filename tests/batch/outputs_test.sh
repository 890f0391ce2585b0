#!/usr/bin/env bash
# korvanel-batch's outputs end to end: a run that estimates nothing keeps the
# earlier files, a stopped run is marked partial, paths that meet are refused
# before any work, a GeoPackage needs a regular file and keeps other layers,
# signals and dead runs leave no temporary files, bytes that are not text, and
# the parameters suggested from the spacing.
# Usage: outputs_test.sh KORVANEL_BATCH MAKE_SURVEY
set -u
export LC_ALL=C.UTF-8
tool=$1
make_survey=$2
. "$(dirname "$0")/checks.sh"

run() {  # run ARGS...: sets status; standard input from $stdin
    timeout 120 "$tool" "$@" >"$work/out" 2>"$work/err" <"${stdin:-/dev/null}"
    status=$?
}
no_part_files() {  # no temporary file is left in the scratch folder
    ! ls -a "$work" | grep -q -e '\.part-' -e '\.partial\.'
}

"$make_survey" 300 300 5 >"$work/survey.dat"
# Stations 5 km apart: with the default 2500 m every estimate is blank.
awk 'BEGIN { for (k = 0; k < 100; k++) printf "%d %d W%d 1 %d\n", 400000 + (k % 10) * 5000, 7000000 + int(k / 10) * 5000, k, k % 4 }' >"$work/sparse.dat"

# --- Results kept: a run that estimates nothing writes nothing.
run "$work/sparse.dat" -o "$work/kept.dat" --search-distance 15000 --increment 2500 --cell-size 1000 --plot "$work/kept.png" --summary "$work/kept.json"
check "a good run of the sparse survey" [ "$status" -eq 0 ]
check "writes its summary" grep -q '"ended": "completed"' "$work/kept.json"
before=$(md5sum "$work"/kept.*)
run "$work/sparse.dat" -o "$work/kept.dat" --plot "$work/kept.png" --summary "$work/kept.json"
check "the same with the defaults fails" [ "$status" -eq 1 ]
check "and says nothing was written" grep -q "Nothing was written: the earlier files were kept" "$work/out"
check "nor claims a table was" bash -c "! grep -q 'Companion table written' '$work/out'"
check "and suggests parameters" grep -q "Parameters that suit the stations' spacing" "$work/err"
check "every earlier file as it was" [ "$(md5sum "$work"/kept.*)" = "$before" ]
check "no temporary file left" no_part_files

# --- The options of the diagnosis and the summary.
for bad in "--density 0.5" "--density 4.5" "--density x" "--summary s.json --no-qc"; do
    run "$work/survey.dat" -o "$work/bad.dat" $bad
    check "$bad is a usage error" [ "$status" -eq 2 ]
done
check "and writes nothing" [ ! -e "$work/bad.dat" ]
run "$work/survey.dat" -o "$work/other.dat" --summary "$work/survey.dat"
check "a summary over the station file is refused" [ "$status" -eq 2 ]

# --- A review and the cleaned survey.
printf 'scope,id,x,y,decision,value,h,note\nstation,S1,1,2,maybe,,,\n' >"$work/bad_review.csv"
run "$work/survey.dat" -o "$work/rev.dat" --review "$work/bad_review.csv"
check "a review file with a bad row fails" [ "$status" -eq 1 ]
check "naming the file and line" grep -q "bad_review.csv:2: unknown decision 'maybe'" "$work/err"
check "and runs nothing" [ ! -e "$work/rev.dat" ]
for bad in "--clean $work/c.xlsx" "--clean $work/survey.dat" "--clean $work/rev.dat"; do
    run "$work/survey.dat" -o "$work/rev.dat" $bad
    check "$bad is a usage error" [ "$status" -eq 2 ]
done
first=$(awk 'NR == 1 { print $3, $1, $2 }' "$work/survey.dat")
set -- $first
printf 'scope,id,x,y,decision,value,h,note\nstation,%s,%s,%s,reject,,,\n' "$1" "$2" "$3" >"$work/review.csv"
run "$work/survey.dat" -o "$work/rev.dat" --review "$work/review.csv" --clean "$work/clean.csv" --summary "$work/rev.json"
check "a reviewed run with a cleaned survey succeeds" [ "$status" -eq 0 ]
check "it counts the rejected station" grep -q "rejected 1," "$work/out"
check "the cleaned table lacks it" bash -c "! grep -q ',$1,' '$work/clean.csv'"
check "the cleaned table has the others" [ "$(wc -l <"$work/clean.csv")" -eq "$(wc -l <"$work/survey.dat")" ]
check "the JSON summary says so" grep -q '"rejected": 1' "$work/rev.json"

# --- Mostly blank: the result is written, exit 1, with the suggestion.
awk 'BEGIN { for (k = 0; k < 400; k++) printf "%d %d M%d 1 %.3f\n", 300000 + (k % 20) * 1800, 7000000 + int(k / 20) * 1800, k, (k % 20) * 0.3 }' >"$work/mostly.dat"
run "$work/mostly.dat" -o "$work/mostly_res.dat"
check "a mostly blank run fails" [ "$status" -eq 1 ]
check "after writing its result" [ "$(wc -l <"$work/mostly_res.dat")" -eq 401 ]
check "saying how few got an estimate" grep -Eq "^Only [0-9]+ of 400 stations got a leave-one-out estimate" "$work/out"
suggested=$(grep -o -- '--search-distance [0-9.]* --increment [0-9.]* --min-points 16 --cell-size [0-9.]*' "$work/out" | head -n 1)
check "with parameters to paste" [ -n "$suggested" ]
# --suggest gives the same, and they estimate the survey.
run "$work/mostly.dat" --suggest
check "--suggest answers" [ "$status" -eq 0 ]
check "--suggest gives the same parameters" [ "$(tail -n 1 "$work/out")" = "$suggested" ]
check "--suggest writes nothing" [ ! -e "$work/mostly_res.csv.part" ]
# shellcheck disable=SC2086
run "$work/mostly.dat" -o "$work/mostly_res.dat" $suggested
check "the suggestion, pasted back, runs" [ "$status" -eq 0 ]
estimated=$(awk -F, 'NR > 1 && $7 != "" { n++ } END { print n + 0 }' "$work/mostly_res.csv")
check "and estimates at least 95 % of the stations ($estimated)" [ "$estimated" -ge 380 ]

# --- A stopped run is partial, and says so everywhere.
"$make_survey" 20000 300 9 >"$work/big.dat"
"$tool" "$work/big.dat" -o "$work/big_res.dat" --plot "$work/big.png" -j 2 >"$work/out" 2>"$work/err" </dev/null &
pid=$!
for _ in $(seq 100); do
    sleep 0.1
    ls "$work" | grep -q 'big_res.dat.part-' && break
done
sleep 0.5
kill -INT "$pid"
wait "$pid"
status=$?
check "Ctrl-C ends the run with 130" [ "$status" -eq 130 ]
done_count=$(($(wc -l <"$work/big_res.dat") - 1))
check "the stopped result keeps its lines" [ "$done_count" -gt 0 ]
check "the summary says stopped after N of M" grep -q "^Stopped after $done_count of 20000 stations" "$work/out"
check "standard error says so too" grep -q "Stopped after $done_count of 20000 stations: .*big_res.dat holds the lines written so far" "$work/err"
reached=$(awk -F, 'NR > 1 && $15 != "not-reached" { n++ } END { print n + 0 }' "$work/big_res.csv")
unreached=$(awk -F, 'NR > 1 && $15 == "not-reached" { n++ } END { print n + 0 }' "$work/big_res.csv")
check "the table lists the stations not reached" [ "$unreached" -eq $((20000 - done_count)) ] 
check "and those reached" [ "$reached" -eq "$done_count" ]
check "the picture is written" [ -s "$work/big.png" ]
check "no temporary file left after the stop" no_part_files

# --- Paths that meet: a usage error naming both, before any work.
cp "$work/survey.dat" "$work/in.png"
collide() {  # collide NAME OPTION_A OPTION_B ARGS...
    local name=$1 a=$2 b=$3
    shift 3
    run "$@"
    check "$name is a usage error" [ "$status" -eq 2 ]
    check "$name names $a and $b" bash -c "grep -q -- '$a' '$work/err' && grep -q -- '$b' '$work/err'"
}
ln -sf "$work/r.dat" "$work/link.dat"
collide "result and GeoPackage" -o --gpkg "$work/survey.dat" -o "$work/r.gpkg" --gpkg "$work/r.gpkg"
collide "table and picture" --csv --plot "$work/survey.dat" -o "$work/r.dat" --csv "$work/r.svg" --plot "$work/r.svg"
collide "picture over the input" --plot "STATIONS" "$work/in.png" -o "$work/r.dat" --plot "$work/./in.png"
collide "table through a link" -o --csv "$work/survey.dat" -o "$work/r.dat" --csv "$work/link.dat"
check "the input is untouched" cmp -s "$work/in.png" "$work/survey.dat"
run "$work/survey.dat" -o "$work/r.dat" --csv "$work/nosuch/q.csv"
check "a table in a missing folder fails" [ "$status" -eq 1 ]
check "naming the path given" grep -q "Cannot write $work/nosuch/q.csv (--csv): No such file or directory" "$work/out" "$work/err"
check "before any station is written" [ ! -e "$work/r.dat" ]

# --- A GeoPackage needs a regular file; text goes to a device directly.
mkfifo "$work/fifo"
run "$work/survey.dat" -o "$work/r.dat" --gpkg "$work/fifo"
check "a GeoPackage onto a pipe is refused" [ "$status" -eq 2 ]
check "the pipe stays a pipe" [ -p "$work/fifo" ]
run "$work/survey.dat" -o /dev/null --csv /dev/null
check "result and table onto /dev/null" [ "$status" -eq 0 ]
check "/dev/null is still a device" [ -c /dev/null ]

# --- Signals: SIGTERM removes what was being written, keeps what was.
cp "$work/big_res.dat" "$work/keep.dat"
"$tool" "$work/big.dat" -o "$work/big_res.dat" --gpkg "$work/big.gpkg" -j 2 >"$work/out" 2>"$work/err" </dev/null &
pid=$!
for _ in $(seq 100); do
    sleep 0.1
    ls "$work" | grep -q 'big_res.dat.part-' && break
done
kill -TERM "$pid"
wait "$pid"
check "SIGTERM ends the run with 143" [ $? -eq 143 ]
check "SIGTERM leaves no temporary file" no_part_files
check "the earlier result stays" cmp -s "$work/keep.dat" "$work/big_res.dat"

# --- A dead run's leftovers are removed by the next run, which says so.
touch "$work/r.dat.part-4194305-abcdef" "$work/.r.gpkg.4194305.0.partial.gpkg-journal"
run "$work/survey.dat" -o "$work/r.dat" --gpkg "$work/r.gpkg"
check "a run after a killed one succeeds" [ "$status" -eq 0 ]
check "and removes the dead run's files" no_part_files
check "saying so" grep -q "Removed .*r.dat.part-4194305-abcdef, left by an earlier run" "$work/out"

# --- Bytes that are not text, and a limit on what is read into memory.
stdin=/dev/zero run - -o "$work/zero.dat"
check "zeros on standard input stop at once" [ "$status" -eq 1 ]
check "naming the line" grep -q "Line 1 of standard input is not UTF-8 text: it holds a NUL byte" "$work/err"
{ head -n 3 "$work/survey.dat"; printf '1 2 K\xf6ln 3 4\n'; } >"$work/latin.dat"
run "$work/latin.dat" -o "$work/latin_res.dat"
check "invalid UTF-8 names the line and the bytes" grep -q "Line 4 of $work/latin.dat is not UTF-8 text (the bytes 0xF6)." "$work/err"
check "and the encoding option" grep -q -- "--encoding" "$work/err"
head -c 3000000 /dev/urandom | base64 >"$work/large.txt"
stdin="$work/large.txt" run - -o "$work/large_res.dat" --stdin-limit 0.001
check "a pipe beyond --stdin-limit is refused" [ "$status" -eq 1 ]
check "naming the limit and the option" grep -q "holds more than .* GiB.*--stdin-limit" "$work/err"

# --- A folder as the input, and thousands separators.
mkdir "$work/folder"
run "$work/folder"
check "a folder without -o is named as a folder" grep -q "come from a folder" "$work/err"
awk 'function th(v,  i, f, s) { i = int(v); f = sprintf("%.2f", v - i); sub(/^0/, "", f)
        s = ""; while (i >= 1000) { s = sprintf(",%03d", i % 1000) s; i = int(i / 1000) }; return i s f }
     { print th($1), th($2), $3, $4, $5 }' "$work/survey.dat" | head -n 50 >"$work/thousands.dat"
run "$work/thousands.dat" -o "$work/thousands_res.dat"
check "thousands separators are said" grep -q "Commas split numbers written with thousands separators in 50 lines" "$work/out"
check "with the options to read them" grep -q -- "--decimal-separator ,.*--columns" "$work/out"

finish
