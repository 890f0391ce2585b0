#!/usr/bin/env bash
# Hostile input through korvanel-batch: every case ends with the right message
# and exit status, never a crash, a hang or a truncated result reported as success.
# Usage: hostile_input_test.sh KORVANEL_BATCH MAKE_SURVEY
set -u
export LC_ALL=C.UTF-8 # numbers with a point, whatever the caller's locale
tool=$1
make_survey=$2
work=$(mktemp -d)
trap 'umount "$work/small" "$work/ro" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
passed=0
limit=120  # seconds any one run may take

fail() {
    echo "FAILED: $1" >&2
    failures=$((failures + 1))
}

# expect NAME STATUS STDERR_PATTERN RESULT_LINES ARGS...
#   STATUS: expected exit status; STDERR_PATTERN: extended regex that standard
#   error must match ('' for none); RESULT_LINES: lines the result file must have
#   (- : the file must not exist, * : any). A run that estimates nothing
#   writes nothing.
expect() {
    local name=$1 want_status=$2 pattern=$3 want_lines=$4
    shift 4
    local result="$work/result.dat"
    rm -f "$result"
    timeout "$limit" "$tool" "$@" -o "$result" >"$work/out" 2>"$work/err" </dev/null
    local status=$?
    local ok=1
    if [ "$status" -eq 124 ]; then
        fail "$name: no end within ${limit}s"
        return
    fi
    if [ "$status" -ge 128 ] && [ "$status" -ne 130 ]; then
        fail "$name: crashed with status $status"
        ok=0
    elif [ "$status" -ne "$want_status" ]; then
        fail "$name: status $status, expected $want_status ($(head -c 300 "$work/err"))"
        ok=0
    fi
    if [ -n "$pattern" ] && ! grep -Eq -- "$pattern" "$work/err"; then
        fail "$name: standard error lacks /$pattern/: $(head -c 300 "$work/err")"
        ok=0
    fi
    if [ "$want_lines" = "-" ]; then
        [ -e "$result" ] && { fail "$name: a result file was written"; ok=0; }
    elif [ "$want_lines" != "*" ]; then
        local lines
        lines=$(wc -l <"$result" 2>/dev/null || echo missing)
        [ "$lines" = "$want_lines" ] || { fail "$name: result has $lines lines, expected $want_lines"; ok=0; }
    fi
    [ "$ok" -eq 1 ] && passed=$((passed + 1))
}

encoding='No mapping for the Unicode character exists in the target multi-byte code page'
"$make_survey" 60 300 3 >"$work/survey.dat"

: >"$work/empty.dat"
nothing_read='No line of .* was read as a station'
no_estimate='No station has a leave-one-out estimate'
expect "empty file" 1 'holds no station' - "$work/empty.dat"
printf '\n  \r\n\t\n' >"$work/blanks.dat"
expect "file of blank lines" 1 'holds no station' - "$work/blanks.dat"

head -c 65536 /dev/urandom >"$work/binary.dat"
printf '\xff\xfe' | cat - "$work/binary.dat" >"$work/binary2.dat"
expect "binary file" 1 "$encoding" - "$work/binary2.dat"

printf '\xff\xfe' >"$work/utf16.dat"
printf '1 2 P1 3 4\n' | iconv -f UTF-8 -t UTF-16LE >>"$work/utf16.dat"
expect "UTF-16 file" 1 "$encoding" - "$work/utf16.dat"

{ printf '1 2 P 3 4 '; head -c 50000000 /dev/zero | tr '\0' ' '; printf 'tail\n'; } >"$work/longline.dat"
expect "one 50 MB line of blanks" 1 "$no_estimate" - "$work/longline.dat" --min-points 1

# Surveys asked for wrongly: a usage error and nothing written; a survey per
# station is said to look wrong and the run goes on without offsets.
expect "survey pattern that does not compile" 2 'survey-from-name.*not a regular expression' - "$work/survey.dat" --survey-from-name '^[S'
expect "survey pattern that matches no name" 2 'matches no station' - "$work/survey.dat" --survey-from-name '^Q'
expect "reference that is no survey" 2 "no survey is named 'NONE'" - "$work/survey.dat" --survey-from-name '^S[0-9]' --reference-survey NONE
"$tool" "$work/survey.dat" -o "$work/one_each_res.dat" --survey-from-name '^S[0-9]+' >"$work/out" 2>&1 </dev/null
grep -q 'grouping looks wrong' "$work/out" && passed=$((passed + 1)) || fail "a survey per station: $(head -c 300 "$work/out")"
{ printf '1 2 P 3 4'; head -c 50000000 /dev/zero | tr '\0' 'x'; printf '\n'; } >"$work/longword.dat"
expect "one 50 MB field" 1 "$nothing_read" - "$work/longword.dat"

