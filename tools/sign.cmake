# Signs a freshly linked executable with Authenticode (SHA-256) and verifies the signature:
#
#   cmake -D OSSLSIGNCODE=/usr/bin/osslsigncode -D EXE=servicepack.exe
#         -D CERT=cert.pem -D KEY=key.pem | -D PKCS12=signer.p12
#         [-D PASSWORD_ENV=NAME] [-D TIMESTAMP_URL=url] [-D CAFILE=ca.pem]
#         [-D DESCRIPTION=text] -P sign.cmake
#
# The password is read from the environment variable PASSWORD_ENV names, at build time, and
# reaches osslsigncode through a pipe: it is never on a command line or in the cache. With
# SOURCE_DATE_EPOCH set, that is the signing time, so that a signature without a time stamp
# is as reproducible as the image it signs. A signature that cannot be made or verified
# removes the executable, so that the next build links and signs it again instead of taking
# the unsigned one for up to date.
cmake_minimum_required(VERSION 3.25)

function(fail why)
    file(REMOVE "${EXE}" "${EXE}.signed")
    message(FATAL_ERROR "Signing ${EXE} failed and the executable was removed: ${why}")
endfunction()

function(run_or_fail what)
    execute_process(${ARGN} RESULTS_VARIABLE results OUTPUT_VARIABLE out ERROR_VARIABLE out)
    foreach(result IN LISTS results)
        if(NOT result STREQUAL "0")
            fail("${what}:\n${out}")
        endif()
    endforeach()
endfunction()

if(NOT OSSLSIGNCODE OR NOT EXE)
    message(FATAL_ERROR "sign.cmake needs OSSLSIGNCODE and EXE")
endif()
if(PKCS12)
    set(signer -pkcs12 "${PKCS12}")
elseif(CERT AND KEY)
    set(signer -certs "${CERT}" -key "${KEY}")
else()
    fail("neither PKCS12 nor CERT and KEY are given")
endif()
if(NOT DESCRIPTION)
    get_filename_component(DESCRIPTION "${EXE}" NAME_WE)
endif()
set(options -h sha256 -n "${DESCRIPTION}")
if(TIMESTAMP_URL)
    list(APPEND options -ts "${TIMESTAMP_URL}")
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND options -time "$ENV{SOURCE_DATE_EPOCH}")
endif()

set(password_feed "")
if(PASSWORD_ENV)
    if(NOT DEFINED ENV{${PASSWORD_ENV}})
        fail("the environment variable ${PASSWORD_ENV} that holds the password is not set")
    endif()
    set(password_feed COMMAND printenv "${PASSWORD_ENV}")
    list(APPEND options -readpass -)
endif()

file(REMOVE "${EXE}.signed")
run_or_fail("osslsigncode sign" ${password_feed}
            COMMAND "${OSSLSIGNCODE}" sign ${signer} ${options}
                    -in "${EXE}" -out "${EXE}.signed")
set(trust "")
if(CAFILE)
    set(trust -CAfile "${CAFILE}")
endif()
run_or_fail("osslsigncode verify" COMMAND "${OSSLSIGNCODE}" verify ${trust} -in "${EXE}.signed")
file(RENAME "${EXE}.signed" "${EXE}")
file(CHMOD "${EXE}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
message(STATUS "Signed and verified ${EXE}")
