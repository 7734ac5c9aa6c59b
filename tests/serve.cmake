# `orvex serve` on a free port of 127.0.0.1: tiles, JSON and bad requests
# over HTTP, then the page in headless Chromium (skipped where Chromium,
# its driver or Python's selenium is missing; CI installs them).
if(NOT TARGET orvex_command)
  return()
endif()
# The command line of serve, and render's threads: the same picture
# whatever their count, and a failing tile's messages from a worker thread.
orvex_cli(serve.help pass "Usage: orvex serve.*--port N" serve --help)
orvex_cli(serve.bad_port fail "--port '70000' is out of range" serve map.orx --port 70000)
orvex_cli(serve.unknown_option fail "unknown option --frobnicate" serve --frobnicate 1)
orvex_cli(serve.missing_map fail "cannot open map 'missing.orx'" serve map.orx missing.orx --port 0)
orvex_cli(render.threads_1 pass "wrote threads-1.png" render map.orx -o threads-1.png --width 256 --threads 1)
set(ORVEX_CLI_CHECK -DSAME=threads-1.png|threads-3.png)
orvex_cli(render.threads_3 pass "wrote threads-3.png" render map.orx -o threads-3.png --width 256 --threads 3)
unset(ORVEX_CLI_CHECK)
set_tests_properties(cli.render.threads_3 PROPERTIES DEPENDS cli.render.threads_1)
orvex_cli(render.threads_broken fail "cannot read the tiles of resolution 0.*inflate" render bad-payload.orx -o x.png --width 64 --threads 2)
orvex_cli(render.bad_threads fail "--threads '0' is not a whole number from 1 to 64" render map.orx -o x.png --threads 0)

add_test(NAME serve.http COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/serve/serve_http.py
         $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/cli)
add_test(NAME serve.browser COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/serve/serve_browser.py
         $<TARGET_FILE:orvex_command> ${CMAKE_CURRENT_BINARY_DIR}/cli)
# Both build served.orx in the same folder.
set_tests_properties(serve.http serve.browser PROPERTIES FIXTURES_REQUIRED cli_data RESOURCE_LOCK serve_map TIMEOUT 180)
set_tests_properties(serve.browser PROPERTIES SKIP_RETURN_CODE 77)

# The installed command serves its page and Leaflet from any prefix.
if(TEST install_and_build_outside)
  add_test(NAME serve.installed COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/serve/serve_installed.py
           ${CMAKE_CURRENT_BINARY_DIR}/install-check/prefix/${CMAKE_INSTALL_BINDIR}/orvex
           ${CMAKE_CURRENT_SOURCE_DIR}/data/tiny.orx)
  set_tests_properties(serve.installed PROPERTIES FIXTURES_REQUIRED installed TIMEOUT 60)
endif()
