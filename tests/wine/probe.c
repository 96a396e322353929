/* probe COMMAND [ARG...]: a tiny Windows program that shows what Wine does,
 * for the self-test of wine_machine.py. Each command prints one line:
 *
 *   version         platform id, major and minor from GetVersionExA
 *   sysdir          GetSystemDirectoryA
 *   delete PATH     DeleteFileA's result and GetLastError()
 *   movefile PATH   MoveFileExA(PATH, NULL, MOVEFILE_DELAY_UNTIL_REBOOT |
 *                   MOVEFILE_REPLACE_EXISTING): result and GetLastError()
 *   attrib PATH     GetFileAttributesA in hex
 *   setattr PATH X  SetFileAttributesA(PATH, X), X in hex: result and error
 *   exit N TEXT     TEXT on stdout, "err" on stderr, exit code N
 *   stdin           every line of stdin, upper-cased
 *   key             waits for one console key press and prints its character
 */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static int show_key(void) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    INPUT_RECORD record;
    DWORD count;

    SetConsoleMode(in, 0);
    printf("press a key\n");
    fflush(stdout);
    for (;;) {
        if (!ReadConsoleInputA(in, &record, 1, &count)) {
            printf("ReadConsoleInputA failed %lu\n", (unsigned long)GetLastError());
            return 1;
        }
        if (count == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.uChar.AsciiChar != 0) {
            printf("key %c\n", record.Event.KeyEvent.uChar.AsciiChar);
            return 0;
        }
    }
}

int main(int argc, char **argv) {
    const char *command = argc > 1 ? argv[1] : "";
    const char *arg = argc > 2 ? argv[2] : "";
    char buffer[MAX_PATH];

    if (strcmp(command, "version") == 0) {
        OSVERSIONINFOA info;
        info.dwOSVersionInfoSize = sizeof info;
        GetVersionExA(&info);
        printf("platform %lu %lu.%lu\n", (unsigned long)info.dwPlatformId,
               (unsigned long)info.dwMajorVersion, (unsigned long)info.dwMinorVersion);
    } else if (strcmp(command, "sysdir") == 0) {
        GetSystemDirectoryA(buffer, sizeof buffer);
        printf("%s\n", buffer);
    } else if (strcmp(command, "delete") == 0) {
        BOOL ok = DeleteFileA(arg);
        printf("DeleteFileA %d %lu\n", ok ? 1 : 0, ok ? 0ul : (unsigned long)GetLastError());
    } else if (strcmp(command, "movefile") == 0) {
        BOOL ok = MoveFileExA(arg, NULL, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
        printf("MoveFileExA %d %lu\n", ok ? 1 : 0, ok ? 0ul : (unsigned long)GetLastError());
    } else if (strcmp(command, "attrib") == 0) {
        printf("attributes %lx\n", (unsigned long)GetFileAttributesA(arg));
    } else if (strcmp(command, "setattr") == 0) {
        BOOL ok = SetFileAttributesA(arg, (DWORD)strtoul(argc > 3 ? argv[3] : "", NULL, 16));
        printf("SetFileAttributesA %d %lu\n", ok ? 1 : 0, ok ? 0ul : (unsigned long)GetLastError());
    } else if (strcmp(command, "exit") == 0) {
        printf("%s\n", argc > 3 ? argv[3] : "");
        fprintf(stderr, "err\n");
        return atoi(arg);
    } else if (strcmp(command, "stdin") == 0) {
        while (fgets(buffer, sizeof buffer, stdin) != NULL) {
            char *p;
            for (p = buffer; *p != '\0'; p++) {
                *p = (char)toupper((unsigned char)*p);
            }
            fputs(buffer, stdout);
        }
    } else if (strcmp(command, "key") == 0) {
        return show_key();
    } else {
        fprintf(stderr,
                "usage: probe version|sysdir|delete|movefile|attrib|setattr|exit|stdin|key\n");
        return 2;
    }
    return 0;
}
