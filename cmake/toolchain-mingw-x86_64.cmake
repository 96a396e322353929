# 64-bit Windows with Debian's mingw-w64 (win32 threads). Runs under Wine on
# this machine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARSK4_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