awk 'BEGIN { for (l = 0; l < 50; l++) { printf "%d %d P%d 1 2", l * 100, l * 50, l; for (k = 0; k < 5000; k++) printf " %d", k; printf "\n" } }' >"$work/wide.dat"
expect "lines of thousands of fields" 0 '' 51 "$work/wide.dat" --min-points 5

cat >"$work/numbers.dat" <<'NUMBERS'
1e400 0 A 1 1
0 1e400 B 1 1
-0 0 C 1 5
1e-400 100 D 1 6
nan 0 E 1 1
inf 0 F 1 1
0x10 0 G 1 1
100 -0 H 1 7
200 300 I 1 -inf
NUMBERS
expect "odd numbers" 1 "$no_estimate" - "$work/numbers.dat" --min-points 3

awk 'BEGIN { for (k = 0; k < 40; k++) printf "500 500 P%d 1 %d\n", k, k }' >"$work/onepoint.dat"
expect "all stations at one position" 1 "$no_estimate.*could hold 16 stations" - "$work/onepoint.dat"
expect "all stations at one position, N 1" 1 "$no_estimate.*only its own station" - "$work/onepoint.dat" --min-points 1

awk 'BEGIN { for (k = 0; k < 40; k++) printf "%d 7000 P%d 1 %d\n", k * 100, k, k % 7 }' >"$work/oneline.dat"
expect "all stations on one line of y" 1 "$no_estimate.*one line of y" - "$work/oneline.dat"

# A lost decimal point puts one station out of reach: the others still finish.
{ printf '1e30 5500000 FAR 100 1\n'; head -n 20 "$work/survey.dat"; } >"$work/far.dat"
expect "one station at 1e30" 0 '' 21 "$work/far.dat"
{ head -n 12 "$work/survey.dat"; printf '1e30 5500000 FAR 100 1\n'; } >"$work/far_few.dat"
expect "one station at 1e30, N above the survey" 1 "$no_estimate" - "$work/far_few.dat"

printf '10 20 ONLY 1 2\n' >"$work/single.dat"
expect "single station" 1 "$no_estimate" - "$work/single.dat"
expect "single station, N 1" 1 "$no_estimate" - "$work/single.dat" --min-points 1

expect "N of 0" 0 '' 61 "$work/survey.dat" --min-points 0
expect "N negative" 0 '' 61 "$work/survey.dat" --min-points -3
expect "N larger than the survey" 1 "$no_estimate.*could hold 1000 stations" - "$work/survey.dat" --min-points 1000
grep -q "Skipped: no search window could hold the minimum number of stations: 60 stations, first S1 (line 1)" "$work/out" || fail "N larger than the survey: the summary does not name the stations skipped"
expect "N not an integer" 2 "is not a valid integer value" - "$work/survey.dat" --min-points 99999999999
expect "negative search distance" 1 "$no_estimate.*search distance" - "$work/survey.dat" --search-distance -500
expect "zero search distance" 0 '' 61 "$work/survey.dat" --search-distance 0
expect "zero increment" 1 "$no_estimate" - "$work/survey.dat" --search-distance 10 --increment 0
expect "negative increment" 1 "$no_estimate" - "$work/survey.dat" --search-distance 10 --increment -100
expect "cell size 0.001 refused by the grid" 1 '^Number of grid points exceeded 1024 in X-direction\. First at station S1 \(line 1\); 60 stations\.$' - "$work/survey.dat" --cell-size 0.001
grep -q "1024 nodes" "$work/err" || fail "cell size 0.001: the error does not name the grid limit"
grep -q "search radius" "$work/err" && fail "cell size 0.001: the error blames the search distance"
# Stations 5 km apart with the default 2500 m search: every estimate blank.
awk 'BEGIN { for (k = 0; k < 30; k++) printf "%d %d W%d 1 %d\n", (k % 6) * 5000, int(k / 6) * 5000, k, k % 4 }' >"$work/sparse.dat"
expect "stations further apart than the search distance" 1 "$no_estimate.*search distance \(2500 m\)" - "$work/sparse.dat"
grep -q "too few stations within the search distance of the grid nodes: 30 stations, first W0 (line 1)" "$work/out" || fail "sparse: the summary does not give the reason"
# Coordinates in degrees, as a survey before its projection.
awk 'BEGIN { for (k = 0; k < 40; k++) printf "%.5f %.5f G%d 1 %d\n", -70.5 + (k % 8) * 0.01, -36.0 + int(k / 8) * 0.01, k, k % 5 }' >"$work/degrees.dat"
expect "coordinates in degrees" 1 "$no_estimate" - "$work/degrees.dat"
expect "cell size below 0.001" 1 '^Cell size must be defined\.$' - "$work/survey.dat" --cell-size 0.0009
expect "huge search distance" 0 '' 61 "$work/survey.dat" --search-distance 1e300
expect "points read with a comma separator" 1 "$nothing_read" - "$work/survey.dat" --decimal-separator ,
grep -q "^line 1: " "$work/err" || fail "comma separator: the lines not read are not shown"
grep -q "hint: .*decimal-separator" "$work/err" || fail "comma separator: no hint"
expect "separator neither point nor comma" 2 'decimal-separator' - "$work/survey.dat" --decimal-separator _
expect "search distance not a number" 2 "'nan' is not a valid floating point value" - "$work/survey.dat" --search-distance nan
expect "increment not a number" 2 "--increment: '5OO' is not a valid floating point value" - "$work/survey.dat" --increment 5OO

