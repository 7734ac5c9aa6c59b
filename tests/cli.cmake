# Command-line tests of the orvex command: every subcommand on small files
# made at test time, with expected output, bad arguments and bad files.
if(NOT TARGET orvex_command)
  return()
endif()

# The pure logic of the command (regions, colours, drawing, build plans)
# is unit-tested in test_tool_*.cpp.
target_link_libraries(orvex_tests PRIVATE orvextool orvexdraw)

add_executable(orvex_testdata ${CMAKE_CURRENT_SOURCE_DIR}/tools/orvex_testdata.cpp)
target_link_libraries(orvex_testdata PRIVATE ZLIB::ZLIB)

set(CLI_DIR ${CMAKE_CURRENT_BINARY_DIR}/cli)
set(CLI_DATA ${CLI_DIR}/data)
file(MAKE_DIRECTORY ${CLI_DATA}/maps/orx ${CLI_DIR}/nodata)
file(WRITE ${CLI_DIR}/mixed.recipe
  "# a grid and a filled shoreline layer\n"
  "grid tiny.dem --dec 2 --tiles 1x2 --name relief --label \"90 degrees\"\n"
  "vector shore.gshhs --fill --name shore\n")
file(WRITE ${CLI_DIR}/broken.recipe "grid tiny.dem --label \"open quote\n")

add_test(NAME cli.setup COMMAND ${CMAKE_COMMAND} -E chdir ${CLI_DIR} sh -c
  "rm -f built*.orx exists.orx && $<TARGET_FILE:orvex_testdata> sources . && \
   $<TARGET_FILE:orvex_testdata> map map.orx && $<TARGET_FILE:orvex_testdata> map data/maps/orx/default.orx && \
   for d in magic truncate payload range points overlap unwritten huge; do \
     $<TARGET_FILE:orvex_testdata> map bad-$d.orx $d || exit 1; done && cp map.orx exists.orx && \
   $<TARGET_FILE:orvex_testdata> map short-payload.orx short && \
   printf '\\211PNG\\r\\n\\032\\n\\000\\000\\000\\015IHDR' > fake.png && \
   printf 'SQLite format 3\\000\\020\\000' > fake.db && : > zero.orx")
set_tests_properties(cli.setup PROPERTIES FIXTURES_SETUP cli_data)

# orvex_cli(NAME pass|fail REGEX [ARGS...]): one command line and what it
# must print. A list in ORVEX_CLI_CHECK adds checks of the files it leaves
# (-DABSENT=..., -DSAME=..., see cli/expect.cmake).
function(orvex_cli name expect match)
  string(REPLACE ";" "|" args "${ARGN}")
  add_test(NAME cli.${name} COMMAND ${CMAKE_COMMAND} -DCOMMAND=$<TARGET_FILE:orvex_command> "-DARGS=${args}"
           -DEXPECT=${expect} "-DMATCH=${match}" -DWORKDIR=${CLI_DIR} -DDATA=${CLI_DATA} ${ORVEX_CLI_CHECK}
           -P ${CMAKE_CURRENT_SOURCE_DIR}/cli/expect.cmake)
  set_tests_properties(cli.${name} PROPERTIES FIXTURES_REQUIRED cli_data)
endfunction()

# Help everywhere, and the dispatcher's own mistakes.
orvex_cli(help pass "Usage: orvex COMMAND.*render" --help)
foreach(sub info build query render check)
  orvex_cli(${sub}.help pass "Usage: orvex ${sub}" ${sub} --help)
endforeach()
orvex_cli(no_command fail "Usage: orvex COMMAND")
orvex_cli(unknown_command fail "unknown command 'frobnicate'" frobnicate)

