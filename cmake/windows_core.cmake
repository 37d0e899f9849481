# The Windows build (mingw-w64, cmake/toolchains/): the core libraries, each
# compiled with <windows.h> force-included first so no core header may take
# a name the Windows headers own, and a GoogleTest binary of the core's pure
# tests that runs under Wine (scripts/test-windows.sh).

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

add_library(tarvona_common INTERFACE)
target_include_directories(tarvona_common INTERFACE ${CMAKE_SOURCE_DIR})

add_subdirectory(encoding)
add_subdirectory(platform)
add_subdirectory(capi)
# token/ and control/ join once token/ builds here: it still hands size_t
# lengths to Cryptoki, whose CK_ULONG is 32 bits on 64-bit Windows.

# The core's tests that need neither a token nor a store.
add_executable(tarvona_core_test
  tests/encoding/encoding_test.cpp
  tests/platform/os_seam_win32_test.cpp
)
target_link_libraries(tarvona_core_test PRIVATE gtest_main tarvona_encoding tarvona_platform)

# What the loader tests plant where a bare-name load must not look.
add_library(tarvona_planted SHARED tests/platform/planted_module.c)
set_target_properties(tarvona_planted PROPERTIES
  PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/planted)
add_dependencies(tarvona_core_test tarvona_planted)

enable_testing()
add_test(NAME core_test COMMAND tarvona_core_test --gtest_brief=1)
set_tests_properties(core_test PROPERTIES TIMEOUT 300)
