# Debian's package checker finds nothing to report: no error and no warning.
# lintian's exit status only reflects the levels it is told to fail on, so
# its output is read as well.
#
#   cmake -DBINARY_DIR=... -P lintian_check.cmake

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/package_common.cmake)

set(work "${BINARY_DIR}/lintian-check")
build_deb("${work}" deb)
# No configuration file or LINTIAN_* variable of the machine may hide a tag.
execute_process(COMMAND lintian --no-cfg --ignore-lintian-env --no-override
                        --fail-on error,warning --tag-display-limit 0 "${deb}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX MATCHALL "(^|\n)[EW]: [^\n]*" tags "${out}")
if(tags OR NOT rc EQUAL 0)
    fail("lintian ${deb} exited with ${rc}:\n${out}${err}")
endif()
file(REMOVE_RECURSE "${work}")
