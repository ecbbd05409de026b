# The one Ed25519 public key that official media must be signed with, from the
# cache variable ORTIVEX_MEDIA_PUBLIC_KEY (64 hex digits). Development builds
# default to the development key of the repository (keys/), whose secret half
# signs the test images and the sample; a release build needs the vendor's
# own key and refuses the development one.
set(ORTIVEX_MEDIA_PUBLIC_KEY "" CACHE STRING
    "Ed25519 public key (64 hex digits) of the vendor's media signing key")

file(STRINGS ${PROJECT_SOURCE_DIR}/keys/dev-media-ed25519.pub DEV_MEDIA_KEY LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/keys/dev-media-ed25519.pub)
string(STRIP "${DEV_MEDIA_KEY}" DEV_MEDIA_KEY)
string(TOLOWER "${DEV_MEDIA_KEY}" DEV_MEDIA_KEY)

set(media_key "${ORTIVEX_MEDIA_PUBLIC_KEY}")
if(media_key STREQUAL "")
    if(ORTIVEX_RELEASE)
        message(FATAL_ERROR "A release build needs the vendor's media key: "
                            "configure with -DORTIVEX_MEDIA_PUBLIC_KEY=<64 hex digits>")
    endif()
    set(media_key "${DEV_MEDIA_KEY}")
endif()
string(TOLOWER "${media_key}" media_key)
if(NOT media_key MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "ORTIVEX_MEDIA_PUBLIC_KEY must be 64 hexadecimal digits")
endif()
string(LENGTH "${media_key}" media_key_length)
if(NOT media_key_length EQUAL 64)
    message(FATAL_ERROR "ORTIVEX_MEDIA_PUBLIC_KEY must be 64 hexadecimal digits")
endif()
if(media_key STREQUAL DEV_MEDIA_KEY)
    if(ORTIVEX_RELEASE)
        message(FATAL_ERROR "A release build must not carry the development media key")
    endif()
    set(MEDIA_KEY_IS_DEVELOPMENT true)
else()
    set(MEDIA_KEY_IS_DEVELOPMENT false)
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," MEDIA_KEY_BYTES "${media_key}")
string(REGEX REPLACE ",$" "" MEDIA_KEY_BYTES "${MEDIA_KEY_BYTES}")
configure_file(${PROJECT_SOURCE_DIR}/src/image/media_key.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/image/media_key.h @ONLY)
