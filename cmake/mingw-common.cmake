# Shared part of the mingw-w64 toolchain files: Debian's cross compilers, posix-thread variant (std::thread
# and std::mutex need it), for the triplet _tx_triplet that the including file sets.
set(CMAKE_SYSTEM_NAME Windows)

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
