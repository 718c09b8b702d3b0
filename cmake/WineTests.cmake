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
