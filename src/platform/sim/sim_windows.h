/* The Win32 subset the program calls, served by the simulated Windows
 * machine (see sim_machine.h for the machine itself).
 *
 * Types, constants and results follow Win32: same names, same values, same
 * error codes through GetLastError() or the LONG result of the Reg*
 * functions. Included only through src/platform/platform.h.
 */
#ifndef TARSK4_SIM_WINDOWS_H
#define TARSK4_SIM_WINDOWS_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef uint16_t WCHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef LONG *PLONG;
typedef void *HANDLE;
typedef DWORD REGSAM;
typedef uintptr_t ULONG_PTR;
typedef struct SimKey *HKEY;
typedef HKEY *PHKEY;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu

/* Predefined keys carry the same (sign-extended) values as on Windows. */
#define SIM_PREDEFINED_KEY(v) ((HKEY)(intptr_t)(int32_t)(v))
#define HKEY_CLASSES_ROOT SIM_PREDEFINED_KEY(0x80000000u)
#define HKEY_CURRENT_USER SIM_PREDEFINED_KEY(0x80000001u)
#define HKEY_LOCAL_MACHINE SIM_PREDEFINED_KEY(0x80000002u)
#define HKEY_USERS SIM_PREDEFINED_KEY(0x80000003u)
#define HKEY_CURRENT_CONFIG SIM_PREDEFINED_KEY(0x80000005u)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_READ 0x20019
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_HIDDEN 0x02
#define FILE_ATTRIBUTE_SYSTEM 0x04
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define MOVEFILE_REPLACE_EXISTING 0x1
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x4

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA;

/* Console. */
#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define OPEN_EXISTING 3
#define ENABLE_PROCESSED_INPUT 0x1
#define ENABLE_LINE_INPUT 0x2
#define ENABLE_ECHO_INPUT 0x4
#define KEY_EVENT 0x1
#define MOUSE_EVENT 0x2
#define WINDOW_BUFFER_SIZE_EVENT 0x4
#define MENU_EVENT 0x8
#define FOCUS_EVENT 0x10

typedef struct {
    BOOL bKeyDown;
    WORD wRepeatCount;
    WORD wVirtualKeyCode;
    WORD wVirtualScanCode;
    union {
        WCHAR UnicodeChar;
        CHAR AsciiChar;
    } uChar;
    DWORD dwControlKeyState;
} KEY_EVENT_RECORD;

typedef struct {
    WORD EventType;
    union {
        KEY_EVENT_RECORD KeyEvent;
        BYTE other[16]; /* mouse, window, menu and focus records */
    } Event;
} INPUT_RECORD;

/* Registry. */
LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY result);
LONG RegQueryValueA(HKEY key, LPCSTR sub_key, LPSTR data, PLONG data_size);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD data_size);
LONG RegSetValueA(HKEY key, LPCSTR sub_key, DWORD type, LPCSTR data, DWORD data_size);
LONG RegDeleteValueA(HKEY key, LPCSTR name);
LONG RegCloseKey(HKEY key);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data,
                    DWORD data_size);

/* Files, directories, version, timing. */
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
DWORD GetFileAttributesA(LPCSTR path);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
BOOL DeleteFileA(LPCSTR path);
BOOL MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags);
DWORD GetShortPathNameA(LPCSTR long_path, LPSTR short_path, DWORD size);
DWORD GetLastError(void);
void SetLastError(DWORD error);
BOOL GetVersionExA(OSVERSIONINFOA *info);
void Sleep(DWORD milliseconds);

/* Console handles. */
HANDLE GetStdHandle(DWORD which);
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
BOOL CloseHandle(HANDLE handle);
BOOL GetConsoleMode(HANDLE handle, LPDWORD mode);
BOOL SetConsoleMode(HANDLE handle, DWORD mode);
BOOL GetNumberOfConsoleInputEvents(HANDLE handle, LPDWORD count);
BOOL ReadConsoleInputA(HANDLE handle, INPUT_RECORD *records, DWORD length, LPDWORD read);
BOOL FlushConsoleInputBuffer(HANDLE handle);
BOOL WriteConsoleA(HANDLE handle, const void *buffer, DWORD length, LPDWORD written,
                   void *reserved);

/* The C runtime DLL's own names. _snprintf and _vsnprintf behave as there:
 * when the text does not fit they fill the buffer without a terminator and
 * return -1. */
int _stricmp(const char *a, const char *b);
int _strnicmp(const char *a, const char *b, size_t count);
int _snprintf(char *buffer, size_t count, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
int _vsnprintf(char *buffer, size_t count, const char *format, va_list args);

/* The C library's file functions that name paths resolve them on the
 * machine's drive C: and give Windows text mode ("rt", "wt": CR LF, Ctrl-Z
 * ends the input). The streams they return are ordinary FILE objects, so
 * fgets, fread, fputs, fprintf, fseek, ferror and fclose apply as usual. */
FILE *sim_fopen(const char *path, const char *mode);
int sim_remove(const char *path);
int sim_rename(const char *old_path, const char *new_path);
#define fopen sim_fopen
#define remove sim_remove
#define rename sim_rename

#endif
