# Shared part of the MinGW-w64 cross toolchains; the including file sets
# VELISK_TOOLCHAIN_ARCH (i686 or x86_64). Posix thread model, static C/C++
# runtimes: no MinGW DLL must sit beside a binary.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VELISK_TOOLCHAIN_ARCH})
set(VELISK_TRIPLET ${VELISK_TOOLCHAIN_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER   ${VELISK_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELISK_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${VELISK_TRIPLET}-windres)
set(CMAKE_AR           ${VELISK_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB       ${VELISK_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VELISK_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
