# The part of the MinGW-w64 toolchain files that does not depend on the CPU:
# they set PELLAMAR_MINGW_TRIPLET, CMAKE_SYSTEM_PROCESSOR and
# PELLAMAR_WINE_NAMES, then include this file. The -posix compilers are
# needed: the win32 thread model has no std::mutex, and GoogleTest uses it.
# Programs link statically, so they need no DLL that Windows lacks.
set(CMAKE_SYSTEM_NAME Windows)

find_program(PELLAMAR_MINGW_CXX ${PELLAMAR_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(PELLAMAR_MINGW_CC ${PELLAMAR_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(PELLAMAR_MINGW_RC ${PELLAMAR_MINGW_TRIPLET}-windres REQUIRED)
set(CMAKE_C_COMPILER ${PELLAMAR_MINGW_CC})
set(CMAKE_CXX_COMPILER ${PELLAMAR_MINGW_CXX})
set(CMAKE_RC_COMPILER ${PELLAMAR_MINGW_RC})

# The target's headers and libraries sit beside the compilers' folder
# (<prefix>/bin/<triplet>-g++ and <prefix>/<triplet>).
get_filename_component(PELLAMAR_MINGW_BIN "${PELLAMAR_MINGW_CXX}" DIRECTORY)
get_filename_component(PELLAMAR_MINGW_ROOT "${PELLAMAR_MINGW_BIN}/../${PELLAMAR_MINGW_TRIPLET}"
                       ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH ${PELLAMAR_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or libwinpthread DLLs beside the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest starts the programs through Wine. Debian keeps the 64-bit loader
# out of PATH, in lib/wine beside bin.
find_program(PELLAMAR_WINE NAMES ${PELLAMAR_WINE_NAMES} PATH_SUFFIXES ../lib/wine)
if(PELLAMAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLAMAR_WINE})
endif()
