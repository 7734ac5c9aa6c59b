# The tile archive writers (PMTiles, MBTiles), tile numbers and the tile
# run are unit-tested in the one test program; the command itself and the
# readers we did not write (GDAL, the npm pmtiles package, MapLibre in
# Chromium) in the scripts below.
if(NOT TARGET orvextiles)
  return()
endif()
target_link_libraries(orvex_tests PRIVATE orvextiles)
