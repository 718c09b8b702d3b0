# A company build (VARNEK_RELEASE, set by the release preset) is closed by default: it is
# signed, so every customer's program takes updates only from its signer, and it names the
# remote-control client's signer, so no client from anyone else is ever run. Included by the
# project; also runs as a script with the same variables (-P), which the tests use.
#   -DVARNEK_UNSIGNED_RELEASE=ON builds an open release anyway, and says what that means.

if(NOT VARNEK_RELEASE)
    return()
endif()

set(missing "")
if(NOT VARNEK_SIGN_PFX AND NOT (VARNEK_SIGN_CERT AND VARNEK_SIGN_KEY))
    if(VARNEK_SIGN_CERT)
        list(APPEND missing VARNEK_SIGN_KEY)
    elseif(VARNEK_SIGN_KEY)
        list(APPEND missing VARNEK_SIGN_CERT)
    else()
        list(APPEND missing "VARNEK_SIGN_CERT and VARNEK_SIGN_KEY, or VARNEK_SIGN_PFX")
    endif()
endif()
if("${VARNEK_CLIENT_PUBLISHER}" STREQUAL "")
    list(APPEND missing VARNEK_CLIENT_PUBLISHER)
endif()
if(missing)
    list(JOIN missing "; " missing)
    if(NOT VARNEK_UNSIGNED_RELEASE)
        message(FATAL_ERROR
            "a release build must be signed and name the client's signer; missing: ${missing}. "
            "(-DVARNEK_UNSIGNED_RELEASE=ON builds an open release anyway.)")
    endif()
    message(WARNING
        "VARNEK_UNSIGNED_RELEASE: this release is open (missing: ${missing}): every customer's "
        "program will install any newer program and run any remote-control client that the "
        "support server, or whoever answers in its place, hands it.")
endif()
if(SupportServerUrl MATCHES "^http://")
    message(WARNING
        "SupportServerUrl is http:// (${SupportServerUrl}): the support-system login digest "
        "and every download travel in clear text; use https://.")
endif()
