# Imported targets for the third-party libraries that scripts/build-deps.sh
# builds into .deps/<arch>, plus the packaged static zlib.

set(VELISK_DEPS_DIR "${CMAKE_SOURCE_DIR}/.deps/${VELISK_ARCH}" CACHE PATH
    "Prefix of the MinGW builds of the third-party libraries")
if(NOT EXISTS "${VELISK_DEPS_DIR}/lib/libglog.a")
    message(FATAL_ERROR "Third-party libraries missing in ${VELISK_DEPS_DIR}: "
                        "run scripts/bootstrap.sh first")
endif()

function(velisk_import_static name file)
    add_library(${name} STATIC IMPORTED GLOBAL)
    set_target_properties(${name} PROPERTIES
        IMPORTED_LOCATION "${VELISK_DEPS_DIR}/lib/${file}"
        INTERFACE_INCLUDE_DIRECTORIES "${VELISK_DEPS_DIR}/include")
endfunction()

velisk_import_static(dep::sqlite3 libsqlite3.a)

add_library(dep::zlib STATIC IMPORTED GLOBAL)
set_target_properties(dep::zlib PROPERTIES
    IMPORTED_LOCATION "/usr/${VELISK_TRIPLET}/lib/libz.a")

velisk_import_static(dep::minizip libminizip.a)
set_property(TARGET dep::minizip APPEND PROPERTY INTERFACE_INCLUDE_DIRECTORIES
    "${VELISK_DEPS_DIR}/include/minizip")
set_property(TARGET dep::minizip PROPERTY INTERFACE_LINK_LIBRARIES dep::zlib)

velisk_import_static(dep::boost_filesystem libboost_filesystem.a)
set_property(TARGET dep::boost_filesystem PROPERTY INTERFACE_COMPILE_DEFINITIONS
    BOOST_FILESYSTEM_STATIC_LINK=1 BOOST_ALL_NO_LIB=1 BOOST_USE_WINDOWS_H)
set_property(TARGET dep::boost_filesystem PROPERTY INTERFACE_LINK_LIBRARIES bcrypt)

add_library(dep::boost_headers INTERFACE IMPORTED GLOBAL)
set_target_properties(dep::boost_headers PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${VELISK_DEPS_DIR}/include"
    INTERFACE_COMPILE_DEFINITIONS "BOOST_ALL_NO_LIB=1;BOOST_USE_WINDOWS_H")

velisk_import_static(dep::glog libglog.a)
set_property(TARGET dep::glog PROPERTY INTERFACE_COMPILE_DEFINITIONS
    GLOG_NO_ABBREVIATED_SEVERITIES GLOG_STATIC_DEFINE GLOG_CUSTOM_PREFIX_SUPPORT)
set_property(TARGET dep::glog PROPERTY INTERFACE_LINK_LIBRARIES dbghelp)

velisk_import_static(dep::jsoncpp libjsoncpp.a)

# The zstd decoder (patches of delta updates), built by scripts/build-zstd.sh
# into .deps/<arch>-zstd.
set(VELISK_ZSTD_DIR "${CMAKE_SOURCE_DIR}/.deps/${VELISK_ARCH}-zstd" CACHE PATH
    "Prefix of the MinGW build of the zstd decoder")
if(NOT EXISTS "${VELISK_ZSTD_DIR}/lib/libzstd.a")
    message(FATAL_ERROR "zstd decoder missing in ${VELISK_ZSTD_DIR}: run scripts/bootstrap.sh first")
endif()
add_library(dep::zstd STATIC IMPORTED GLOBAL)
set_target_properties(dep::zstd PROPERTIES
    IMPORTED_LOCATION "${VELISK_ZSTD_DIR}/lib/libzstd.a"
    INTERFACE_INCLUDE_DIRECTORIES "${VELISK_ZSTD_DIR}/include")

velisk_import_static(dep::gtest libgtest.a)
velisk_import_static(dep::gmock libgmock.a)
set_property(TARGET dep::gmock PROPERTY INTERFACE_LINK_LIBRARIES dep::gtest)
velisk_import_static(dep::gtest_main libgtest_main.a)
set_property(TARGET dep::gtest_main PROPERTY INTERFACE_LINK_LIBRARIES dep::gmock)
