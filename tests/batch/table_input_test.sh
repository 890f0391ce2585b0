#!/usr/bin/env bash
# korvanel-batch on survey tables: the same survey as a station file, as
# delimited text with a header in another order, as a spreadsheet and as a
# GeoPackage gives the same result file; the columns taken, the coordinate
# system, the GeoPackage out, and the refusals of tables it cannot take.
# Usage: table_input_test.sh KORVANEL_BATCH MAKE_SURVEY MAKE_TABLE_FIXTURE
set -u
export LC_ALL=C.UTF-8
tool=$1
make_survey=$2
make_table=$3
. "$(dirname "$0")/checks.sh"

run() {  # run ARGS...: sets status
    "$tool" "$@" >"$work/out" 2>"$work/err" </dev/null
    status=$?
}

"$make_survey" 150 300 5 >"$work/survey.dat"
run "$work/survey.dat" -o "$work/text_res.dat"
check "station file runs" [ "$status" -eq 0 ]

same_result() {  # same_result NAME FILE ARGS...
    local name=$1 file=$2
    shift 2
    run "$file" -o "$work/table_res.dat" "$@"
    check "$name runs ($(head -c 200 "$work/err"))" [ "$status" -eq 0 ]
    check "$name gives the station file's result" cmp -s "$work/table_res.dat" "$work/text_res.dat"
}

# Delimited text with a header in another order, with commas and semicolons.
awk 'BEGIN { print "Station,CBA [mGal],Elevation,Northing,Easting" }
     { printf "%s,%s,%s,%s,%s\n", $3, $5, $4, $2, $1 }' "$work/survey.dat" >"$work/survey.csv"
same_result "CSV in another order" "$work/survey.csv"
check "the columns taken are said" grep -q "x = Easting, y = Northing, point = Station, h = Elevation, value = CBA" "$work/err"
tr ',' ';' <"$work/survey.csv" >"$work/semicolon.txt"
same_result "semicolons" "$work/semicolon.txt"
# GDAL is loaded for a table only: a station file's run never maps it.
LD_DEBUG=files "$tool" "$work/survey.dat" -o "$work/table_res.dat" --no-qc >/dev/null 2>"$work/loads"
check "a station file's run does not load GDAL" bash -c "! grep -q 'libgdal' '$work/loads'"
LD_DEBUG=files "$tool" "$work/survey.csv" -o "$work/table_res.dat" --no-qc >/dev/null 2>"$work/loads"
check "a table's run loads the GIS module and GDAL" grep -q 'libkorvanel-gis' "$work/loads"
check "and GDAL with it" grep -q 'libgdal' "$work/loads"
# A table from a pipe is read once, and its errors name it as given.
"$tool" - -o "$work/table_res.dat" <"$work/survey.csv" >"$work/out" 2>"$work/err"
check "CSV from standard input runs ($(head -c 200 "$work/err"))" [ $? -eq 0 ]
check "CSV from standard input gives the station file's result" cmp -s "$work/table_res.dat" "$work/text_res.dat"
check "and names the source as given" grep -q "^Columns of -" "$work/err"
"$tool" <(cat "$work/survey.xlsx" 2>/dev/null || cat "$work/survey.csv") -o "$work/table_res.dat" >"$work/out" 2>"$work/err"
check "a table through process substitution runs ($(head -c 200 "$work/err"))" cmp -s "$work/table_res.dat" "$work/text_res.dat"
# The station file with a header line it recognises reads as it always did.
{ echo "x y point h value"; cat "$work/survey.dat"; } >"$work/header.dat"
same_result "station file with its header" "$work/header.dat"

"$make_table" xlsx "$work/survey.dat" "$work/survey.xlsx" && same_result "XLSX sheet" "$work/survey.xlsx"
"$make_table" gpkg "$work/survey.dat" "$work/survey.gpkg" 32633 && same_result "GeoPackage" "$work/survey.gpkg"
check "the GeoPackage's CRS is used" grep -q "EPSG:32633" "$work/err"
run "$work/survey.gpkg" -o "$work/table_res.dat" --source-crs EPSG:32632
check "--source-crs over the layer's own CRS is said (2026-12-10, issue 19)" grep -q "^--source-crs EPSG:32632 overrides the coordinate system the layer declares, WGS 84 / UTM zone 33N (EPSG:32633)" "$work/err"

