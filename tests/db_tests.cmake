# The shapefile database tests write shapefiles with shapelib, damage rows
# with SQLite directly and run the core of the shp2db command.
find_package(SQLite3 REQUIRED)
find_path(ORVEX_TEST_SHAPELIB_INCLUDE_DIR shapefil.h REQUIRED)
find_library(ORVEX_TEST_SHAPELIB_LIBRARY shp REQUIRED)
# The command's core is linked as built without GDAL: its other formats
# are tested through the orvex command itself (cli.gdal.*).
target_include_directories(orvex_tests PRIVATE ${ORVEX_TEST_SHAPELIB_INCLUDE_DIR}
                                               ${PROJECT_SOURCE_DIR}/src/tools
                                               ${PROJECT_SOURCE_DIR}/src/tools/logic)
target_sources(orvex_tests PRIVATE ${PROJECT_SOURCE_DIR}/src/tools/shp2db_command.cpp
                                   ${PROJECT_SOURCE_DIR}/src/tools/atomic_output.cpp
                                   ${PROJECT_SOURCE_DIR}/src/tools/gdal/without_gdal.cpp)
target_link_libraries(orvex_tests PRIVATE SQLite::SQLite3 ${ORVEX_TEST_SHAPELIB_LIBRARY})