# info
orvex_cli(info.map pass "Resolution 0: name \"relief\".*payload [0-9]+ bytes of 64 .*Elevation: -1000 to 2060.*Resolution 1: name \"colour\".*Compression: none.*Resolution 2: name \"shore\", label \"test\", vector.*Segments: 2, points 8, 1 of 1 tiles filled.*Levels: 1 \\(1\\) 2 \\(1\\)" info map.orx)
orvex_cli(info.default pass "Map: .*data/maps/orx/default.orx \\([0-9]+ bytes, 3 resolutions\\)" info)
orvex_cli(info.empty pass "0 resolutions" info empty.orx)
orvex_cli(info.raw_grid pass "data type dem.*Grid: 8 x 4 samples.*Compression: none.*Elevation: -1000 to 2060 \\(read from the samples; a raw grid records no range\\)" info tiny.dem)
orvex_cli(info.gshhs pass "vector, data type gshhs.*Segments: 3, points 12" info shore.gshhs)
orvex_cli(info.missing fail "orvex info: cannot open map 'missing.orx'.*datafile: cannot open maps/orx/missing.orx: No such file or directory \\(tried .*/data/maps/orx/missing.orx, .*datafile\\(maps/orx/missing.orx\\)" info missing.orx)
orvex_cli(info.bad_magic fail "cannot open map 'bad-magic.orx'.*magic" info bad-magic.orx)
orvex_cli(info.too_many fail "too many arguments" info a.orx b.orx)
# query
orvex_cli(query.sample pass "Resolution 0 \"relief\" \\(grid\\): tile 0 \\(row 0, column 0\\), sample row 0 column 0, elevation -1000.*Resolution 1 \"colour\" \\(grid\\): tile 0 \\(row 0, column 0\\), sample row 0 column 0, colour 0 0 200.*Resolution 2 \"shore\" \\(vector\\): tile 0 \\(row 0, column 0\\), 2 segments" query 90 -180 map.orx)
orvex_cli(query.nearest pass "Resolution 0 \"relief\" \\(grid\\): tile 0 \\(row 0, column 0\\), sample row 1 column 1, elevation 10\n.*colour 60 30 200" query 60 -150 map.orx)
orvex_cli(query.nodata pass "Resolution 0 \"relief\" \\(grid\\): tile 3 \\(row 1, column 1\\), sample row 1 column 3, elevation no data" query -45 135 map.orx)
orvex_cli(query.wrapped pass "Resolution 0 \"relief\" \\(grid\\): tile 0 .*sample row 1 column 1, elevation 10" query 45 225 map.orx)
orvex_cli(query.east_edge pass "Resolution 0 \"relief\" \\(grid\\): tile 0 .*sample row 0 column 0, elevation -1000.*Resolution 2 \"shore\" \\(vector\\): tile 0" query 90 180 map.orx)
orvex_cli(query.default pass "Resolution 0 \"relief\"" query 10 10)
orvex_cli(query.bad_latitude fail "latitude '95' is not a number from -90 to 90" query 95 0 map.orx)
orvex_cli(query.not_a_number fail "longitude '1e' is not a number" query 10 1e map.orx)
orvex_cli(query.missing_args fail "expected LAT LON" query 10)
orvex_cli(query.missing_map fail "cannot open map 'missing.orx'" query 0 0 missing.orx)
orvex_cli(query.broken_tile fail "cannot read a tile of resolution 0.*inflate" query 60 10 bad-payload.orx)

# check
orvex_cli(check.good pass "OK, 3 resolutions verified" check map.orx)
orvex_cli(check.empty pass "OK, 0 resolutions verified" check empty.orx)
orvex_cli(check.magic fail "not a readable map file.*magic" check bad-magic.orx)
orvex_cli(check.truncated fail "bad-truncate.orx" check bad-truncate.orx)
orvex_cli(check.payload fail "resolution 0: tile 1 does not inflate to its 16 bytes" check bad-payload.orx)
orvex_cli(check.short pass "resolution 0: warning: tile 1 inflates to 8 of its 16 bytes; readers fill the rest with zeros\n.*OK, 3 resolutions verified, 1 warning" check short-payload.orx)
orvex_cli(check.short_query pass "tile 1 \\(row 0, column 1\\), sample row 1 column 0, elevation 0\n" query 45 0 short-payload.orx)
orvex_cli(check.range fail "resolution 0: tile 0 records elevations -1000 to 35 but holds -1000 to 30" check bad-range.orx)
orvex_cli(check.points fail "resolution 2: tile 0 segment 1: 1 of 4 points lie outside" check bad-points.orx)
orvex_cli(check.overlap fail "overlaps" check bad-overlap.orx)
orvex_cli(check.unwritten fail "resolution 0: tile 3 was never written.*1 problem found" check bad-unwritten.orx)
orvex_cli(check.huge fail "not a readable map file.*resolution 0: grid tile size is negative or too large" check bad-huge.orx)
orvex_cli(check.no_args fail "expected exactly one MAP" check)
# Raw tiles of 1.2 GB and 4.6 GB (sparse files): every reader takes what a
# build may declare, and check verifies every sample of a tile over 1 GiB.
add_test(NAME cli.big.setup COMMAND ${CMAKE_COMMAND} -E chdir ${CLI_DIR} sh -c
  "$<TARGET_FILE:orvex_testdata> big big-1g.orx 24000 24000 && $<TARGET_FILE:orvex_testdata> big big-4g.orx 48000 48000")
