# Tests of a Windows build run under Wine, in a prefix of the build's own that one fixture
# test makes before the first of them runs.
if(WIN32)
    set(VARNEK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    set(VARNEK_WINE_ENV
        "WINEPREFIX=${VARNEK_WINEPREFIX}"
        "WINEDEBUG=-all"
        "WINEDLLOVERRIDES=mscoree,mshtml="
        "LANG=C.UTF-8"
        "LC_ALL=C.UTF-8")
    if(NOT TEST wine_prefix)
        add_test(NAME wine_prefix
                 COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-wineprefix.sh ${VARNEK_WINEPREFIX})
        set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wineprefix
                             ENVIRONMENT "${VARNEK_WINE_ENV}" TIMEOUT 300)
    endif()
endif()

# varnek_add_test(NAME name COMMAND exe [args...])
# Adds a test of a program target that runs natively, or for a Windows build under Wine in
# the build's prefix.
function(varnek_add_test)
    cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    if(WIN32)
        # Under Wine, on a display of the test's own.
        list(POP_FRONT ARG_COMMAND program)
        add_test(NAME ${ARG_NAME}
                 COMMAND ${CMAKE_SOURCE_DIR}/cmake/run-in-wine.sh $<TARGET_FILE:${program}>
                         ${ARG_COMMAND})
    else()
        add_test(NAME ${ARG_NAME} COMMAND ${ARG_COMMAND})
    endif()
    set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
    if(WIN32)
        set_tests_properties(${ARG_NAME} PROPERTIES FIXTURES_REQUIRED wineprefix
                             RESOURCE_LOCK wineprefix ENVIRONMENT "${VARNEK_WINE_ENV}")
    endif()
endfunction()

# Tests that serve on the build's fixed port (the support server of the end-to-end tests) run
# each in a network namespace of its own where that works (as root): then they run side by
# side. Elsewhere they hold the lock `e2e` and run one at a time.
set(VARNEK_ISOLATION AUTO CACHE STRING
    "Run the tests that serve on the build's port in network namespaces of their own: AUTO (where it works), ON or OFF")
set_property(CACHE VARNEK_ISOLATION PROPERTY STRINGS AUTO ON OFF)

# varnek_add_serving_test(NAME name COMMAND command [args...] [WORKING_DIRECTORY dir])
function(varnek_add_serving_test)
    cmake_parse_arguments(ARG "" "NAME;WORKING_DIRECTORY" "COMMAND" ${ARGN})
    get_property(known GLOBAL PROPERTY VARNEK_ISOLATED SET)
    get_property(isolated GLOBAL PROPERTY VARNEK_ISOLATED)
    if(NOT known)
        set(isolated ${VARNEK_ISOLATION})
        if(isolated STREQUAL "AUTO")
            execute_process(COMMAND ${CMAKE_SOURCE_DIR}/cmake/isolated.sh true
                            RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
            if(status EQUAL 0)
                set(isolated ON)
            else()
                set(isolated OFF)
            endif()
        endif()
        if(isolated)
            message(STATUS "End-to-end tests: each in a network namespace of its own, side by side")
        else()
            message(STATUS "End-to-end tests: one at a time (no network namespace of their own)")
        endif()
        set_property(GLOBAL PROPERTY VARNEK_ISOLATED ${isolated})
    endif()
    if(NOT ARG_WORKING_DIRECTORY)
        set(ARG_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    if(isolated)
        add_test(NAME ${ARG_NAME} COMMAND ${CMAKE_SOURCE_DIR}/cmake/isolated.sh ${ARG_COMMAND}
                 WORKING_DIRECTORY ${ARG_WORKING_DIRECTORY})
    else()
        add_test(NAME ${ARG_NAME} COMMAND ${ARG_COMMAND} WORKING_DIRECTORY ${ARG_WORKING_DIRECTORY})
        set_tests_properties(${ARG_NAME} PROPERTIES RESOURCE_LOCK e2e)
    endif()
endfunction()
