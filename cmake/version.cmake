# The one version of the build: KESTRELON_VERSION_TEXT in plugin/res/version.h. Every
# shipped binary carries it in its version resource (plugin/res/version_info.rc), and the
# installer gets it as KESTRELON_VERSION for its own version and its uninstall entry.
set(KESTRELON_VERSION_HEADER ${CMAKE_SOURCE_DIR}/plugin/res/version.h)
file(STRINGS ${KESTRELON_VERSION_HEADER} kestrelon_version_line REGEX "^#define KESTRELON_VERSION_TEXT ")
string(REGEX REPLACE "^#define KESTRELON_VERSION_TEXT \"([0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+)\"$" "\\1"
       KESTRELON_VERSION "${kestrelon_version_line}")
if(NOT KESTRELON_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "no four-part KESTRELON_VERSION_TEXT in ${KESTRELON_VERSION_HEADER}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KESTRELON_VERSION_HEADER})
