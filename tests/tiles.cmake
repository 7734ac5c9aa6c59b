# The tile archive writers (PMTiles, MBTiles), tile numbers and the tile
# run are unit-tested in the one test program; the command itself and the
# readers we did not write (GDAL, the npm pmtiles package, MapLibre in
# Chromium) in the scripts below.
if(NOT TARGET orvextiles)
  return()
endif()
target_link_libraries(orvex_tests PRIVATE orvextiles)

if(NOT TARGET orvex_command)
  return()
endif()
# The archives of a small world map read by GDAL, SQLite and the npm
# pmtiles package against serve's tiles; terrain decoded back to samples;
# interrupted and refused runs.
add_test(NAME tiles.archives COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/tiles/check_archives.py
         $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/tiles-work)
set_tests_properties(tiles.archives PROPERTIES TIMEOUT 180)
# The archives from a range-serving static server in MapLibre GL JS in
# headless Chromium, pictures and terrain (skipped without Chromium, its
# driver, selenium or tests/web's npm packages).
add_test(NAME tiles.browser COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/tiles/tiles_browser.py
         $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/tiles-browser)
set_tests_properties(tiles.browser PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77)
orvex_cli(tiles.help pass "Usage: orvex tiles.*--kind KIND" tiles --help)
orvex_cli(tiles.no_archive fail "the archive to write is missing" tiles --threads 2)
orvex_cli(tiles.not_an_archive fail "x.png. ends neither in .pmtiles nor in .mbtiles" tiles map.orx x.png)
orvex_cli(tiles.bad_threads fail "--threads '0' is out of range" tiles map.orx x.pmtiles --threads 0)
orvex_cli(tiles.colour_terrain fail "--layer 1 is not an elevation grid" tiles map.orx t.pmtiles --kind terrain --layer 1)
# A tile that cannot be read stops the run with its message; nothing is left.
set(ORVEX_CLI_CHECK "-DABSENT=broken.pmtiles")
orvex_cli(tiles.broken_tile fail "cannot write 'broken.pmtiles'.*inflate.*cannot draw tile [0-9]+/[0-9]+/[0-9]+" tiles bad-payload.orx broken.pmtiles -z 0-1 --threads 2)
unset(ORVEX_CLI_CHECK)