set_tests_properties(cli.big.setup PROPERTIES FIXTURES_SETUP cli_big FIXTURES_REQUIRED cli_data)
orvex_cli(big.check pass "OK, 1 resolution verified" check big-1g.orx)
orvex_cli(big.info pass "tile 48000 x 48000 samples.*payload 4608000000 bytes.*Elevation: 0 to 0" info big-4g.orx)
orvex_cli(big.query pass "tile 0 \\(row 0, column 0\\), sample row 24000 column 24000, elevation 0" query 0 0 big-4g.orx)
set_tests_properties(cli.big.check cli.big.info cli.big.query PROPERTIES FIXTURES_REQUIRED "cli_data;cli_big")

# render
orvex_cli(render.world pass "wrote world.png \\(256 x 128\\), grid resolution 0, vector resolution 2" render map.orx -o world.png --width 256)
orvex_cli(render.dateline pass "wrote dateline.png \\(64 x 64\\)" render map.orx -o dateline.png --region 170/-170/-50/-30 --width 64)
orvex_cli(render.colour pass "grid resolution 1" render map.orx -o colour.png --width 64 --colour)
orvex_cli(render.vector_only pass "wrote shore.png \\(128 x 64\\), vector resolution 2" render map.orx -o shore.png --width 128 --grid none)
orvex_cli(render.gshhs pass "vector resolution 0" render shore.gshhs -o gshhs.png --width 128)
orvex_cli(render.default pass "wrote default.png" render -o default.png --width 64)
orvex_cli(render.no_output fail "no output file given" render map.orx)
orvex_cli(render.bad_region fail "latitudes must satisfy" render map.orx -o x.png --region 0/10/20/10)
orvex_cli(render.bad_width fail "--width '5' is not a whole number from 16 to 16384" render map.orx -o x.png --width 5)
orvex_cli(render.not_grid fail "--grid 2 is not a grid resolution" render map.orx -o x.png --grid 2)
orvex_cli(render.nothing fail "nothing to draw" render map.orx -o x.png --grid none --vector none)
orvex_cli(render.unwritable fail "cannot write '/nonexistent/x.png'.*No such file or directory" render map.orx -o /nonexistent/x.png --width 32)
orvex_cli(render.huge_tiles fail "cannot open map 'bad-huge.orx'.*too large" render bad-huge.orx -o x.png --width 64)
orvex_cli(render.broken_tile fail "cannot read the tiles of resolution 0.*inflate" render bad-payload.orx -o x.png --width 64)

