# 32-bit Windows with Debian's mingw-w64 (win32 threads). The release target:
# Windows 95 and NT 4.0 on.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARSK4_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
