# The core's tests that need neither a token nor a store, cross-built for
# Windows (see cmake/windows_core.cmake). Included from the top-level
# CMakeLists.txt, so paths are from the source root.
add_executable(tarvona_core_test
  tests/control/core_units_test.cpp
  tests/encoding/encoding_test.cpp
  tests/platform/os_seam_win32_test.cpp
)
target_link_libraries(tarvona_core_test
  PRIVATE gtest_main tarvona_control tarvona_encoding tarvona_platform)

# What the loader tests plant where a bare-name load must not look.
add_library(tarvona_planted SHARED tests/platform/planted_module.c)
set_target_properties(tarvona_planted PROPERTIES
  PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/planted)
add_dependencies(tarvona_core_test tarvona_planted)

enable_testing()
add_test(NAME core_test COMMAND tarvona_core_test --gtest_brief=1)
set_tests_properties(core_test PROPERTIES TIMEOUT 300)

# The token road through the Wine bridge (testing/wine-bridge/). Not a
# *_test.exe: it needs the tokens and the prefix that the Linux build's
# windows_token_road test makes, and runs from there.
add_library(tarvona_test_no_store INTERFACE)
target_link_libraries(tarvona_test_no_store INTERFACE tarvona_capi)
tarvona_headers(tarvona_test_no_store PUBLIC testing/no_store.h)
add_executable(token_road_wine tests/windows/token_road_test.cpp)
target_link_libraries(token_road_wine PRIVATE gtest_main tarvona_control tarvona_test_no_store)

# The control module in a small container of our own, run under Wine with
# the other Windows tests (scripts/test-windows.sh).
add_executable(tarvona_ocx_test tests/windows/ocx_test.cpp)
target_link_libraries(tarvona_ocx_test PRIVATE
  gtest tarvona_method_metadata ole32 oleaut32 uuid advapi32 gdi32 user32)
add_dependencies(tarvona_ocx_test tarvona_ocx)

# The store road on CryptoAPI (windows/cryptoapi/): the test fills its
# prefix's "MY" store with the test PKI itself (testing/wine-store/, which
# also gives scripts/test-windows-control.sh its tarvona-fill-store.exe).
add_subdirectory(testing/wine-store ${CMAKE_BINARY_DIR}/testing/wine-store)
add_executable(tarvona_cryptoapi_test tests/windows/cryptoapi_test.cpp)
target_link_libraries(tarvona_cryptoapi_test
  PRIVATE gtest_main tarvona_capi_cryptoapi tarvona_wine_store tarvona_encoding tarvona_platform)
add_dependencies(tarvona_cryptoapi_test tarvona_store_data)

# The token modules of the 32-bit build's run under 32-bit Wine
# (scripts/test-windows-control.sh --i686).
add_subdirectory(testing/socket-bridge ${CMAKE_BINARY_DIR}/testing/socket-bridge)
