# Runs one libFuzzer target for SECONDS seconds on a fresh working corpus
# made from the committed seeds (and EXTRA_SEEDS files). A crash, leak,
# sanitizer report or time-out fails the test; the input that caused it is
# left in WORK as crash-*/timeout-*/oom-* for a regression test.
file(REMOVE_RECURSE ${WORK}/corpus)
file(MAKE_DIRECTORY ${WORK}/corpus)
file(GLOB seeds ${SEEDS}/*)
foreach(seed IN LISTS seeds EXTRA_SEEDS)
    if(seed)
        file(COPY ${seed} DESTINATION ${WORK}/corpus)
    endif()
endforeach()
set(extra ${ARGS})
execute_process(
    COMMAND ${FUZZER} ${WORK}/corpus -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=4096
            -seed=1 -print_final_stats=1 -artifact_prefix=${WORK}/ ${extra}
    WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (exit ${rc}); the input is in ${WORK}")
endif()
