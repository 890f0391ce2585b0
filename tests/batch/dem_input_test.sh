#!/usr/bin/env bash
# korvanel-batch --dem: a DEM in the stations' projection gives every station
# its h_dem while the result file stays what it is without one; the DEMs it
# cannot use and bad options are refused with a message naming the file or
# option, exit 1 (2 for a usage error), and nothing written.
# Usage: dem_input_test.sh KORVANEL_BATCH MAKE_SURVEY
set -u
export LC_ALL=C.UTF-8
tool=$1
make_survey=$2
. "$(dirname "$0")/checks.sh"

run() {  # run ARGS...: sets status
    "$tool" "$@" >"$work/out" 2>"$work/err" </dev/null
    status=$?
}

# The synthetic survey lies at x 500000..504000, y 5500000..5504000; its
# heights follow 400 + 150 sin((x - 500000) / 3000) + 80 cos((y - 5500000) /
# 2000). The DEM holds that field at 50 m pixel centres, as an ESRI ASCII
# grid (any raster GDAL reads will do) in WGS 84 / UTM zone 19S.
"$make_survey" 150 300 5 >"$work/survey.dat"
ascii_grid() {  # ascii_grid XLLCORNER YLLCORNER > FILE
    awk -v xll="$1" -v yll="$2" 'BEGIN {
        n = 140; size = 50
        printf "ncols %d\nnrows %d\nxllcorner %s\nyllcorner %s\n", n, n, xll, yll
        printf "cellsize %d\nNODATA_value -9999\n", size
        for (r = 0; r < n; r++) {
            y = yll + (n - r - 0.5) * size
            line = ""
            for (c = 0; c < n; c++) {
                x = xll + (c + 0.5) * size
                h = 400 + 150 * sin((x - 500000) / 3000) + 80 * cos((y - 5500000) / 2000)
                line = line sprintf("%.3f ", h)
            }
            print line
        }
    }'
}
utm19s='PROJCS["WGS_1984_UTM_Zone_19S",GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",SPHEROID["WGS_1984",6378137.0,298.257223563]],PRIMEM["Greenwich",0.0],UNIT["Degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["False_Easting",500000.0],PARAMETER["False_Northing",10000000.0],PARAMETER["Central_Meridian",-69.0],PARAMETER["Scale_Factor",0.9996],PARAMETER["Latitude_Of_Origin",0.0],UNIT["Meter",1.0]]'
ascii_grid 499000 5499000 >"$work/dem.asc"
echo "$utm19s" >"$work/dem.prj"

run "$work/survey.dat" -o "$work/plain_res.dat"
check "the survey runs without a DEM" [ "$status" -eq 0 ]
run "$work/survey.dat" -o "$work/dem_res.dat" --dem "$work/dem.asc"
check "the survey runs with a DEM ($(head -c 300 "$work/err"))" [ "$status" -eq 0 ]
check "the result file is the same with a DEM" cmp -s "$work/dem_res.dat" "$work/plain_res.dat"
check "stations without a CRS take the DEM's, and say so" grep -q "taken to be in the DEM's" "$work/out" "$work/err"
check "the vertical datum is said" grep -q "same vertical datum" "$work/out" "$work/err"
# Every station's h_dem is its height within the rounding of both.
awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
         { d = $col["h"] - $col["h_dem"]; if (d < -0.2 || d > 0.2 || $col["h_dem"] == "") bad++; n++ }
         END { exit !(n == 150 && bad == 0) }' "$work/dem_res.csv"
check "every station has its h_dem" [ $? -eq 0 ]

# Refusals: the earlier result is left as it was.
refused() {  # refused NAME STATUS TEXT ARGS...
    local name=$1 expected=$2 text=$3
    shift 3
    echo "earlier" >"$work/kept_res.dat"
    run "$work/survey.dat" -o "$work/kept_res.dat" "$@"
    check "$name: exit $expected (got $status)" [ "$status" -eq "$expected" ]
    check "$name: says '$text' ($(head -c 300 "$work/err"))" grep -qF -- "$text" "$work/err"
    check "$name: nothing written" [ "$(cat "$work/kept_res.dat")" = earlier ]
    check "$name: no companion table" [ ! -e "$work/kept_res.csv" ]
}
refused "a zero tolerance" 2 "--dem-tolerance" --dem "$work/dem.asc" --dem-tolerance 0
refused "a tolerance that is not a number" 2 "--dem-tolerance" --dem "$work/dem.asc" --dem-tolerance ten
refused "a DEM without quality control" 2 "--no-qc" --dem "$work/dem.asc" --no-qc
refused "the result over the DEM" 2 "is the DEM named by --dem" --dem "$work/kept_res.dat"
echo "not a raster" >"$work/notes.txt"
refused "a file GDAL cannot open" 1 "--dem $work/notes.txt: cannot be read as a raster" --dem "$work/notes.txt"
refused "a missing DEM" 1 "--dem $work/none.tif: cannot be read as a raster" --dem "$work/none.tif"
cp "$work/dem.asc" "$work/bare.asc"
refused "a DEM without CRS" 1 "--dem $work/bare.asc: the raster declares no coordinate reference system" --dem "$work/bare.asc"
ascii_grid 700000 5499000 >"$work/far.asc"
echo "$utm19s" >"$work/far.prj"
refused "a DEM beside the survey" 1 "covers none of the 150 stations (150 fall outside it, 0 on its nodata)" --dem "$work/far.asc"

finish
