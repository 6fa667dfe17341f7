# Shared by the package tests: running a command, reporting a failure, and
# building the .deb into a folder of the test's own (the tests may run at
# the same time).

if(NOT DEFINED BINARY_DIR)
    message(FATAL_ERROR "BINARY_DIR is not set")
endif()

function(fail text)
    message(SEND_ERROR "${text}")
endfunction()

# Runs a command that must succeed; its output goes to <outvar>.
function(run outvar)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${ARGN}\nexited with ${rc}\n${out}${err}")
    endif()
    set(${outvar} "${out}${err}" PARENT_SCOPE)
endfunction()

# Builds the package into <work> (emptied first); its path goes to <debvar>.
function(build_deb work debvar)
    file(REMOVE_RECURSE "${work}")
    file(MAKE_DIRECTORY "${work}")
    run(out cpack -G DEB --config "${BINARY_DIR}/CPackConfig.cmake" -B "${work}")
    file(GLOB debs "${work}/*.deb")
    list(LENGTH debs count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "expected one .deb in ${work}, found: ${debs}\n${out}")
    endif()
    set(${debvar} "${debs}" PARENT_SCOPE)
endfunction()