# build: mistakes in the command line
orvex_cli(build.no_output fail "no output file given" build --grid tiny.dem)
orvex_cli(build.no_resolution fail "no resolution given" build out.orx)
orvex_cli(build.option_first fail "unknown option --dec \\(resolution options follow --grid or --vector\\)" build out.orx --dec 2 --grid tiny.dem)
orvex_cli(build.fill_on_grid fail "--fill applies to vector resolutions only" build out.orx --grid tiny.dem --fill)
orvex_cli(build.bad_tiles fail "--tiles: '0x2' is not ROWSxCOLUMNS" build out.orx --grid tiny.dem --tiles 0x2)
orvex_cli(build.add_first fail "--add must follow a vector resolution" build out.orx --grid tiny.dem --vector shore.gshhs --add)
orvex_cli(build.no_recipe fail "cannot read recipe file 'none.recipe'" build out.orx --recipe none.recipe)
orvex_cli(build.broken_recipe fail "broken.recipe:1: unclosed quote" build out.orx --recipe broken.recipe)
# build: bad inputs and outputs
orvex_cli(build.missing_input fail "cannot open input 'missing.dem'" build out.orx --grid missing.dem)
orvex_cli(build.no_geometry fail "Cannot find dlat in parameter file" build out.orx --grid nogeometry.dem)
# A build never touches a file it did not create, and leaves no half-written
# map behind.
set(ORVEX_CLI_CHECK "-DSAME=exists.orx|map.orx")
orvex_cli(build.exists fail "cannot create 'exists.orx'.*Cannot overwrite existing file" build exists.orx --grid tiny.dem)
set(ORVEX_CLI_CHECK "-DSAME=map.orx|exists.orx")
orvex_cli(build.output_is_input fail "is also an input" build map.orx --overwrite --grid map.orx)
set(ORVEX_CLI_CHECK "-DABSENT=built-bad.orx")
orvex_cli(build.bad_decimation fail "cannot declare resolution 0.*4 source rows give no sample to each of 1 tile rows at decimation 5" build built-bad.orx --grid tiny.dem --dec 5)
unset(ORVEX_CLI_CHECK)
orvex_cli(build.cut_decimation pass "resolution 0 \\(decimation 3, 1x1 tiles\\) covers 3 of 4 source rows and 6 of 8 source columns" build built-cut.orx --grid tiny.dem --dec 3)

# build, then read back what was built
orvex_cli(build.mixed pass "wrote built.orx: 2 resolutions, 3 tiles" build built.orx --recipe mixed.recipe)
orvex_cli(build.from_map pass "wrote built-map.orx: 2 resolutions" build built-map.orx --grid map.orx --res 1 --dec 2 --no-compress --vector map.orx --res 2 --level 3)
orvex_cli(build.areas_and_lines pass "wrote built-both.orx: 2 resolutions" build built-both.orx --vector shore.gshhs --fill --vector map.orx --res 2 --name lines)
orvex_cli(build.families pass "wrote built-families.orx: 4 resolutions" build built-families.orx
          --vector shore.gshhs --fill --vector map.orx --res 2 --name borders-a
          --vector map.orx --res 2 --name rivers-a --vector map.orx --res 2 --name borders-b)
set_tests_properties(cli.build.mixed cli.build.from_map cli.build.areas_and_lines cli.build.families
                     PROPERTIES FIXTURES_SETUP cli_built)
orvex_cli(built.check pass "OK, 2 resolutions verified" check built.orx)
orvex_cli(built.check_map pass "OK, 2 resolutions verified" check built-map.orx)
orvex_cli(built.info pass "name \"relief\", label \"90 degrees\", grid.*decimation 2.*name \"shore\".*Segments: 3" info built.orx)
orvex_cli(built.query pass "Resolution 0 \"relief\" \\(grid\\): tile 0 .*elevation" query 10 -100 built.orx)
orvex_cli(built.render pass "wrote built.png" render built.orx -o built.png --width 128)
# Without --vector, the best area layer and the best line layer are drawn.
orvex_cli(built.render_both pass "wrote both.png \\(128 x 64\\), vector resolution 0,1" render built-both.orx -o both.png --width 128)
# Line layers of each family (name up to its last '-') are chosen apart:
# one of borders-a and borders-b, and rivers-a.
orvex_cli(built.render_families pass "wrote families.png \\(128 x 64\\), vector resolution 0,1,2"
          render built-families.orx -o families.png --width 128)
set_tests_properties(cli.built.check cli.built.check_map cli.built.info cli.built.query cli.built.render cli.built.render_both
                     cli.built.render_families PROPERTIES FIXTURES_REQUIRED "cli_data;cli_built")

