# Toolchain for the 64-bit Windows build (the one the tests run under Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVEX_ARCH x86_64)
set(_tx_triplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