# The GeoPackage out, with the companion table's columns.
run "$work/survey.csv" -o "$work/out_res.dat" --source-crs EPSG:32633 --gpkg "$work/out.gpkg"
check "--gpkg writes" [ "$status" -eq 0 ] && [ -s "$work/out.gpkg" ]
check "--gpkg is said" grep -q "GeoPackage written to $work/out.gpkg" "$work/out"
run "$work/survey.csv" -o "$work/out_res.dat" --gpkg "$work/out.gpkg" --no-qc
check "--gpkg with --no-qc is a usage error" [ "$status" -eq 2 ]
run "$work/survey.csv" -o "$work/out_res.dat" --gpkg "$work/survey.csv"
check "--gpkg naming the input is a usage error" [ "$status" -eq 2 ]
check "and the input is kept" cmp -s "$work/survey.csv" <(awk 'BEGIN { print "Station,CBA [mGal],Elevation,Northing,Easting" }
     { printf "%s,%s,%s,%s,%s\n", $3, $5, $4, $2, $1 }' "$work/survey.dat")
run "$work/survey.csv" -o "$work/out_res.dat" --gpkg "$work/no/such/folder/x.gpkg"
check "an unwritable GeoPackage fails" [ "$status" -eq 1 ]
check "and names it" grep -q "no/such/folder/x.gpkg" "$work/err"
check "leaving nothing there" [ ! -e "$work/no/such/folder/x.gpkg" ]

# Longitude and latitude: projected, said, and the table keeps the degrees.
awk 'BEGIN { print "lat,lon,value"; for (k = 0; k < 40; k++)
     printf "%.6f,%.6f,%.3f\n", -36.0 + int(k / 8) * 0.003, -70.5 + (k % 8) * 0.003, (k % 8) * 0.1 }' >"$work/degrees.csv"
run "$work/degrees.csv" -o "$work/degrees_res.dat"
check "degrees run" [ "$status" -eq 0 ]
check "the UTM zone is said" grep -q "WGS 84 / UTM zone 19S (EPSG:32719), projected from longitude and latitude" "$work/err"
check "the table has lon and lat" grep -q "^point,x,y,h,value,.*,flag,lon,lat" "$work/degrees_res.csv"
check "rows without names are named by number" grep -q "^1,.*,-70.5,-36" "$work/degrees_res.csv"
check "heights missing are empty in the table" grep -q "^1,[^,]*,[^,]*,," "$work/degrees_res.csv"
run "$work/degrees.csv" -o "$work/degrees_res.dat" --crs EPSG:32619
check "a named --crs is used" grep -q "EPSG:32619" "$work/err"
run "$work/degrees.csv" -o "$work/degrees_res.dat" --crs NOT-A-CRS
check "a CRS PROJ does not accept is a usage error" [ "$status" -eq 2 ]
check "and is named" grep -q "NOT-A-CRS" "$work/err"

# A CRS in feet: the source's coordinates converted to metres, a --crs in
# feet refused naming its unit (2026-12-10, issue 19).
run "$work/survey.csv" -o "$work/feet_res.dat" --source-crs EPSG:2227
check "a source CRS in feet runs ($(head -c 200 "$work/err"))" [ "$status" -eq 0 ]
check "and says it converts to metres" grep -q "measures in US survey foot: the coordinates are converted to metres" "$work/err"
check "the result holds metres" awk -v foot="$(awk 'BEGIN { printf "%.17g", 1200 / 3937 }')" '
    NR == FNR { x[FNR] = $1; next }
    FNR > 1 { d = $1 - x[FNR - 1] * foot; if (d > 0.0015 || d < -0.0015) bad = 1 }
    END { exit bad }' "$work/survey.dat" "$work/feet_res.dat"
run "$work/survey.csv" -o "$work/r.dat" --source-crs EPSG:32633 --crs EPSG:2227
check "a --crs in feet is a usage error" [ "$status" -eq 2 ]
check "naming the unit" grep -q "EPSG:2227) measures in US survey foot" "$work/err"

# A longitude beyond 180 is refused with its row; one sign-flipped longitude
# is named and the zone goes by the other stations (2026-12-10, issue 19).
awk 'NR == 9 { sub(/,-70\./, ",70.") } NR == 12 { sub(/,-70\.[0-9]*,/, ",-250.5,") } { print }' "$work/degrees.csv" >"$work/flipped.csv"
sed '12d' "$work/flipped.csv" >"$work/one_flipped.csv"
run "$work/flipped.csv" -o "$work/r.dat"
check "a longitude beyond 180 fails" [ "$status" -eq 1 ]
check "naming its row" grep -q "the longitude -250.5 of the station in row 11 lies beyond ±180" "$work/err"
run "$work/one_flipped.csv" -o "$work/r.dat" --min-points 4
check "one sign-flipped longitude still runs" [ "$status" -eq 0 ]
check "and is named" grep -q "^The station in row 8 (longitude 70.479, latitude -36) lies .* km from the survey's centre.*; the UTM zone is chosen from the other stations.$" "$work/err"
check "the zone goes by the others" grep -q "UTM zone 19S (EPSG:32719)" "$work/err"

