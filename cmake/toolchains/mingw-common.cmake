# Shared part of the mingw-w64 toolchain files; TARVONA_MINGW_TRIPLET names
# the target. The -posix compilers use winpthreads, without which GCC's
# libstdc++ for mingw has no std::mutex or std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)

set(CMAKE_C_COMPILER ${TARVONA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVONA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVONA_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TARVONA_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${TARVONA_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TARVONA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A static runtime: what we build imports only DLLs every Windows has
# (KERNEL32, msvcrt, ...), never libgcc, libstdc++ or libwinpthread.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests built here run under Wine (scripts/wine-run.sh sets up its prefix).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh)