# An independent reader of the file layout (numpy) checks every sample of a
# decimation cut to whole windows, and orvex query at sample positions.
execute_process(COMMAND /usr/bin/python3 -c "import numpy" RESULT_VARIABLE ORVEX_NUMPY_MISSING
                OUTPUT_QUIET ERROR_QUIET)
if(ORVEX_NUMPY_MISSING EQUAL 0)
  set_tests_properties(cli.build.cut_decimation PROPERTIES FIXTURES_SETUP cut_map)
  add_test(NAME cli.cut.samples COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_grid_samples.py
           built-cut.orx tiny.dem --query $<TARGET_FILE:orvex_command> WORKING_DIRECTORY ${CLI_DIR})
  set_tests_properties(cli.cut.samples PROPERTIES FIXTURES_REQUIRED "cli_data;cut_map"
                       PASS_REGULAR_EXPRESSION "decimation 3, 1 x 2 samples in 1 x 1 tiles: ok")
endif()

# Rasters and vectors of GIS formats made with GDAL's own API: every sample
# of the built maps against GDAL's reading, exports read back, refusals.
if(ORVEX_HAVE_GDAL)
  execute_process(COMMAND /usr/bin/python3 -c "import numpy; from osgeo import gdal"
                  RESULT_VARIABLE ORVEX_PYGDAL_MISSING OUTPUT_QUIET ERROR_QUIET)
  if(ORVEX_PYGDAL_MISSING EQUAL 0)
    add_test(NAME cli.gdal.sources COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/gdal_sources.py
             $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/gdal)
    set_tests_properties(cli.gdal.sources PROPERTIES PASS_REGULAR_EXPRESSION "all GDAL sources ok")
    # Exports read back by GDAL's validators, gdalinfo, gdallocationinfo and gdalwarp.
    add_test(NAME cli.gdal.exports COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/gdal_exports.py
             $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/gdal-exports)
    set_tests_properties(cli.gdal.exports PROPERTIES PASS_REGULAR_EXPRESSION "all GDAL exports ok" TIMEOUT 300)
  else()
    message(WARNING "python3-gdal or numpy missing: the GDAL source tests are left out")
  endif()
  orvex_cli(export.help pass "Usage: orvex export MAP --res K" export --help)
  orvex_cli(export.no_res fail "--res K names the resolution" export map.orx out.tif)
  orvex_cli(export.bad_res fail "'map.orx' has 3 resolutions, no resolution 7" export map.orx --res 7 out.tif)
  orvex_cli(export.suffix fail "the suffix of 'out.xyz' names no raster format; give --format DRIVER"
            export map.orx --res 0 out.xyz)
  orvex_cli(export.vector_suffix fail "the suffix of 'out.tif' names no vector format"
            export map.orx --res 2 out.tif)
  orvex_cli(export.no_driver fail "GDAL has no raster driver 'Frobnicate'" export map.orx --res 0 --format Frobnicate out.x)
  orvex_cli(export.exists fail "cannot create 'exists.orx': it exists \\(--overwrite replaces it\\)"
            export map.orx --res 0 --format GTiff exists.orx)
  orvex_cli(export.empty_region fail "the region holds no sample of resolution 0"
            export map.orx --res 0 --region 10/11/-89.9/-89.8 none.tif)
  # Formats that would change the samples are refused, naming those that hold them.
  orvex_cli(export.png_elevations fail "GDAL's PNG driver writes Byte UInt16 samples, not Int16; 16-bit elevations go exactly to GeoTIFF \\(.tif\\)"
            export map.orx --res 0 relief.png)
  orvex_cli(export.jpeg_colours fail "GDAL's JPEG driver compresses with loss; colours go exactly to GeoTIFF \\(.tif\\), PNG"
            export map.orx --res 1 --format JPEG colour.jpg)
  orvex_cli(export.vector pass "wrote shore.geojson \\(GeoJSON\\): resolution 2, 2 features"
            export map.orx --res 2 shore.geojson --overwrite)
  orvex_cli(build.bad_spacing fail "--spacing must lie above 0" build x.orx --grid a.tif --spacing 0)
  orvex_cli(build.bad_scratch fail "--scratch-mb: '0' is not a whole number from 1" build x.orx --grid a.tif --scratch-mb 0)
