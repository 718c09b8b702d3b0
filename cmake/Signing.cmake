# Authenticode signing with osslsigncode, when a certificate is given:
#   -DVARNEK_SIGN_CERT=cert.pem -DVARNEK_SIGN_KEY=key.pem     (PEM certificate chain and key)
#   -DVARNEK_SIGN_PFX=cert.pfx                                (PKCS#12 file)
#   -DVARNEK_SIGN_TIMESTAMP_URL=http://...                    (time-stamp server)
# The password of the PKCS#12 file (or of an encrypted key) is never a CMake variable: it would
# be kept in CMakeCache.txt and written into the build's commands. It is read when a file is
# signed, from a file the technician names (-DVARNEK_SIGN_PASSWORD_FILE=path, the password on
# its first line) or from the environment variable VARNEK_SIGN_PASSWORD of the build, and
# reaches osslsigncode through that file or its standard input, never on a command line.
#
# Included from the project, it signs VarnekIT.exe after each link and gives the installer's
# CMake file VARNEK_SIGNING, VARNEK_SIGN_COMMAND_PREFIX and VARNEK_SIGN_SCRIPT (a file is
# signed by COMMAND ${VARNEK_SIGN_COMMAND_PREFIX} -DVARNEK_SIGN_FILE=file -P ${VARNEK_SIGN_SCRIPT})
# and VARNEK_SIGN_COMMAND_LINE (the same as one command line, %1 standing for the file). Any
# file osslsigncode signs (program, installer, package) is signed this one way.
# Run as a script, it signs one file in place:
#   cmake -DVARNEK_SIGN_FILE=x.exe -DVARNEK_SIGN_CERT=... -DVARNEK_SIGN_KEY=... -P Signing.cmake

set(VARNEK_SIGN_VARIABLES VARNEK_SIGN_CERT VARNEK_SIGN_KEY VARNEK_SIGN_PFX
                          VARNEK_SIGN_PASSWORD_FILE VARNEK_SIGN_TIMESTAMP_URL)

set(varnek_password_refused
    "VARNEK_SIGN_PASSWORD must not be given to CMake: CMake keeps it in CMakeCache.txt and the "
    "build's commands. Set it in the environment of the build (export VARNEK_SIGN_PASSWORD), or "
    "name a file that holds it: -DVARNEK_SIGN_PASSWORD_FILE=path.")

# A password given to CMake anyway is taken out of the cache before the configure stops (the
# cache is written even then). The project includes this file before anything else can stop it.
# (Builds configured before kept an empty one there.)
if(NOT "${VARNEK_SIGN_PASSWORD}" STREQUAL "" OR NOT "$CACHE{VARNEK_SIGN_PASSWORD}" STREQUAL "")
    unset(VARNEK_SIGN_PASSWORD CACHE)
    unset(VARNEK_SIGN_PASSWORD)
    message(FATAL_ERROR ${varnek_password_refused})
endif()
unset(VARNEK_SIGN_PASSWORD CACHE)