# Headers it cannot take, and rows without numbers.
printf 'x,y,ba,cba\n1,2,3,4\n' >"$work/ambiguous.csv"
run "$work/ambiguous.csv" -o "$work/r.dat"
check "an ambiguous value is a usage error" [ "$status" -eq 2 ]
check "which lists the fields" grep -q "cba" "$work/err"
printf 'easting,northing,name\n1,2,A\n' >"$work/missing.csv"
run "$work/missing.csv" -o "$work/r.dat" --columns x=easting,y=northing
check "a missing value is a usage error" [ "$status" -eq 2 ]
run "$work/survey.csv" -o "$work/r.dat" --columns x=Easting,y=Northing,value=nothing
check "--columns naming a field the table lacks fails" [ "$status" -eq 1 ]
check "and lists the fields" grep -q "Fields: Station" "$work/err"
{ head -n 1 "$work/survey.csv"; tail -n +2 "$work/survey.csv" | sed '3s/,[^,]*$/,n\/a/; 5s/^\([^,]*\),[^,]*,/\1,,/'; } >"$work/holes.csv"
run "$work/holes.csv" -o "$work/r.dat"
check "rows without numbers are passed over" [ "$status" -eq 0 ]
check "and counted" grep -q "Rows passed over: 2" "$work/err"
# Names recognised by their words, units and separators aside; a header
# naming some columns is refused with what it lacks, one naming none with
# the fields, never with a guess about the decimal separator (2026-12-10,
# issue 18).
awk 'BEGIN { print "Easting_M;Northing_M;Stn No;Bouguer_anom;HT (m)" }
     { printf "%s;%s;%s;%s;%s\n", $1, $2, $3, $5, $4 }' "$work/survey.dat" >"$work/words.csv"
same_result "names with units and abbreviations" "$work/words.csv"
sed '1s/Bouguer_anom/Grav_thing/' "$work/words.csv" >"$work/lacks.csv"
run "$work/lacks.csv" -o "$work/r.dat"
check "a header naming some columns is a usage error" [ "$status" -eq 2 ]
check "which says what was not recognised" grep -q "no field is recognised as the value column.*Fields: Easting_M, Northing_M, Stn No, Grav_thing, HT (m)" "$work/err"
check "and does not blame the decimal separator" bash -c "! grep -q 'decimal separator' '$work/err'"
awk 'BEGIN { print "a;b;c;d" } { printf "%s;%s;%s;%s\n", $1, $2, $5, $4 }' "$work/survey.dat" >"$work/nothing.csv"
run "$work/nothing.csv" -o "$work/r.dat"
check "a header naming nothing fails" [ "$status" -eq 1 ]
check "saying so with the fields" grep -q "hint: .*no field in it is recognised.*Fields: a, b, c, d" "$work/err"
check "and no hint about the decimal separator" bash -c "! grep -q 'hint: the numbers' '$work/err'"

# Decimal commas read with a point are named with the option that reads
# them, and read with it give the station file's result (2026-12-10, issue 18).
awk 'BEGIN { print "x;y;name;h;value" } { $0 = $1 ";" $2 ";" $3 ";" $4 ";" $5; gsub(/\./, ","); print }' "$work/survey.dat" >"$work/commas.csv"
run "$work/commas.csv" -o "$work/r.dat" --decimal-separator .
check "decimal commas read with a point fail" [ "$status" -eq 1 ]
check "naming the option that reads them" grep -q "^error: .*is not a number with '.' as the decimal separator; use --decimal-separator ,$" "$work/err"
same_result "decimal commas with --decimal-separator ," "$work/commas.csv" --decimal-separator ,

# Quoting: a quote left open to the end of the file names the row where it
# opened, and nothing is written (2026-12-10, issue 19).
awk 'NR == 52 { print "1,2,\"open,3,4" } { print }' "$work/survey.csv" >"$work/open.csv"
run "$work/open.csv" -o "$work/open_res.dat"
check "a quote left open fails" [ "$status" -eq 1 ]
check "and names the row where it opened" grep -q "quote that opens a field in row 51 (line 52) is never closed" "$work/err"
check "and writes no result" [ ! -e "$work/open_res.dat" ]
{ printf 'name,x,y,value\n"A\nB",0,0,3\n"C, D",100,0,6\n'
  awk 'BEGIN { for (k = 2; k < 30; k++) printf "Q%d,%d,%d,%d\n", k, (k % 6) * 100, int(k / 6) * 100, k % 4 }'; } >"$work/quoted.csv"
