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

add_library(tarvona_common INTERFACE)
target_include_directories(tarvona_common INTERFACE ${CMAKE_SOURCE_DIR})

add_subdirectory(encoding)

# The core's tests that need neither a token nor a platform service.
add_executable(tarvona_core_test
  tests/encoding/encoding_test.cpp
)
target_link_libraries(tarvona_core_test PRIVATE gtest_main tarvona_encoding)
enable_testing()
add_test(NAME core_test COMMAND tarvona_core_test --gtest_brief=1)
set_tests_properties(core_test PROPERTIES TIMEOUT 300)
