# Compilers and search rules shared by the mingw-w64 toolchain files, which set
# KOLVA_MINGW_TRIPLET first. The "-win32" compilers are the ones without the
# POSIX thread layer: KOLVA has one thread, and this way no thread library has
# to be linked in.
set(CMAKE_C_COMPILER ${KOLVA_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KOLVA_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${KOLVA_MINGW_TRIPLET}-windres)

# Libraries and headers come from the cross sysroot only; programs run during
# the build are the machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${KOLVA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
