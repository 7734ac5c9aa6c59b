# The GDAL driver of map files, through GDAL's own programs and python
# bindings (tests/scripts/gdal_driver.py), and its open path in C++
# (test_driver/), which also runs in the sanitizer build, where python
# cannot load a plugin built with AddressSanitizer.
if(NOT TARGET gdal_ORX)
  return()
endif()

add_executable(orvex_driver_tests ${CMAKE_CURRENT_SOURCE_DIR}/driver/test_driver_open.cpp)
target_link_libraries(orvex_driver_tests PRIVATE gdal_ORX_objects orvex orvexhost GTest::gtest GTest::gtest_main)
target_compile_definitions(orvex_driver_tests PRIVATE ORVEX_TESTDATA_TOOL="$<TARGET_FILE:orvex_testdata>")
gtest_discover_tests(orvex_driver_tests TEST_PREFIX driver. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

if(NOT ORVEX_SANITIZE)
  execute_process(COMMAND /usr/bin/python3 -c "import numpy; from osgeo import gdal"
                  RESULT_VARIABLE ORVEX_DRIVER_PYTHON_MISSING OUTPUT_QUIET ERROR_QUIET)
  if(ORVEX_DRIVER_PYTHON_MISSING)
    message(WARNING "python3-gdal or numpy missing: the GDAL driver's program tests are left out")
  else()
    add_test(NAME gdal_driver.programs COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/gdal_driver.py
             $<TARGET_FILE:orvex_command> $<TARGET_FILE:orvex_testdata> ${ORVEX_GDAL_PLUGIN_BUILD_DIR}
             ${CMAKE_CURRENT_BINARY_DIR}/gdal_driver)
    add_test(NAME gdal_driver.qgis COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/gdal_driver_qgis.py
             $<TARGET_FILE:orvex_testdata> ${ORVEX_GDAL_PLUGIN_BUILD_DIR} ${CMAKE_CURRENT_BINARY_DIR}/gdal_driver_qgis)
    # The QGIS check skips (status 77) where python3-qgis is not installed.
    set_tests_properties(gdal_driver.programs gdal_driver.qgis PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77
                         ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endif()