run "$work/quoted.csv" -o "$work/quoted_res.dat" --min-points 4
check "quoted names over two lines and with commas are read" grep -q '^"C, D",' "$work/quoted_res.csv"
check "the table keeps the line end in a name" grep -q '^"A$' "$work/quoted_res.csv"
# 2026-12-10, issue 19: a line end or blank in a name broke the fixed columns.
check "the result has one line per station" [ "$(wc -l <"$work/quoted_res.dat")" -eq 31 ]
check "with the name's blank and line end as _" grep -q ' A_B ' "$work/quoted_res.dat"
# Encodings: a Latin-1 table read with --encoding gives UTF-8 names in the
# companion table; without it the line is named (2026-12-10, issue 18).
awk 'BEGIN { print "name;x;y;value" } { printf "Caf\351_%d;%s;%s;%s\n", NR, $1, $2, $5 }' "$work/survey.dat" >"$work/latin1.csv"
run "$work/latin1.csv" -o "$work/latin1_res.dat" --encoding LATIN1
check "a Latin-1 table runs with --encoding ($(head -c 200 "$work/err"))" [ "$status" -eq 0 ]
check "its names reach the companion table in UTF-8" grep -q "^Café_18," "$work/latin1_res.csv"
check "which is valid UTF-8 throughout" iconv -f UTF-8 -t UTF-8 -o /dev/null "$work/latin1_res.csv"
run "$work/latin1.csv" -o "$work/latin1_res.dat"
check "without --encoding it fails" [ "$status" -eq 1 ]
check "naming the line and --encoding" grep -q "line 2 is not UTF-8 text.*--encoding" "$work/err"
# --layer where there is no layer to choose is a usage error, not ignored
# (2026-12-10, issue 19).
for source in "$work/survey.dat" "$work/survey.csv"; do
    run "$source" -o "$work/r.dat" --layer stations
    check "--layer on $(basename "$source") is a usage error" [ "$status" -eq 2 ]
    check "saying it has no layers" grep -q "is a text file, which has no layers" "$work/err"
done

# Sources that cannot be read, with every option about tables and coordinate
# systems: a message and an exit status, never an abort (2026-12-10, issue
# 19: a missing file with --crs ended in "terminate called").
option_sets=("" "--crs EPSG:32719" "--source-crs EPSG:32719" "--columns x=a,y=b,value=c"
    "--layer stations" "--source-crs EPSG:4326 --crs EPSG:32719")
: >"$work/empty.csv"
mkdir -p "$work/folder.csv"
# A file the tool may not read: permission bits do not stop root, so as root
# the tool runs as nobody, in a folder nobody may write.
locked_dir=$(mktemp -d)
trap 'rm -rf "$work" "$locked_dir"' EXIT
chmod 777 "$locked_dir"
printf '1 2 A 3 4\n' >"$locked_dir/locked.csv"
chmod 000 "$locked_dir/locked.csv"
as_reader=()
if [ "$(id -u)" -eq 0 ]; then
    if command -v setpriv >/dev/null; then
        as_reader=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    else
        echo "skipped: the unreadable file (root, and no setpriv to drop to nobody)" >&2
    fi
fi
unreadable_run=1
[ "$(id -u)" -eq 0 ] && [ ${#as_reader[@]} -eq 0 ] && unreadable_run=0
for options in "${option_sets[@]}"; do
    # source | expected status | what standard error says
    cases=("$work/absent.csv|1|No such file or directory"
        "$work/folder.csv|1|Is a directory"
        "$work/empty.csv|1|holds no station")
    [ "$unreadable_run" -eq 1 ] && cases+=("$locked_dir/locked.csv|1|Permission denied")
    for entry in "${cases[@]}"; do
        IFS='|' read -r source want pattern <<<"$entry"
        if [ "$source" = "$work/empty.csv" ] && [[ "$options" == --layer* ]]; then
            want=2 pattern="--layer: .* is a text file, which has no layers"
        fi
        runner=()
        [ "$source" = "$locked_dir/locked.csv" ] && runner=("${as_reader[@]}")
        # shellcheck disable=SC2086 # the options split into words
        "${runner[@]}" "$tool" "$source" $options -o "$locked_dir/r.dat" >"$work/out" 2>"$work/err" </dev/null
        status=$?
        name="$(basename "$source") with '${options:-no option}'"
        check "$name: status $status, expected $want" [ "$status" -eq "$want" ]
        check "$name says why ($(head -c 200 "$work/err"))" grep -q -- "$pattern" "$work/err"
    done
done

printf 'this is not a GeoPackage' >"$work/broken.gpkg"
run "$work/broken.gpkg" -o "$work/r.dat"
check "a file that only looks like a GeoPackage fails" [ "$status" -ne 0 ] && [ "$status" -lt 128 ]

finish
