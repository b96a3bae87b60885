# Cross-builds for 32-bit Windows, the program's platform, with Debian's
# MinGW-w64 compilers; its programs run under Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(PELLAMAR_MINGW_TRIPLET i686-w64-mingw32)
set(PELLAMAR_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
