# The vendor's two download hosts. The URL checks trust exactly these two
# names (and, for an overriding download base, their subdomains); the primary
# one also serves the default download base and the tool release description.
#
# A release build must be given the vendor's real names. A development build
# without them uses names that resolve to this machine, so that the local test
# servers can stand in for the download service:
#   primary  "localhost"          (resolved by every resolver, WinHTTP under wine included)
#   regional "regional.localhost" (libcurl maps *.localhost to loopback itself)
set(ORTIVEX_PRIMARY_HOST "" CACHE STRING "Primary download host of the vendor (trusted)")
set(ORTIVEX_REGIONAL_HOST "" CACHE STRING "Regional download host of the vendor (trusted)")

function(ortivex_check_host var value)
    string(LENGTH "${value}" len)
    if(len EQUAL 0 OR len GREATER 253)
        message(FATAL_ERROR "${var}: a host name of 1 to 253 characters is required")
    endif()
    string(TOLOWER "${value}" lower)
    if(NOT lower STREQUAL value)
        message(FATAL_ERROR "${var}: write the host name in lower case (${value})")
    endif()
    string(REPLACE "." ";" labels "${value}")
    foreach(label IN LISTS labels)
        string(LENGTH "${label}" label_len)
        if(NOT label MATCHES "^[a-z0-9]([a-z0-9-]*[a-z0-9])?$" OR label_len GREATER 63)
            message(FATAL_ERROR "${var}: '${value}' is not a host name (labels of letters, digits and '-')")
        endif()
    endforeach()
    if(value MATCHES "\\.$" OR value MATCHES "^\\." OR value MATCHES "\\.\\.")
        message(FATAL_ERROR "${var}: '${value}' is not a host name")
    endif()
endfunction()

function(ortivex_is_development_host value out)
    set(dev FALSE)
    if(value MATCHES "(^|\\.)(localhost|localdomain|test|invalid|example|local)$"
       OR value MATCHES "^[0-9.]+$")
        set(dev TRUE)
    endif()
    set(${out} ${dev} PARENT_SCOPE)
endfunction()

set(primary_host "${ORTIVEX_PRIMARY_HOST}")
set(regional_host "${ORTIVEX_REGIONAL_HOST}")
if(ORTIVEX_RELEASE)
    if(primary_host STREQUAL "" OR regional_host STREQUAL "")
        message(FATAL_ERROR "A release build needs the vendor's download hosts: "
                            "-DORTIVEX_PRIMARY_HOST=... -DORTIVEX_REGIONAL_HOST=...")
    endif()
    foreach(host IN ITEMS "${primary_host}" "${regional_host}")
        ortivex_is_development_host("${host}" is_dev)
        if(is_dev)
            message(FATAL_ERROR "A release build cannot trust the development host '${host}'")
        endif()
    endforeach()
else()
    if(primary_host STREQUAL "")
        set(primary_host "localhost")
    endif()
    if(regional_host STREQUAL "")
        set(regional_host "regional.localhost")
    endif()
endif()
ortivex_check_host(ORTIVEX_PRIMARY_HOST "${primary_host}")
ortivex_check_host(ORTIVEX_REGIONAL_HOST "${regional_host}")
if(primary_host STREQUAL regional_host)
    message(FATAL_ERROR "The primary and the regional download host must differ")
endif()

set(ORTIVEX_PRIMARY_HOST_VALUE "${primary_host}")
set(ORTIVEX_REGIONAL_HOST_VALUE "${regional_host}")
configure_file(${PROJECT_SOURCE_DIR}/src/http/download_hosts.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/http/download_hosts.h @ONLY)
message(STATUS "Download hosts: ${primary_host} (primary), ${regional_host} (regional)")