endif()

# Interrupted commands: each signal at each step of a build (output created,
# after the first and the last tile, flushed but not yet renamed) leaves
# nothing at the output's name; a replaced map survives whole.
function(orvex_interrupted name sig point out before)
  add_test(NAME cli.interrupted.${name} COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cli/interrupted.sh
           $<TARGET_FILE:orvex_command> ${CLI_DIR} ${sig} ${point} ${out} ${before} -- ${ARGN})
  set_tests_properties(cli.interrupted.${name} PROPERTIES FIXTURES_REQUIRED cli_data
                       ENVIRONMENT ORVEX_DATA=${CLI_DATA})
endfunction()
foreach(sig 1 2 9 15)
  foreach(point created tile1 tile3 commit)
    orvex_interrupted(build.${sig}.${point} ${sig} ${point} int-${sig}-${point}.orx ""
                      build int-${sig}-${point}.orx --recipe mixed.recipe)
  endforeach()
endforeach()
orvex_interrupted(build.overwrite.15 15 tile2 int-over15.orx map.orx
                  build int-over15.orx --overwrite --recipe mixed.recipe)
orvex_interrupted(build.overwrite.9 9 commit int-over9.orx map.orx
                  build int-over9.orx --overwrite --recipe mixed.recipe)
orvex_interrupted(render.2 2 written int-2.png "" render map.orx -o int-2.png --width 64)
orvex_interrupted(render.9 9 commit int-9.png "" render map.orx -o int-9.png --width 64)
set(SHAPES ${CMAKE_CURRENT_SOURCE_DIR}/data/shapefiles)
orvex_interrupted(shp2db.15 15 imported1 int-15.db "" shp2db ${SHAPES}/rivers.shp ${SHAPES}/towns.shp int-15.db)
orvex_interrupted(shp2db.9 9 commit int-9.db "" shp2db ${SHAPES}/rivers.shp int-9.db)

# What a file given as a map really is, when it is not one.
set(ORVEX_CLI_CHECK -DSTATUS=1)
orvex_cli(check.kind.png fail "orvex check: 'fake.png' is a PNG image, not a map file" check fake.png)
orvex_cli(check.kind.raw_grid fail "'tiny.dem' is a raw grid \\(with its parameter file beside it\\), not a map file" check tiny.dem)
orvex_cli(check.kind.gshhs fail "'shore.gshhs' is a GSHHS shoreline file, not a map file" check shore.gshhs)
orvex_cli(check.kind.sqlite fail "'fake.db' is an SQLite database, not a map file" check fake.db)
orvex_cli(check.kind.shapefile fail "is a shapefile \\(.shp or .shx\\), not a map file" check ${SHAPES}/towns.shp)
orvex_cli(check.kind.empty fail "'zero.orx' is an empty file, not a map file" check zero.orx)
orvex_cli(check.kind.text fail "'mixed.recipe' is a text file, not a map file" check mixed.recipe)
if(ORVEX_HAVE_GDAL)
  # A file GDAL takes for a raster is read as one, and refused as one.
  orvex_cli(info.kind.png fail "orvex info: cannot read the raster 'fake.png'.*GDAL: libpng" info fake.png)
else()
  orvex_cli(info.kind.png fail "orvex info: 'fake.png' is a PNG image, not a map file; this orvex was built without GDAL"
            info fake.png)
endif()
orvex_cli(info.kind.text fail "orvex info: 'broken.recipe' is a text file, not a map file" info broken.recipe)
orvex_cli(render.kind.sqlite fail "orvex render: 'fake.db' is an SQLite database, not a map file" render fake.db -o x.png)
# A damaged map is still reported by what is wrong with it.
orvex_cli(check.kind.damaged fail "not a readable map file.*magic" check bad-magic.orx)

