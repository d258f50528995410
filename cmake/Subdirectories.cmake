# velisk_add_subdirectories(): adds every sub-folder of the current source
# folder that has a CMakeLists.txt, so new components need no edit here.
function(velisk_add_subdirectories)
    file(GLOB children LIST_DIRECTORIES true "${CMAKE_CURRENT_SOURCE_DIR}/*")
    foreach(dir ${children})
        if(IS_DIRECTORY "${dir}" AND EXISTS "${dir}/CMakeLists.txt")
            add_subdirectory("${dir}")
        endif()
    endforeach()
endfunction()
