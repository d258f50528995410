# Cross toolchain: MinGW-w64 i686.
set(VELISK_TOOLCHAIN_ARCH i686)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
