# Runs one orvex command line and checks its exit status and output.
#   -DCOMMAND=prog  -DARGS="a|b|c"  -DEXPECT=pass|fail  [-DMATCH=regex]
#   [-DWORKDIR=dir] [-DDATA=dir for ORVEX_DATA]
# The output checked is standard output and standard error together.
string(REPLACE "|" ";" arg_list "${ARGS}")
if(DEFINED DATA)
  set(ENV{ORVEX_DATA} "${DATA}")
endif()
execute_process(COMMAND ${COMMAND} ${arg_list}
                WORKING_DIRECTORY "${WORKDIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${out}${err}")
message("${all}")
if(EXPECT STREQUAL "pass" AND NOT status EQUAL 0)
  message(FATAL_ERROR "expected success, got exit status ${status}")
endif()
if(EXPECT STREQUAL "fail" AND status EQUAL 0)
  message(FATAL_ERROR "expected a failure, got exit status 0")
endif()
if(EXPECT STREQUAL "fail" AND NOT status MATCHES "^[0-9]+$")
  message(FATAL_ERROR "expected a clean failure, got '${status}'")
endif()
if(DEFINED MATCH AND NOT all MATCHES "${MATCH}")
  message(FATAL_ERROR "output does not match '${MATCH}'")
endif()