# An earlier result survives every refusal.
for args in "--decimal-separator ," "--cell-size 0.0009" "--min-points abc"; do
    printf 'an earlier result\r\n' >"$work/keep_res.dat"
    timeout "$limit" "$tool" "$work/survey.dat" -o "$work/keep_res.dat" $args >/dev/null 2>&1 </dev/null
    [ "$(cat "$work/keep_res.dat")" = "$(printf 'an earlier result\r')" ] && passed=$((passed + 1)) || fail "earlier result after $args"
done
printf 'an earlier result\r\n' >"$work/keep_res.dat"
timeout "$limit" "$tool" "$work/empty.dat" -o "$work/keep_res.dat" >/dev/null 2>&1 </dev/null
[ "$(cat "$work/keep_res.dat")" = "$(printf 'an earlier result\r')" ] && passed=$((passed + 1)) || fail "earlier result after an empty file"

# Full-precision coordinates, as projection scripts write them, give the
# result of the same survey rounded to 15 significant digits.
awk '{ printf "%.17g %.17g %s %s %s\n", $1 + 0.00000013437, $2 + 0.0000008475, $3, $4, $5 }' "$work/survey.dat" >"$work/full.dat"
awk '{ printf "%.15g %.15g %s %s %s\n", $1, $2, $3, $4, $5 }' "$work/full.dat" >"$work/rounded.dat"
expect "full-precision coordinates" 0 '' 61 "$work/full.dat"
cp "$work/result.dat" "$work/full_res.dat"
expect "the same rounded to 15 digits" 0 '' 61 "$work/rounded.dat"
cmp -s "$work/result.dat" "$work/full_res.dat" && passed=$((passed + 1)) || fail "full precision and 15 digits differ"

# Stations from a pipe, standard input and a named pipe: read once, the same
# result as from the file.
expect "the survey itself" 0 '' 61 "$work/survey.dat"
cp "$work/result.dat" "$work/file_res.dat"
same_as_file() { cmp -s "$work/result.dat" "$work/file_res.dat" && passed=$((passed + 1)) || fail "$1 differs from the file"; }
cat "$work/survey.dat" | timeout "$limit" "$tool" /dev/stdin -o "$work/result.dat" >/dev/null 2>"$work/err"
[ $? -eq 0 ] && same_as_file "/dev/stdin from a pipe" || fail "/dev/stdin from a pipe: $(cat "$work/err")"
timeout "$limit" "$tool" - -o "$work/result.dat" <"$work/survey.dat" >/dev/null 2>"$work/err"
[ $? -eq 0 ] && same_as_file "- from a file" || fail "- from a file: $(cat "$work/err")"
timeout "$limit" "$tool" <(cat "$work/survey.dat") -o "$work/result.dat" >/dev/null 2>"$work/err"
[ $? -eq 0 ] && same_as_file "process substitution" || fail "process substitution: $(cat "$work/err")"
mkfifo "$work/fifo"
cat "$work/survey.dat" >"$work/fifo" &
timeout "$limit" "$tool" "$work/fifo" -o "$work/result.dat" >/dev/null 2>"$work/err"
[ $? -eq 0 ] && same_as_file "named pipe" || fail "named pipe: $(cat "$work/err")"
wait
timeout "$limit" "$tool" - <"$work/survey.dat" >/dev/null 2>"$work/err"
[ $? -eq 2 ] && grep -q -- "-o RESULT is needed" "$work/err" && passed=$((passed + 1)) || fail "standard input without -o"

