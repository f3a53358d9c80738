# Toolchain for the 32-bit Windows build: Debian's mingw-w64 cross compilers, posix-thread variant
# (std::thread and std::mutex need it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVEX_ARCH i686)

set(_tx_triplet i686-w64-mingw32)
set(CMAKE_C_COMPILER ${_tx_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_tx_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_tx_triplet}-windres)
set(CMAKE_AR ${_tx_triplet}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_tx_triplet}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${_tx_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
