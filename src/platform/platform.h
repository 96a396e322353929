/* The one seam between the program and the operating system.
 *
 * Portable code includes this header and nothing else of the system's: it
 * then calls the Win32 functions under their own names and the C library's
 * stdio. Built for Windows, the names are the real ones from <windows.h>;
 * built anywhere else, they come from our simulated Windows machine, which
 * gives the same results and error codes for every call the program makes.
 */
#ifndef TARSK4_PLATFORM_H
#define TARSK4_PLATFORM_H

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
/* The C runtime DLLs of old Windows export only the underscored form; the
 * plain name would pull in mingw's own printf engine. */
#undef vsnprintf
#define vsnprintf _vsnprintf
#else
#include "sim/sim_windows.h"
#endif

#endif
