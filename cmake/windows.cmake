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
