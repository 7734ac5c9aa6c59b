# Runs one orvex command line and checks its exit status and output.
#   -DCOMMAND=prog  -DARGS="a|b|c"  -DEXPECT=pass|fail  [-DMATCH=regex]
#   [-DWORKDIR=dir] [-DDATA=dir for ORVEX_DATA]
#   [-DSTATUS=the exact exit status expected]
#   [-DABSENT=file that must not exist afterwards]
#   [-DSAME="a|b": two files that must be equal afterwards]
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
if(DEFINED STATUS AND NOT status EQUAL STATUS)
  message(FATAL_ERROR "expected exit status ${STATUS}, got ${status}")
endif()
if(DEFINED MATCH AND NOT all MATCHES "${MATCH}")
  message(FATAL_ERROR "output does not match '${MATCH}'")
endif()
if(DEFINED ABSENT AND EXISTS "${WORKDIR}/${ABSENT}")
  message(FATAL_ERROR "'${ABSENT}' was left behind")
endif()
if(DEFINED SAME)
  string(REPLACE "|" ";" pair "${SAME}")
  list(GET pair 0 first)
  list(GET pair 1 second)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORKDIR}/${first}" "${WORKDIR}/${second}"
                  RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "'${first}' and '${second}' differ")
  endif()
endif()
