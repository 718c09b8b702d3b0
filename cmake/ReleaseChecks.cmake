# Every configuration that makes VarnekIT.exe for a support server other than this machine is a
# company build, whatever its preset: its programs go to customers. It is closed: signed (every
# customer's program then takes updates only from its signer), with a time stamp (so the
# signature outlives its certificate), naming the remote-control client's signer (so no client
# from anyone else is ever run), and over https:// (the login digest is the support system's
# password). The configure stops and names each missing piece.
#   -DVARNEK_UNSIGNED_RELEASE=ON builds one without the signing pieces anyway, and says what
#                                that means;
#   -DVARNEK_ALLOW_HTTP=ON       allows an http:// support server, and says what that means.
# Test builds (the loopback, demo and benchmark builds) point SupportServerUrl at 127.0.0.0/8,
# localhost or [::1] and are not checked, unless VARNEK_RELEASE (the release preset) says
# they are company builds. A build that makes no Windows program (the portable core's unit
# tests, the fuzz targets) ships nothing and is not checked.
# Included by the project; also runs as a script with the same variables (-P), which the tests
# use: there it checks as for a Windows program.

# Sets out_var to TRUE when `url` names this machine: its host is 127.0.0.0/8, localhost or
# [::1]. An address with user information ("http://127.0.0.1@elsewhere") is not this machine.
function(varnek_url_is_loopback url out_var)
    set(${out_var} FALSE PARENT_SCOPE)
    if(NOT url MATCHES "^[Hh][Tt][Tt][Pp][Ss]?://([^/?#]*)")
        return()
    endif()
    set(authority "${CMAKE_MATCH_1}")
    if(authority MATCHES "@")
        return()
    endif()
    if(authority MATCHES "^\\[::1\\](:[0-9]*)?$")
        set(${out_var} TRUE PARENT_SCOPE)
        return()
    endif()
    string(REGEX REPLACE ":[0-9]*$" "" host "${authority}")
    string(TOLOWER "${host}" host)
    if(host STREQUAL "localhost")
        set(${out_var} TRUE PARENT_SCOPE)
    elseif(host MATCHES "^127\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        foreach(part IN ITEMS ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
            if(part GREATER 255 OR part MATCHES "^0[0-9]")
                return()
            endif()
        endforeach()
        set(${out_var} TRUE PARENT_SCOPE)
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    set(varnek_windows_program ON)
else()
    set(varnek_windows_program ${WIN32})
endif()
varnek_url_is_loopback("${SupportServerUrl}" varnek_loopback)
if(NOT varnek_windows_program OR (varnek_loopback AND NOT VARNEK_RELEASE))
    return()
endif()

if(varnek_loopback)
    set(varnek_why "VARNEK_RELEASE is on")
else()
    set(varnek_why "its SupportServerUrl, ${SupportServerUrl}, is not on this machine")
endif()

set(varnek_signing_missing "")
if(NOT VARNEK_SIGN_PFX AND NOT (VARNEK_SIGN_CERT AND VARNEK_SIGN_KEY))
    if(VARNEK_SIGN_CERT)
        list(APPEND varnek_signing_missing VARNEK_SIGN_KEY)
    elseif(VARNEK_SIGN_KEY)
        list(APPEND varnek_signing_missing VARNEK_SIGN_CERT)
    else()
        list(APPEND varnek_signing_missing "VARNEK_SIGN_CERT and VARNEK_SIGN_KEY, or VARNEK_SIGN_PFX")
    endif()
endif()
if("${VARNEK_SIGN_TIMESTAMP_URL}" STREQUAL "")
    list(APPEND varnek_signing_missing VARNEK_SIGN_TIMESTAMP_URL)
endif()
if("${VARNEK_CLIENT_PUBLISHER}" STREQUAL "")
    list(APPEND varnek_signing_missing VARNEK_CLIENT_PUBLISHER)
endif()
set(varnek_missing ${varnek_signing_missing})
set(varnek_http OFF)
if(NOT SupportServerUrl MATCHES "^[Hh][Tt][Tt][Pp][Ss]://")
    set(varnek_http ON)
    if(NOT VARNEK_ALLOW_HTTP)
        list(APPEND varnek_missing "an https:// SupportServerUrl")
    endif()
endif()
if(VARNEK_UNSIGNED_RELEASE)
    list(REMOVE_ITEM varnek_missing ${varnek_signing_missing})
endif()

if(varnek_missing)
    list(JOIN varnek_missing "; " varnek_missing)
    set(varnek_ways "")
    if(varnek_signing_missing AND NOT VARNEK_UNSIGNED_RELEASE)
        string(APPEND varnek_ways " -DVARNEK_UNSIGNED_RELEASE=ON builds it without the signing "
                                  "pieces anyway.")
    endif()
    if(varnek_http AND NOT VARNEK_ALLOW_HTTP)
        string(APPEND varnek_ways " -DVARNEK_ALLOW_HTTP=ON allows http://.")
    endif()
    message(FATAL_ERROR
        "this is a company build (${varnek_why}): it must be signed with a time stamp, name the "
        "client's signer and use https://; missing: ${varnek_missing}. A test build points "
        "SupportServerUrl at 127.0.0.1, localhost or [::1].${varnek_ways}")
endif()

if(VARNEK_UNSIGNED_RELEASE AND varnek_signing_missing)
    set(varnek_means "")
    if(NOT VARNEK_SIGN_PFX AND NOT (VARNEK_SIGN_CERT AND VARNEK_SIGN_KEY))
        string(APPEND varnek_means " Every customer's program will install any newer program "
                                   "that the support server, or whoever answers in its place, "
                                   "hands it.")
    elseif("${VARNEK_SIGN_TIMESTAMP_URL}" STREQUAL "")
        string(APPEND varnek_means " Without a time stamp, every customer's program refuses "
                                   "every update from the day the certificate expires, and "
                                   "needs the installer again.")
    endif()
    if("${VARNEK_CLIENT_PUBLISHER}" STREQUAL "")
        string(APPEND varnek_means " A new installation runs any remote-control client that "
                                   "the support server, or whoever answers in its place, hands "
                                   "it, and so does every machine whose client is unsigned.")
    endif()
    list(JOIN varnek_signing_missing "; " varnek_signing_missing)
    message(WARNING "VARNEK_UNSIGNED_RELEASE: this company build is made without "
                    "${varnek_signing_missing}.${varnek_means}")
endif()
if(varnek_http)
    message(WARNING
        "VARNEK_ALLOW_HTTP: SupportServerUrl is http:// (${SupportServerUrl}): the support-system "
        "login digest, which the support system takes as the password, and every download "
        "travel in clear text.")
endif()
