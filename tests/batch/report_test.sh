#!/usr/bin/env bash
# korvanel-batch --report end to end: a survey with planted blunders gives a
# PDF whose text, read back with poppler's pdftotext, names every suspect the
# companion table flags, the run's parameters and its counts; the paper is
# chosen with --paper; usage errors and unwritable paths write nothing; the
# report joins the run's outputs and leaves the result and table as they are
# without it.
# Usage: report_test.sh KORVANEL_BATCH MAKE_SURVEY
set -u
export LC_ALL=C.UTF-8
tool=$1
make_survey=$2
. "$(dirname "$0")/checks.sh"

run() {  # run ARGS...: sets status
    timeout 300 "$tool" "$@" >"$work/out" 2>"$work/err" </dev/null
    status=$?
}
no_part_files() {  # no temporary file is left in the scratch folder
    ! ls -a "$work" | grep -q -e '\.part-'
}

# 900 stations 300 m apart, a blunder every 60th.
"$make_survey" 900 300 11 60 >"$work/survey.dat"

# --- Usage errors: nothing is read or written.
for bad in "--report $work/r.txt" "--report $work/r" "--report $work/r.pdf --no-qc" \
           "--paper letter" "--report $work/r.pdf --paper a5" "--report $work/survey.dat"; do
    # shellcheck disable=SC2086  # the options split into words on purpose
    run "$work/survey.dat" -o "$work/u.dat" $bad
    check "$bad is a usage error" [ "$status" -eq 2 ]
    check "$bad writes nothing" [ ! -e "$work/u.dat" ] && [ ! -e "$work/r.pdf" ]
done
run "$work/survey.dat" -o "$work/u.dat" --report "$work/r.png"
check "a wrong extension names the right one" grep -q "\.pdf" "$work/err"
run "$work/survey.dat" -o "$work/u.dat" --report "$work/u.dat"
check "a report over the result is refused" [ "$status" -eq 2 ]
check "naming both options" grep -q -- "--report" "$work/err"
run "$work/survey.dat" -o "$work/u.dat" --report "$work/no/folder/r.pdf"
check "a report that cannot be written fails" [ "$status" -eq 1 ]
check "before any station is estimated: nothing is written" [ ! -e "$work/u.dat" ]

# --- The outputs without a report, to compare.
run "$work/survey.dat" -o "$work/plain.dat" --search-distance 2000 --increment 400 \
    --min-points 12 --cell-size 150 --suspect-threshold 3.5
check "the run without a report succeeds" [ "$status" -eq 0 ]

# --- The report.
run "$work/survey.dat" -o "$work/r.dat" --search-distance 2000 --increment 400 \
    --min-points 12 --cell-size 150 --suspect-threshold 3.5 --report "$work/r.pdf"
check "the run with a report succeeds" [ "$status" -eq 0 ]
check "it says where the report went" grep -q "Report written to $work/r.pdf" "$work/out"
check "the report is a PDF" [ "$(head -c 5 "$work/r.pdf")" = "%PDF-" ]
check "the result is the same bytes with or without it" cmp -s "$work/r.dat" "$work/plain.dat"
check "and so is the table" cmp -s "$work/r.csv" "$work/plain.csv"
check "no temporary file left" no_part_files

if ! command -v pdftotext >/dev/null || ! command -v pdfinfo >/dev/null; then
    echo "pdftotext or pdfinfo (poppler-utils) is not installed: the report's text is not read back" >&2
    finish
    exit
fi
pdftotext -enc UTF-8 "$work/r.pdf" "$work/r.txt"
pdftotext -layout -enc UTF-8 "$work/r.pdf" "$work/r-layout.txt"
# The table's lines end in CR LF (RFC 4180).
suspects=$(awk -F, 'NR > 1 && $16 ~ /^suspect/ { print $1 }' "$work/r.csv")
count=$(printf '%s\n' "$suspects" | grep -c .)
check "the planted blunders make suspects ($count)" [ "$count" -ge 10 ]
missing=0
for name in $suspects; do
    grep -qx -- "$name" "$work/r.txt" || { echo "not in the report: $name" >&2; missing=$((missing + 1)); }
done
check "every suspect is named in the report" [ "$missing" -eq 0 ]
# Each suspect's row gives the cause the table gives it.
wrong=0
while IFS=, read -r name cause; do
    grep -Eq -- "^ *[0-9]+ +$name .* $cause " "$work/r-layout.txt" ||
        { echo "no row of $name with the cause $cause" >&2; wrong=$((wrong + 1)); }
done < <(awk -F, 'NR > 1 && $16 ~ /^suspect/ { print $1 "," $21 }' "$work/r.csv" | tr -d '\r')
check "every suspect's row has its cause" [ "$wrong" -eq 0 ]
check "the density check has its section" grep -q "^Density check" "$work/r.txt"
rows=$(($(wc -l <"$work/r.csv") - 1))
estimated=$(awk -F, 'NR > 1 && $15 == "ok"' "$work/r.csv" | wc -l)
check "the survey has estimated stations ($estimated)" [ "$estimated" -gt 800 ]
for pair in "Search distance +2000 m" "Increment +400 m" "Minimum stations N +12" \
            "Cell size +150 m" "Suspect threshold +3.5 robust scales" \
            "Stations +$rows" "Estimated +$estimated" "Suspects +$count" \
            "Suspects: $count" "Survey file +$work/survey.dat" \
            "Size +$(stat -c %s "$work/survey.dat" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta') bytes" \
            "SHA-256 +$(sha256sum "$work/survey.dat" | cut -d' ' -f1)"; do
    check "the report says '$pair'" grep -Eq -- "$pair" "$work/r-layout.txt"
done
check "every page names the survey in its header" \
    [ "$(tr -d '\f' <"$work/r-layout.txt" | grep -Ec '^survey\.dat +Quality-control report$')" -eq "$(pdfinfo "$work/r.pdf" | awk '/^Pages:/ { print $2 }')" ]
check "A4 by default" bash -c "pdfinfo '$work/r.pdf' | grep -q '(A4)'"
check "its title names the survey" bash -c "pdfinfo '$work/r.pdf' | grep -q '^Title: *Quality-control report: survey.dat'"
check "its author is set" bash -c "pdfinfo '$work/r.pdf' | grep -q '^Author: *Korvanel'"

run "$work/survey.dat" -o "$work/r.dat" --report "$work/letter.pdf" --paper letter
check "--paper letter succeeds" [ "$status" -eq 0 ]
check "on letter paper" bash -c "pdfinfo '$work/letter.pdf' | grep -q '(letter)'"

finish
