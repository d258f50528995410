# The product version reaches every shipped binary from one place: the VERSION
# of the top-level project() call. It is written into the generated header
# velisk/version.h (on every target's include path, resource scripts too) and
# into <build>/velisk_version.txt for the release bundle script.
set(VELISK_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/templates/version.h.in" "${VELISK_GENERATED_DIR}/velisk/version.h" @ONLY)
file(WRITE "${CMAKE_BINARY_DIR}/velisk_version.txt" "${PROJECT_VERSION}\n")
include_directories("${VELISK_GENERATED_DIR}")

# velisk_version_info(<target> DESCRIPTION <text> [PRODUCT <text>])
# Gives an executable or DLL target a VERSIONINFO resource with the product
# version, its file name, the file description and the product name (default
# "Velisk"). Call it after the target's OUTPUT_NAME is set.
function(velisk_version_info target)
    cmake_parse_arguments(VI "" "DESCRIPTION;PRODUCT" "" ${ARGN})
    if(NOT VI_DESCRIPTION)
        message(FATAL_ERROR "velisk_version_info(${target}): DESCRIPTION is required")
    endif()
    if(NOT VI_PRODUCT)
        set(VI_PRODUCT "Velisk")
    endif()
    get_target_property(output_name ${target} OUTPUT_NAME)
    if(NOT output_name)
        set(output_name ${target})
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(VI_FILE_TYPE VFT_APP)
        set(VI_FILE_NAME "${output_name}.exe")
    else()
        set(VI_FILE_TYPE VFT_DLL)
        set(VI_FILE_NAME "${output_name}.dll")
    endif()
    set(VI_INTERNAL_NAME "${output_name}")
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
    configure_file("${CMAKE_SOURCE_DIR}/cmake/templates/version_info.rc.in" "${rc}" @ONLY)
    target_sources(${target} PRIVATE "${rc}")
endfunction()
