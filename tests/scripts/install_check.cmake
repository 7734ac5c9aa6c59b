# cmake -P script: install, then build and run two outside programs.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/orvex/Orvex.h include/orvex/hostkit.h lib/pkgconfig/orvex.pc
          lib/cmake/orvex/orvexConfig.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# A tiny map file: one grid resolution of one 1 x 1 tile holding 42.
set(map ${SOURCE_DIR}/tests/data/tiny.orx)

# The GDAL driver, where it is built: GDAL's own program loads it from the
# installed plugin folder and reads the map's sample.
if(EXISTS ${BUILD_DIR}/gdalplugins/gdal_ORX.so)
  set(ENV{GDAL_DRIVER_PATH} ${prefix}/lib/gdalplugins)
  run(gdallocationinfo -valonly "ORX:\"${map}\":0" 0 0)
  if(NOT last_output MATCHES "^42")
    message(FATAL_ERROR "the installed GDAL driver reads '${last_output}', not 42")
  endif()
  message(STATUS "installed GDAL driver: ${last_output}")
endif()

# find_package(orvex)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${WORK_DIR}/cmake-build
    -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
set(ENV{LD_LIBRARY_PATH} ${prefix}/lib:${prefix}/lib64)
run(${WORK_DIR}/cmake-build/orvex_lookup 0 0 ${map})
message(STATUS "find_package program: ${last_output}")

# pkg-config
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig:${prefix}/lib64/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs orvex OUTPUT_VARIABLE flags
                RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know orvex")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(c++ -std=c++17 ${SOURCE_DIR}/examples/lookup.cpp -o ${WORK_DIR}/lookup-pc ${flags})
run(${WORK_DIR}/lookup-pc 0 0 ${map})
message("pkg-config program: ${last_output}")
