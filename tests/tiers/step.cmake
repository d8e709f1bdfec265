# One step of a test tier, as CTest runs it (tests/tiers/CMakeLists.txt):
#
#   cmake -DNAME=... -DLOG=... -DLOGS=DIR -DRESULTS=FILE [-DROAD=ON]
#         [-DREPLAY=DIR] [-DSKIP=REASON] -P step.cmake -- COMMAND...
#
# Runs COMMAND (or, with REPLAY, reads what the emulated machine left of it
# in DIR: LOG.log, LOG.rc, LOG.seconds), keeps its output in LOGS/LOG.log,
# and appends one line to RESULTS for scripts/test.sh's summary:
#   VERDICT|PASSED|FAILED|SECONDS|NAME|REASON|NOTE   (a name, reason or note holds no "|")
# The counts are the step's own closing line, "N passed, N failed", which
# every runner prints; GoogleTest's summary where there is none (the
# cross-built contract tests). A step that ran no test has failed; with
# SKIP the step says why this machine cannot run it ("SKIP this step:", which
# CTest's SKIP_REGULAR_EXPRESSION shows as skipped). NOTE is the wine32 road
# (JQ_ROAD_NOTE) for a step with ROAD set. COMMAND's arguments hold no ";".
cmake_minimum_required(VERSION 3.25)

set(command)
set(after_dashes OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
    if(after_dashes)
        list(APPEND command "${CMAKE_ARGV${i}}")
    elseif("${CMAKE_ARGV${i}}" STREQUAL "--")
        set(after_dashes ON)
    endif()
endforeach()

set(note "")
if(ROAD AND DEFINED ENV{JQ_ROAD_NOTE})
    set(note "$ENV{JQ_ROAD_NOTE}")
endif()

function(report verdict passed failed seconds reason)
    file(APPEND "${RESULTS}" "${verdict}|${passed}|${failed}|${seconds}|${NAME}|${reason}|${note}\n")
endfunction()

if(SKIP)
    message("SKIP this step: ${SKIP}")
    report(SKIP 0 0 0 "${SKIP}")
    return()
endif()

string(TIMESTAMP started "%s")
if(REPLAY)
    if(NOT EXISTS "${REPLAY}/${LOG}.rc")
        set(reason "the emulated machine gave no result: build/test-logs/wine32-vm.log")
        report(FAIL 0 1 0 "${reason}")
        message(FATAL_ERROR "${reason}")
    endif()
    file(READ "${REPLAY}/${LOG}.log" output)
    file(READ "${REPLAY}/${LOG}.rc" rc)
    file(READ "${REPLAY}/${LOG}.seconds" seconds)
    string(STRIP "${rc}" rc)
    string(STRIP "${seconds}" seconds)
    message("${output}")
else()
    execute_process(COMMAND ${command} RESULT_VARIABLE rc
        OUTPUT_VARIABLE output ERROR_VARIABLE output ECHO_OUTPUT_VARIABLE ECHO_ERROR_VARIABLE)
    string(TIMESTAMP now "%s")
    math(EXPR seconds "${now} - ${started}")
endif()
file(MAKE_DIRECTORY "${LOGS}")
file(WRITE "${LOGS}/${LOG}.log" "${output}")
if(NOT rc MATCHES "^[0-9]+$")
    set(rc 1)  # "Child killed" and the like
endif()

set(passed 0)
set(failed 0)
string(REGEX MATCHALL "(^|\n)[0-9]+ passed, [0-9]+ failed" closing "${output}")
if(closing)
    list(GET closing -1 closing)
    string(REGEX MATCH "([0-9]+) passed, ([0-9]+) failed" closing "${closing}")
    set(passed ${CMAKE_MATCH_1})
    set(failed ${CMAKE_MATCH_2})
elseif(output MATCHES "\n\\[  PASSED  \\] ([0-9]+) test")
    set(passed ${CMAKE_MATCH_1})
    if(output MATCHES "\n\\[  FAILED  \\] ([0-9]+) tests?, listed below")
        set(failed ${CMAKE_MATCH_1})
    endif()
endif()
if(NOT rc EQUAL 0 AND failed EQUAL 0)
    set(failed 1)
endif()
if(rc EQUAL 0 AND passed EQUAL 0 AND failed EQUAL 0)
    message("${NAME}: ran no test")
    set(rc 1)
    set(failed 1)
endif()
if(rc EQUAL 0)
    report(PASS ${passed} ${failed} ${seconds} "")
else()
    report(FAIL ${passed} ${failed} ${seconds} "")
    message(FATAL_ERROR "${NAME}: exit code ${rc}, ${passed} passed, ${failed} failed")
endif()
