# Findhttplib.cmake: Debian's cpp-httplib ships a header and a shared library, no CMake package.
#
# The library is built with OpenSSL, zlib and brotli support, and those options change
# the layout of its classes: code that includes the header without the same definitions
# crashes inside the library. The definitions come from its pkg-config file.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_check_modules(PC_httplib QUIET cpp-httplib)
endif()
find_path(httplib_INCLUDE_DIR httplib.h HINTS ${PC_httplib_INCLUDE_DIRS})
find_library(httplib_LIBRARY NAMES cpp-httplib HINTS ${PC_httplib_LIBRARY_DIRS})
set(httplib_DEFINITIONS "")
foreach(flag IN LISTS PC_httplib_CFLAGS_OTHER)
    if(flag MATCHES "^-D(.+)$")
        list(APPEND httplib_DEFINITIONS "${CMAKE_MATCH_1}")
    endif()
endforeach()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(httplib REQUIRED_VARS httplib_INCLUDE_DIR httplib_LIBRARY)
if(httplib_FOUND AND NOT TARGET httplib::httplib)
    add_library(httplib::httplib UNKNOWN IMPORTED)
    set_target_properties(httplib::httplib PROPERTIES
        IMPORTED_LOCATION "${httplib_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${httplib_INCLUDE_DIR}"
        INTERFACE_COMPILE_DEFINITIONS "${httplib_DEFINITIONS}")
endif()
