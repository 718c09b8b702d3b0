# Prints the SHA-256 of the root certificate that the signing certificate's chain leads to:
# every program this build signs takes updates that chain to this root (or to a root named in
# VARNEK_UPDATE_ROOTS). Read with tools/publish.py --show-root from VARNEK_SIGN_CERT, or from
# VARNEK_SIGN_PFX through openssl (the password as when signing: from VARNEK_SIGN_PASSWORD_FILE
# or the environment variable VARNEK_SIGN_PASSWORD, never on a command line). What cannot be
# read is said, and the configure goes on: the running program reads its root from its own
# signature.

find_program(VARNEK_PYTHON3 NAMES python3 python)
set(varnek_show_root "${CMAKE_CURRENT_LIST_DIR}/../tools/publish.py" --show-root)
if(NOT VARNEK_PYTHON3)
    message(WARNING "the root of the signing certificate is not shown: python3 is missing")
    return()
endif()

if(VARNEK_SIGN_PFX)
    find_program(VARNEK_OPENSSL openssl)
    if(NOT VARNEK_OPENSSL)
        message(WARNING "the root of VARNEK_SIGN_PFX is not shown: openssl is missing")
        return()
    endif()
    if(VARNEK_SIGN_PASSWORD_FILE)
        set(varnek_pass_in "file:${VARNEK_SIGN_PASSWORD_FILE}")
    elseif(DEFINED ENV{VARNEK_SIGN_PASSWORD})
        set(varnek_pass_in env:VARNEK_SIGN_PASSWORD)
    else()
        set(varnek_pass_in pass:)
    endif()
    execute_process(
        COMMAND ${VARNEK_OPENSSL} pkcs12 -in "${VARNEK_SIGN_PFX}" -nokeys -passin ${varnek_pass_in}
        COMMAND ${VARNEK_PYTHON3} ${varnek_show_root} -
        RESULTS_VARIABLE varnek_results OUTPUT_VARIABLE varnek_root ERROR_VARIABLE varnek_error
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
else()
    execute_process(
        COMMAND ${VARNEK_PYTHON3} ${varnek_show_root} "${VARNEK_SIGN_CERT}"
        RESULTS_VARIABLE varnek_results OUTPUT_VARIABLE varnek_root ERROR_VARIABLE varnek_error
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
endif()

if(varnek_results MATCHES "^0(;0)?$")
    message(STATUS "The signing certificate's ${varnek_root}")
elseif(varnek_root MATCHES "unknown")
    message(WARNING "The signing certificate's ${varnek_root}. Add the root's certificate to "
                    "the signing certificate's chain to see its hash here.")
elseif(VARNEK_SIGN_PFX)
    message(WARNING "the root of VARNEK_SIGN_PFX cannot be read (its password comes from "
                    "VARNEK_SIGN_PASSWORD_FILE, else the environment variable "
                    "VARNEK_SIGN_PASSWORD, as when signing): ${varnek_error}")
else()
    message(WARNING "the root of VARNEK_SIGN_CERT cannot be read: ${varnek_error}")
endif()
