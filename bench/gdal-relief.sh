#!/usr/bin/env bash
# The default map's 5' relief made into the RGB raster a GIS user would
# hand to gdal2tiles, in the current folder: `orvex export` of the grid,
# gdaldem color-relief with the drawing code's palette and gdaldem
# hillshade, multiplied into relief.tif. Kept when it is already there.
#
# Usage: bench/gdal-relief.sh ORVEX MAP
set -euo pipefail
orvex=$1 map=$2

# The elevation palette of the drawing code, in gdaldem's colour file form.
cat > palette.txt <<'PAL'
nv 200 200 200
-11000 8 16 64
-6000 16 40 110
-3000 30 80 160
-200 70 140 200
-0.001 140 200 230
0 60 130 70
300 120 170 90
1000 200 190 120
2000 170 130 80
3500 130 100 80
5000 230 230 230
9000 255 255 255
PAL

if [ ! -f relief.tif ]; then
  "$orvex" export "$map" --res 0 --overwrite relief0.tif
  # Turned to -180..180 and cut at Web Mercator's latitude, on the same
  # cells (centred on the samples), for gdal2tiles to warp.
  gdalwarp -q -overwrite --config CENTER_LONG 0 -r near -tr 0.0833333333333333 0.0833333333333333 \
    -te -180.0416666666667 -85.0416666666667 179.9583333333333 85.0416666666667 relief0.tif relief5.tif
  gdaldem color-relief -q relief5.tif palette.txt colour.tif
  gdaldem hillshade -q -s 111120 -z 2 relief5.tif shade.tif
  # Colour times shade, scaled so that flat ground (shade about 180) keeps its colour.
  gdal_calc.py --quiet --overwrite -A colour.tif --A_band=1 -B shade.tif --calc="minimum(A.astype(float)*B/180.0,255)" --type=Byte --outfile=r.tif
  gdal_calc.py --quiet --overwrite -A colour.tif --A_band=2 -B shade.tif --calc="minimum(A.astype(float)*B/180.0,255)" --type=Byte --outfile=g.tif
  gdal_calc.py --quiet --overwrite -A colour.tif --A_band=3 -B shade.tif --calc="minimum(A.astype(float)*B/180.0,255)" --type=Byte --outfile=b.tif
  gdal_merge.py -q -separate -o relief.tif r.tif g.tif b.tif
fi

