# `orvex serve` on a free port of 127.0.0.1: tiles, JSON and bad requests
# over HTTP, then the page in headless Chromium (skipped where Chromium,
# its driver or Python's selenium is missing; CI installs them).
if(NOT TARGET orvex_command)
  return()
endif()
add_test(NAME serve.http COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/serve/serve_http.py
         $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/cli)
add_test(NAME serve.browser COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/serve/serve_browser.py
         $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/cli)
# Both build served.orx in the same folder.
set_tests_properties(serve.http serve.browser PROPERTIES FIXTURES_REQUIRED cli_data RESOURCE_LOCK serve_map TIMEOUT 180)
set_tests_properties(serve.browser PROPERTIES SKIP_RETURN_CODE 77)
