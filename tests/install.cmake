# Installs the library into a scratch prefix and builds programs outside the
# tree against it, once with find_package(orvex) and once with pkg-config.
if(NOT ORVEX_SANITIZE AND NOT ORVEX_TSAN)
  add_test(NAME install_and_build_outside
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install-check
      -P ${CMAKE_CURRENT_SOURCE_DIR}/scripts/install_check.cmake)
  set_tests_properties(install_and_build_outside PROPERTIES
    TIMEOUT 600 PASS_REGULAR_EXPRESSION "pkg-config program: 0 grid" FIXTURES_SETUP installed)
endif()
