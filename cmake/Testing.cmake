# Test registration. Tests run only in the x86-64 tree, under Wine through the
# emulator wrapper: wine64 would "pass" a 32-bit program without running it, so
# the i686 tree builds no test program at all (tests/CMakeLists.txt).

include(GoogleTest)

set(VELISK_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
if(VELISK_ARCH STREQUAL "x86_64")
    set(VELISK_RUN_TESTS ON)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;--prefix=${VELISK_WINEPREFIX}")
else()
    set(VELISK_RUN_TESTS OFF)
endif()

# velisk_add_gtest(<name> SOURCES ... [LIBS ...] [DEPENDS targets...]
#                  [LOCKS resource...] [FIXTURES name...] [ENVIRONMENT VAR=value...]
#                  [TIMEOUT seconds] [NO_MAIN])
# Builds one GoogleTest program and, in the x86-64 tree, registers each of its
# cases with CTest. LOCKS names CTest resource locks (for example "net" for the
# loopback ports 80 and 443 that the downloader always uses); FIXTURES names
# CTest fixtures the cases require (for example "test_server"); ENVIRONMENT
# sets variables for the Wine process of each case.
function(velisk_add_gtest name)
    cmake_parse_arguments(T "NO_MAIN" "TIMEOUT" "SOURCES;LIBS;DEPENDS;LOCKS;FIXTURES;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    if(T_NO_MAIN)
        target_link_libraries(${name} PRIVATE ${T_LIBS} dep::gmock)
    else()
        target_link_libraries(${name} PRIVATE ${T_LIBS} dep::gtest_main)
    endif()
    target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
    target_compile_definitions(${name} PRIVATE
        VELISK_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VELISK_BINARY_DIR="${CMAKE_BINARY_DIR}")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    if(NOT VELISK_RUN_TESTS)
        return()
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    gtest_discover_tests(${name}
        WORKING_DIRECTORY "${CMAKE_BINARY_DIR}/bin"
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        TEST_LIST ${name}_TESTS
        PROPERTIES TIMEOUT ${T_TIMEOUT})
    # Locks and fixtures are list-valued properties, which the discovery's
    # PROPERTIES would flatten; a script included after the discovered tests
    # sets them on each one.
    if(T_LOCKS OR T_FIXTURES OR T_ENVIRONMENT)
        set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_resources.cmake")
        file(WRITE "${script}"
            "foreach(test IN LISTS ${name}_TESTS)\n"
            "    set_tests_properties(\"\${test}\" PROPERTIES RESOURCE_LOCK \"${T_LOCKS}\"\n"
            "                         FIXTURES_REQUIRED \"${T_FIXTURES}\"\n"
            "                         ENVIRONMENT \"${T_ENVIRONMENT}\")\n"
            "endforeach()\n")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
    endif()
endfunction()
