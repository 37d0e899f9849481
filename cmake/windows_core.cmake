# The Windows build (mingw-w64, cmake/toolchains/): the core libraries, each
# compiled with <windows.h> force-included first so no core header may take
# a name the Windows headers own, and a GoogleTest binary of the core's pure
# tests that runs under Wine (scripts/test-windows.sh). This part sets the
# build up; tests/windows/windows_tests.cmake adds the tests once the core
# is in.

# GoogleTest from Debian's sources (libgtest-dev), built with this compiler
# and without our warning policy or forced header: it is not our code.
set(TARVONA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${TARVONA_GTEST_SOURCE} googletest EXCLUDE_FROM_ALL SYSTEM)

add_compile_options(${TARVONA_WARNINGS} "SHELL:-include windows.h")

# Cryptoki definitions: p11-kit's pkcs11.h serves Windows too (it packs its
# structures to one byte under _WIN32). Only that header folder is taken
# from the build machine.
find_path(TARVONA_P11KIT_INCLUDE_DIR p11-kit/pkcs11.h
          PATHS /usr/include/p11-kit-1 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(cryptoki_headers INTERFACE)
target_include_directories(cryptoki_headers SYSTEM INTERFACE ${TARVONA_P11KIT_INCLUDE_DIR})
