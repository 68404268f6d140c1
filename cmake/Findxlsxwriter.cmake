# Finds libxlsxwriter and provides xlsxwriter::xlsxwriter: through pkg-config where the system has
# it (Linux), otherwise by its header and library (Windows), with the zlib a static build needs.
if(NOT WIN32)
    find_package(PkgConfig QUIET)
endif()
if(PKG_CONFIG_FOUND)
    pkg_check_modules(XLSXWRITER QUIET IMPORTED_TARGET xlsxwriter)
endif()

if(TARGET PkgConfig::XLSXWRITER)
    set(xlsxwriter_VERSION ${XLSXWRITER_VERSION})
    set(XLSXWRITER_LIBRARY PkgConfig::XLSXWRITER)
    set(XLSXWRITER_INCLUDE_DIR ${XLSXWRITER_INCLUDEDIR})
else()
    find_path(XLSXWRITER_INCLUDE_DIR xlsxwriter.h)
    find_library(XLSXWRITER_LIBRARY NAMES xlsxwriter)
    find_package(ZLIB QUIET)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(xlsxwriter REQUIRED_VARS XLSXWRITER_LIBRARY XLSXWRITER_INCLUDE_DIR
                                  VERSION_VAR xlsxwriter_VERSION)

if(xlsxwriter_FOUND AND NOT TARGET xlsxwriter::xlsxwriter)
    add_library(xlsxwriter::xlsxwriter INTERFACE IMPORTED)
    target_link_libraries(xlsxwriter::xlsxwriter INTERFACE ${XLSXWRITER_LIBRARY})
    if(NOT TARGET PkgConfig::XLSXWRITER)
        target_include_directories(xlsxwriter::xlsxwriter INTERFACE ${XLSXWRITER_INCLUDE_DIR})
        if(TARGET ZLIB::ZLIB)
            target_link_libraries(xlsxwriter::xlsxwriter INTERFACE ZLIB::ZLIB)
        endif()
    endif()
endif()
