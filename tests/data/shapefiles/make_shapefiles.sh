#!/bin/sh
# Writes the test shapefiles of this folder with shapelib's own command-line
# utilities (Debian package "shapelib"), so that the importer is checked
# against files it did not write itself. Run it in this folder.
set -e

# Two polygons: a square with a square hole (two parts), and a triangle
# that crosses the date line; then a shape with no points.
shpcreate islands polygon
shpadd islands 0 0 0 10 10 10 10 0 0 0 + 2 2 8 2 8 8 2 8 2 2
shpadd islands 179 -1 -179 -1 -179 1 179 -1
shpadd islands
dbfcreate islands -s NAME 16 -n AREA 10 2
dbfadd islands "Square" 96.00
dbfadd islands "Dateline" 2.00
dbfadd islands "Empty" 0

# Two polylines: one of two parts, one of three points.
shpcreate rivers arc
shpadd rivers 1 1 2 2 + 3 3 4 4 5 5
shpadd rivers -20 -10 -21 -11 -22 -10
dbfcreate rivers -s NAME 12
dbfadd rivers "Forked"
dbfadd rivers "Bent"

# Points, which give no segments.
shpcreate towns point
shpadd towns 7 45
shpadd towns 8 46
dbfcreate towns -s NAME 12 -n POP 8 0
dbfadd towns "Upper" 1200
dbfadd towns "Lower" 340

# A polygon with z values.
shpcreate terraces polygonz
shpadd terraces -z 30 40 100 31 40 100 31 41 120 30 40 100
dbfcreate terraces -n LEVEL 4 0
dbfadd terraces 3
