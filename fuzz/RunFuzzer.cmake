# Runs one fuzzer for SECONDS seconds on a fresh copy of SEED_CORPUS in
# WORK_DIR. Fails when the fuzzer finds a crash, a sanitizer report or an
# input that runs longer than INPUT_TIMEOUT seconds; the input that did it is
# left in WORK_DIR/artifacts.
foreach(variable FUZZER SEED_CORPUS WORK_DIR SECONDS INPUT_TIMEOUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "RunFuzzer.cmake needs -D${variable}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/corpus" "${WORK_DIR}/artifacts")
file(COPY "${SEED_CORPUS}/" DESTINATION "${WORK_DIR}/corpus")

execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=${INPUT_TIMEOUT} -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix=${WORK_DIR}/artifacts/ "${WORK_DIR}/corpus"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${WORK_DIR}/artifacts")
endif()
