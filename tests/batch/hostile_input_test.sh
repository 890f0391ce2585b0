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
#   (- : the file must not exist, * : any).
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
expect "empty file" 0 '' 1 "$work/empty.dat"

head -c 65536 /dev/urandom >"$work/binary.dat"
printf '\xff\xfe' | cat - "$work/binary.dat" >"$work/binary2.dat"
expect "binary file" 1 "$encoding" - "$work/binary2.dat"

printf '\xff\xfe' >"$work/utf16.dat"
printf '1 2 P1 3 4\n' | iconv -f UTF-8 -t UTF-16LE >>"$work/utf16.dat"
expect "UTF-16 file" 1 "$encoding" - "$work/utf16.dat"

{ printf '1 2 P 3 4 '; head -c 50000000 /dev/zero | tr '\0' ' '; printf 'tail\n'; } >"$work/longline.dat"
expect "one 50 MB line of blanks" 0 '' 2 "$work/longline.dat" --min-points 1
{ printf '1 2 P 3 4'; head -c 50000000 /dev/zero | tr '\0' 'x'; printf '\n'; } >"$work/longword.dat"
nothing_read='no line of .* was read as a station'
expect "one 50 MB field" 1 "$nothing_read" 1 "$work/longword.dat"

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
expect "odd numbers" 0 '' 4 "$work/numbers.dat" --min-points 3

awk 'BEGIN { for (k = 0; k < 40; k++) printf "500 500 P%d 1 %d\n", k, k }' >"$work/onepoint.dat"
expect "all stations at one position" 0 '' 1 "$work/onepoint.dat"
expect "all stations at one position, N 1" 0 '' 41 "$work/onepoint.dat" --min-points 1

awk 'BEGIN { for (k = 0; k < 40; k++) printf "%d 7000 P%d 1 %d\n", k * 100, k, k % 7 }' >"$work/oneline.dat"
expect "all stations on one line of y" 0 '' 41 "$work/oneline.dat"

# A lost decimal point puts one station out of reach: the others still finish.
{ printf '1e30 5500000 FAR 100 1\n'; head -n 20 "$work/survey.dat"; } >"$work/far.dat"
expect "one station at 1e30" 0 '' 21 "$work/far.dat"
{ head -n 12 "$work/survey.dat"; printf '1e30 5500000 FAR 100 1\n'; } >"$work/far_few.dat"
expect "one station at 1e30, N above the survey" 0 '' 1 "$work/far_few.dat"

printf '10 20 ONLY 1 2\n' >"$work/single.dat"
expect "single station" 0 '' 1 "$work/single.dat"
expect "single station, N 1" 0 '' 2 "$work/single.dat" --min-points 1

expect "N of 0" 0 '' 61 "$work/survey.dat" --min-points 0
expect "N negative" 0 '' 61 "$work/survey.dat" --min-points -3
expect "N larger than the survey" 0 '' 1 "$work/survey.dat" --min-points 1000
expect "N not an integer" 1 "is not a valid integer value" - "$work/survey.dat" --min-points 99999999999
expect "negative search distance" 0 '' 61 "$work/survey.dat" --search-distance -500
expect "zero search distance" 0 '' 61 "$work/survey.dat" --search-distance 0
expect "zero increment" 0 '' '*' "$work/survey.dat" --search-distance 10 --increment 0
expect "negative increment" 0 '' '*' "$work/survey.dat" --search-distance 10 --increment -100
expect "cell size 0.001 refused by the grid" 0 '^Number of grid points exceeded 1024 in X-direction\.$' 61 "$work/survey.dat" --cell-size 0.001
grep -q "search radius" "$work/out" && fail "cell size 0.001: the summary blames the search distance"
expect "cell size below 0.001" 1 '^Cell size must be defined\.$' - "$work/survey.dat" --cell-size 0.0009
expect "huge search distance" 0 '' 61 "$work/survey.dat" --search-distance 1e300
expect "points read with a comma separator" 1 "$nothing_read" 1 "$work/survey.dat" --decimal-separator ,
grep -q "Lines not read as stations: 60" "$work/out" || fail "comma separator: the summary does not count the lines"
expect "separator neither point nor comma" 2 'decimal-separator' - "$work/survey.dat" --decimal-separator _
expect "search distance not a number" 1 "'nan' is not a valid floating point value" - "$work/survey.dat" --search-distance nan

# Result paths that cannot take the result.
timeout "$limit" "$tool" "$work/survey.dat" -o "$work/missing/r.dat" >"$work/out" 2>"$work/err" </dev/null
[ $? -eq 1 ] && grep -q "Error by opening file $work/missing/r.dat" "$work/err" && passed=$((passed + 1)) || fail "result in a missing folder"

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
[ $? -eq 1 ] && cmp -s "$work/survey.dat" "$work/keep.dat" && passed=$((passed + 1)) || fail "result equal to the station file"

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
