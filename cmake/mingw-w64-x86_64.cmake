# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers; its
# programs run under Wine's 64-bit loader. The program ships as a 32-bit
# build; this one runs its tests where Linux cannot start 32-bit programs
# (a kernel without IA-32 emulation), and so neither can Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(PELLAMAR_MINGW_TRIPLET x86_64-w64-mingw32)
set(PELLAMAR_WINE_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
