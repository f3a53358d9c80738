# Toolchain for the 32-bit Windows build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVEX_ARCH i686)
set(_tx_triplet i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