if(CMAKE_SCRIPT_MODE_FILE)
    if(NOT VARNEK_SIGN_FILE OR NOT EXISTS "${VARNEK_SIGN_FILE}")
        message(FATAL_ERROR "VARNEK_SIGN_FILE must name the file to sign")
    endif()
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    if(VARNEK_SIGN_PFX)
        set(credentials -pkcs12 "${VARNEK_SIGN_PFX}")
    elseif(VARNEK_SIGN_CERT AND VARNEK_SIGN_KEY)
        set(credentials -certs "${VARNEK_SIGN_CERT}" -key "${VARNEK_SIGN_KEY}")
    else()
        message(FATAL_ERROR "give VARNEK_SIGN_CERT and VARNEK_SIGN_KEY, or VARNEK_SIGN_PFX")
    endif()
    # The password: from the named file, or piped from the environment into osslsigncode's
    # standard input (printenv is given the variable's name only).
    set(password_source "")
    if(VARNEK_SIGN_PASSWORD_FILE)
        if(NOT EXISTS "${VARNEK_SIGN_PASSWORD_FILE}")
            message(FATAL_ERROR "VARNEK_SIGN_PASSWORD_FILE: ${VARNEK_SIGN_PASSWORD_FILE} does not "
                                "exist")
        endif()
        list(APPEND credentials -readpass "${VARNEK_SIGN_PASSWORD_FILE}")
    elseif(DEFINED ENV{VARNEK_SIGN_PASSWORD})
        find_program(PRINTENV printenv)
        if(NOT PRINTENV)
            message(FATAL_ERROR "the password in VARNEK_SIGN_PASSWORD needs printenv to reach "
                                "osslsigncode; name a file with VARNEK_SIGN_PASSWORD_FILE instead")
        endif()
        set(password_source COMMAND ${PRINTENV} VARNEK_SIGN_PASSWORD)
        list(APPEND credentials -readpass -)
    endif()
    if(VARNEK_SIGN_TIMESTAMP_URL)
        list(APPEND credentials -ts "${VARNEK_SIGN_TIMESTAMP_URL}")
    endif()
    get_filename_component(name "${VARNEK_SIGN_FILE}" NAME_WE)
    set(signed "${VARNEK_SIGN_FILE}.signed")
    file(REMOVE "${signed}")
    execute_process(
        ${password_source}
        COMMAND ${OSSLSIGNCODE} sign ${credentials} -h sha256 -n "${name}"
                -in "${VARNEK_SIGN_FILE}" -out "${signed}"
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        file(REMOVE "${signed}")
        message(FATAL_ERROR "signing ${VARNEK_SIGN_FILE} failed:\n${output}")
    endif()
    file(RENAME "${signed}" "${VARNEK_SIGN_FILE}")
    message(STATUS "signed ${VARNEK_SIGN_FILE}")
    return()
endif()

set(VARNEK_SIGN_CERT "" CACHE FILEPATH
    "Code-signing certificate (PEM), followed by its chain's other certificates; signs the program")
set(VARNEK_SIGN_KEY "" CACHE FILEPATH "Private key of VARNEK_SIGN_CERT (PEM)")
set(VARNEK_SIGN_PFX "" CACHE FILEPATH "Code-signing certificate, chain and key (PKCS#12)")
set(VARNEK_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "A file holding the password of VARNEK_SIGN_PFX or VARNEK_SIGN_KEY (else the environment \
variable VARNEK_SIGN_PASSWORD, if set, when signing)")
set(VARNEK_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamp server used when signing")
mark_as_advanced(VARNEK_SIGN_PASSWORD_FILE)

set(VARNEK_SIGNING OFF)
if(VARNEK_SIGN_PFX OR VARNEK_SIGN_CERT OR VARNEK_SIGN_KEY)
    if(NOT VARNEK_SIGN_PFX AND NOT (VARNEK_SIGN_CERT AND VARNEK_SIGN_KEY))
        message(FATAL_ERROR "VARNEK_SIGN_CERT and VARNEK_SIGN_KEY go together")
    endif()
    foreach(file IN ITEMS ${VARNEK_SIGN_PFX} ${VARNEK_SIGN_CERT} ${VARNEK_SIGN_KEY}
                          ${VARNEK_SIGN_PASSWORD_FILE})
        if(NOT EXISTS "${file}")
            message(FATAL_ERROR "signing: ${file} does not exist")
        endif()
    endforeach()
    find_program(VARNEK_OSSLSIGNCODE osslsigncode)
    if(NOT VARNEK_OSSLSIGNCODE)
        message(FATAL_ERROR "signing needs osslsigncode (apt-get install osslsigncode)")
    endif()
    set(VARNEK_SIGNING ON)
    set(VARNEK_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_FILE})
    set(VARNEK_SIGN_COMMAND_PREFIX ${CMAKE_COMMAND})
    set(VARNEK_SIGN_COMMAND_LINE "\"${CMAKE_COMMAND}\"")
    foreach(variable IN LISTS VARNEK_SIGN_VARIABLES)
        if(${variable})
            list(APPEND VARNEK_SIGN_COMMAND_PREFIX "-D${variable}=${${variable}}")
            string(APPEND VARNEK_SIGN_COMMAND_LINE " \"-D${variable}=${${variable}}\"")
        endif()
    endforeach()
    string(APPEND VARNEK_SIGN_COMMAND_LINE " \"-DVARNEK_SIGN_FILE=%1\" -P \"${VARNEK_SIGN_SCRIPT}\"")
    message(STATUS "Signing VarnekIT.exe and the installer with osslsigncode")
    include(${CMAKE_CURRENT_LIST_DIR}/SigningRoot.cmake)
endif()

# Signs a target's output in place after each link (call it where the target is made).
function(varnek_sign_target target)
    if(VARNEK_SIGNING)
        add_custom_command(TARGET ${target} POST_BUILD
                           COMMAND ${VARNEK_SIGN_COMMAND_PREFIX}
                                   "-DVARNEK_SIGN_FILE=$<TARGET_FILE:${target}>"
                                   -P ${VARNEK_SIGN_SCRIPT}
                           VERBATIM)
    endif()
endfunction()

# After each link of target, a signed copy of its output in ${CMAKE_BINARY_DIR}/signed/ (the
# build's own output stays unsigned, so two builds can still be compared byte for byte).
# Sets out_var to the copy, or to the target's own file when nothing is signed.
function(varnek_signed_copy target out_var)
    if(NOT VARNEK_SIGNING)
        set(${out_var} $<TARGET_FILE:${target}> PARENT_SCOPE)
        return()
    endif()
    set(copy ${CMAKE_BINARY_DIR}/signed/${target}${CMAKE_EXECUTABLE_SUFFIX})
    add_custom_command(
        OUTPUT ${copy} ${CMAKE_BINARY_DIR}/signed/${target}.stamp
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/signed
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${copy}
        COMMAND ${VARNEK_SIGN_COMMAND_PREFIX} -DVARNEK_SIGN_FILE=${copy} -P ${VARNEK_SIGN_SCRIPT}
        COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/signed/${target}.stamp
        DEPENDS ${target} $<TARGET_FILE:${target}>
        COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
        VERBATIM)
    add_custom_target(sign_${target} ALL DEPENDS ${CMAKE_BINARY_DIR}/signed/${target}.stamp)
    set(${out_var} ${copy} PARENT_SCOPE)
endfunction()
