# Windows build: tarsk4.exe for the real Win32 API, cross-compiled with
# mingw-w64.
#
# The program must load and run on Windows 95 and NT 4.0. mingw's usual
# start-up code and helper libraries bring CMOV instructions, a TLS directory
# and imports those systems lack, so the program is linked with -nostdlib
# against kernel32, advapi32 and the C runtime DLL only, and starts from our
# own start-up routine (src/platform/win32/startup.c).

enable_testing()

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(TARSK4_WIN64 ON)
  # crtdll.dll has no 64-bit form.
  set(TARSK4_CRT_LIB msvcrt)
else()
  set(TARSK4_WIN64 OFF)
  # Windows 95 as shipped has crtdll.dll but not msvcrt.dll.
  set(TARSK4_CRT_LIB crtdll)
endif()

# Nothing beyond what the program names itself: CMake would otherwise add
# user32, gdi32, shell32, ole32 and more to every link.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# Code generation for every object that goes into tarsk4.exe.
set(TARSK4_WIN32_CODE_FLAGS
  -Os
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
  -fno-asynchronous-unwind-tables
  -fno-unwind-tables
  -fno-ident
  # Unused functions are dropped at link time (--gc-sections). Not
  # -fdata-sections: GCC's PE back end then puts each zero-filled variable in
  # a .data$NAME section with contents, so a 64 KiB buffer costs 64 KiB of
  # file instead of .bss.
  -ffunction-sections
  # The same bytes wherever the tree is checked out.
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
  -ffile-prefix-map=${CMAKE_BINARY_DIR}/=
  -g0
)
if(NOT TARSK4_WIN64)
  # No CMOV, BSWAP, CPUID or other post-386 instructions: Windows 95 runs on
  # a 386.
  list(APPEND TARSK4_WIN32_CODE_FLAGS -march=i386)
endif()
set(TARSK4_WIN32_DEFINES
  # printf and friends are the C runtime DLL's own, not mingw's replacements.
  __USE_MINGW_ANSI_STDIO=0
)

target_compile_options(tarsk4_core PRIVATE ${TARSK4_WIN32_CODE_FLAGS})
target_compile_definitions(tarsk4_core PUBLIC ${TARSK4_WIN32_DEFINES})

add_executable(tarsk4
  src/platform/win32/startup.c
  src/platform/win32/main.cpp
)
target_compile_options(tarsk4 PRIVATE ${TARSK4_WARNINGS} ${TARSK4_WIN32_CODE_FLAGS})
if(TARSK4_CRT_LIB STREQUAL "crtdll")
  target_compile_definitions(tarsk4 PRIVATE TARSK4_CRTDLL)
endif()
target_link_options(tarsk4 PRIVATE
  -nostdlib
  -s
  -Wl,--gc-sections
  -Wl,--subsystem,console:4.0
  -Wl,--major-os-version,4
  -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,4
  -Wl,--minor-subsystem-version,0
  -Wl,--no-insert-timestamp
  -Wl,--build-id=none
)
target_link_libraries(tarsk4 PRIVATE tarsk4_core kernel32 advapi32 ${TARSK4_CRT_LIB})

# The static gate on the release binary, and the gate's own tests. Both are
# plain Python on the build machine.
find_program(TARSK4_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT TARSK4_WIN64 AND TARSK4_PYTHON3)
  add_test(NAME check_pe_tarsk4
    COMMAND ${TARSK4_PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/check-pe $<TARGET_FILE:tarsk4>)
  add_test(NAME check_pe_gate
    COMMAND ${TARSK4_PYTHON3} ${CMAKE_SOURCE_DIR}/tools/pe/test_check_pe.py)
endif()

# Unit tests built for Windows: GoogleTest from Debian's source package
# (/usr/src/googletest), with mingw's ordinary start-up code and static
# libstdc++/libgcc, run under Wine through tests/wine/wine-run. Only the
# 64-bit build can run here, so that is the default.
if(TARSK4_WIN64)
  set(TARSK4_WINDOWS_TESTS_DEFAULT ON)
else()
  set(TARSK4_WINDOWS_TESTS_DEFAULT OFF)
endif()
option(TARSK4_WINDOWS_TESTS "Build the unit tests for Windows and run them under Wine"
  ${TARSK4_WINDOWS_TESTS_DEFAULT})
set(TARSK4_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build")

if(TARSK4_WINDOWS_TESTS AND NOT EXISTS ${CMAKE_SOURCE_DIR}/tests/unit/CMakeLists.txt)
  message(STATUS "TARSK4_WINDOWS_TESTS: no tests/unit yet")
elseif(TARSK4_WINDOWS_TESTS AND NOT EXISTS ${CMAKE_SOURCE_DIR}/tests/unit/test_machine_win32.cpp)
  # tests/unit names this file for Windows; until it exists, configuring
  # would fail.
  message(STATUS "TARSK4_WINDOWS_TESTS: tests/unit/test_machine_win32.cpp not there yet")
elseif(TARSK4_WINDOWS_TESTS)
  if(NOT EXISTS ${TARSK4_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "TARSK4_WINDOWS_TESTS needs GoogleTest's sources in "
      "${TARSK4_GOOGLETEST_SOURCE} (Debian package googletest)")
  endif()
  find_program(TARSK4_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(NOT TARSK4_WINE64 OR NOT TARSK4_PYTHON3)
    message(FATAL_ERROR "TARSK4_WINDOWS_TESTS needs /usr/lib/wine/wine64 and /usr/bin/python3 "
      "(Debian packages wine64 and python3)")
  endif()

  # Everything from here on, not tarsk4.exe above: no DLLs beside the tests.
  add_link_options(-static)

  set(INSTALL_GTEST OFF CACHE BOOL "GoogleTest is built for the tests, not installed")
  add_subdirectory(${TARSK4_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The names find_package(GTest) gives natively (Debian's sources define
  # them already).
  foreach(lib gtest gtest_main gmock gmock_main)
    if(TARGET ${lib} AND NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
  # mingw-w64 with win32 threads has no std::mutex, which GoogleTest's
  # Notification class is written with: it gets a Win32 one instead.
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC
    "SHELL:-include ${CMAKE_SOURCE_DIR}/tests/wine/gtest_win32_threads.h")

  # Each test executable runs in a fresh Wine prefix of its own.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARSK4_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/wine/wine-run)
  add_subdirectory(tests/unit)
endif()
include(${CMAKE_SOURCE_DIR}/tests/scenarios/wine.cmake)
