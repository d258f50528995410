# Cross toolchain: MinGW-w64 x86_64.
set(VELISK_TOOLCHAIN_ARCH x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