# Usage mistakes exit 2 in every command.
set(ORVEX_CLI_CHECK -DSTATUS=2)
orvex_cli(usage.no_command fail "Usage: orvex COMMAND")
orvex_cli(usage.unknown_command fail "unknown command" frobnicate)
orvex_cli(usage.info fail "too many arguments" info a.orx b.orx)
orvex_cli(usage.query fail "expected LAT LON" query 10)
orvex_cli(usage.check fail "expected exactly one MAP" check)
orvex_cli(usage.build fail "no output file given" build --grid tiny.dem)
orvex_cli(usage.render fail "no output file given" render map.orx)
orvex_cli(usage.shp2db fail "usage: orvex shp2db" shp2db)
orvex_cli(usage.shp2db_one fail "usage: orvex shp2db" shp2db out.db)
orvex_cli(usage.shp2db_option fail "unknown option --frobnicate" shp2db --frobnicate a.shp out.db)
# Regions that are empty or inverted are refused; W > E crosses 180 degrees.
orvex_cli(region.empty fail "'10/10/30/40' is empty: W and E are the same meridian" render map.orx -o x.png --region 10/10/30/40)
orvex_cli(region.same_meridian fail "is empty" render map.orx -o x.png --region 180/-180/0/10)
orvex_cli(region.inverted fail "latitudes must satisfy -90 <= S < N <= 90" render map.orx -o x.png --region 0/10/40/30)
orvex_cli(region.flat fail "latitudes must satisfy" render map.orx -o x.png --region 0/10/30/30)
orvex_cli(region.pole fail "latitudes must satisfy" render map.orx -o x.png --region 0/10/-100/0)
orvex_cli(region.not_numbers fail "'a/b/c/d' is not W/E/S/N in degrees" render map.orx -o x.png --region a/b/c/d)
orvex_cli(region.nan fail "is not W/E/S/N in degrees" render map.orx -o x.png --region 0/10/nan/20)
unset(ORVEX_CLI_CHECK)
orvex_cli(region.dateline pass "wrote dateline2.png \\(64 x 64\\)" render map.orx -o dateline2.png --region 170/-170/-50/-30 --width 64)

# Parameter files: the file, the key and the value are named before the
# library's message.
file(WRITE ${CLI_DIR}/badstep.dem.pf "lat 90\nlon -180\ndlat -45\ndlon 0.33x\nnlat 4\nnlon 8\n")
file(WRITE ${CLI_DIR}/zerostep.dem.pf "lat 90\nlon -180\ndlat 0\ndlon 45\nnlat 4\nnlon 8\n")
add_test(NAME cli.pf.setup COMMAND ${CMAKE_COMMAND} -E chdir ${CLI_DIR} sh -c "cp tiny.dem badstep.dem && cp tiny.dem zerostep.dem")
set_tests_properties(cli.pf.setup PROPERTIES FIXTURES_SETUP cli_pf FIXTURES_REQUIRED cli_data)
orvex_cli(pf.not_a_number fail "parameter file ./badstep.dem.pf: key dlon: cannot use value '0.33x' \\(not a number\\).*Orvex::scanInput: refused the value of dlon in parameter file" info badstep.dem)
orvex_cli(pf.zero_step fail "parameter file ./zerostep.dem.pf: key dlat: cannot use value '0' \\(a step of zero\\).*refused the value of dlat in parameter file" build zs.orx --grid zerostep.dem)
set_tests_properties(cli.pf.not_a_number cli.pf.zero_step PROPERTIES FIXTURES_REQUIRED "cli_data;cli_pf")

# The default map's shorelines, rebuilt from Debian's GSHHG files: closed
# rings, GMT's own counts and points, no self-crossing after the purge.
# Skipped where GMT, gmt-gshhg-low or python3-netcdf4 is missing.
add_test(NAME defmap.rings COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scripts/default_map_rings.sh ${PROJECT_SOURCE_DIR}
         $<TARGET_FILE:orvex_command> $<TARGET_FILE:orvex_tests> ${CMAKE_CURRENT_BINARY_DIR}/defmap-rings)
set_tests_properties(defmap.rings PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)

# The default map's relief preparation mends the source's displaced run and
# keeps real relief.
add_test(NAME defmap.sources COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/default_map_sources.py)
