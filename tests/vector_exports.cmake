# Vector exports checked by GEOS through GDAL's Python bindings (valid
# polygons within -180..180, known places in land, lakes or sea), and the
# imports that feed them: projected shapefiles, colour grids given by
# densities, relative paths in sub-folders. The default map's shorelines
# are checked too when ORVEX_DATA holds it.
if(ORVEX_HAVE_GDAL)
  execute_process(COMMAND /usr/bin/python3 -c "import numpy; from osgeo import gdal, ogr; assert ogr.GetGEOSVersionMajor()"
                  RESULT_VARIABLE ORVEX_PYGEOS_MISSING OUTPUT_QUIET ERROR_QUIET)
  if(ORVEX_PYGEOS_MISSING EQUAL 0)
    add_test(NAME cli.vector.exports COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/vector_exports.py
             $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/vector_exports)
    set_tests_properties(cli.vector.exports PROPERTIES PASS_REGULAR_EXPRESSION "all vector exports ok" TIMEOUT 600)
  else()
    message(WARNING "python3-gdal with GEOS or numpy missing: the vector export checks are left out")
  endif()
endif()
