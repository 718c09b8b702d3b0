# Runs one fuzz target for SECONDS on a fresh copy of its corpus in WORK; fails on any crash,
# leak, time-out or broken property (the target aborts). New inputs stay in WORK/corpus and a
# failing input in WORK/artifacts.
foreach(var FUZZER CORPUS WORK SECONDS)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "RunFuzzer.cmake needs -D${var}=...")
    endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/artifacts)
file(COPY ${CORPUS}/ DESTINATION ${WORK}/corpus)

execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
            -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(GLOB found ${WORK}/artifacts/*)
    message(FATAL_ERROR "${FUZZER} failed (${result}); input: ${found}")
endif()