# N of 0 writes the count of the final window, not 0.
expect "N of 0 counts the window" 0 '' 61 "$work/survey.dat" --min-points 0
awk 'NR > 1 && $9 == 0 { bad = 1 } END { exit bad }' "$work/result.dat" || fail "N of 0: a window count of 0 was written"

# Lines that are not stations: the first five in the summary, every one with
# --verbose.
{ for k in 1 2 3 4 5 6 7; do echo "comment $k"; done; cat "$work/survey.dat"; } >"$work/comments.dat"
expect "seven comment lines" 0 '' 61 "$work/comments.dat"
grep -q "^  line 5: comment 5$" "$work/out" && ! grep -q "comment 6" "$work/out" && grep -q "with --verbose" "$work/out" \
    && passed=$((passed + 1)) || fail "the summary does not list the first five lines not read"
expect "seven comment lines, verbose" 0 '' 61 "$work/comments.dat" --verbose
[ "$(grep -c '^line [0-9]* not read: comment' "$work/err")" -eq 7 ] && passed=$((passed + 1)) || fail "--verbose does not list every line"

# Result paths that cannot take the result.
timeout "$limit" "$tool" "$work/survey.dat" -o "$work/missing/r.dat" >"$work/out" 2>"$work/err" </dev/null
[ $? -eq 1 ] && grep -q "Error by opening file $work/missing/r.dat: No such file or directory" "$work/err" && passed=$((passed + 1)) || fail "result in a missing folder"

# A read-only place: a read-only mount where the machine allows one (root
# writes through permission bits), else a folder without write permission.
mkdir -p "$work/ro"
if mount -t tmpfs -o ro,size=8k tmpfs "$work/ro" 2>/dev/null || { [ "$(id -u)" -ne 0 ] && chmod 555 "$work/ro"; }; then
    timeout "$limit" "$tool" "$work/survey.dat" -o "$work/ro/r.dat" >"$work/out" 2>"$work/err" </dev/null
    [ $? -eq 1 ] && grep -q "Error by opening file $work/ro/r.dat" "$work/err" && passed=$((passed + 1)) || fail "read-only place"
    umount "$work/ro" 2>/dev/null
else
    echo "read-only place: not available here, skipped" >&2
fi
# A file that opens but refuses every write.
timeout "$limit" "$tool" "$work/survey.dat" -o /proc/version >"$work/out" 2>"$work/err" </dev/null
[ $? -eq 1 ] && grep -q "/proc/version" "$work/err" && passed=$((passed + 1)) || fail "file refusing writes"

cp "$work/survey.dat" "$work/keep.dat"
timeout "$limit" "$tool" "$work/survey.dat" -o "$work/./survey.dat" >"$work/out" 2>"$work/err" </dev/null
[ $? -eq 2 ] && cmp -s "$work/survey.dat" "$work/keep.dat" && passed=$((passed + 1)) || fail "result equal to the station file"

if [ -w /dev/full ]; then
    timeout "$limit" "$tool" "$work/survey.dat" -o /dev/full >"$work/out" 2>"$work/err" </dev/null
    [ $? -eq 1 ] && grep -q "/dev/full" "$work/err" && passed=$((passed + 1)) || fail "full device"
fi

mkdir -p "$work/small"
if mount -t tmpfs -o size=4k tmpfs "$work/small" 2>/dev/null; then
    timeout "$limit" "$tool" "$work/survey.dat" -o "$work/small/r.dat" >"$work/out" 2>"$work/err" </dev/null
    [ $? -eq 1 ] && grep -q "$work/small/r.dat" "$work/err" && passed=$((passed + 1)) || fail "small full tmpfs: $(cat "$work/err")"
    umount "$work/small"
else
    echo "small tmpfs: not allowed here, skipped" >&2
fi

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
