/* holdopen PATH
 *
 * Holds PATH open the way a running program holds its own executable: shared
 * for reading and writing but not for deletion, so that DeleteFileA from any
 * other process fails with ERROR_SHARING_VIOLATION (32). Prints "ready" once
 * the file is open and keeps it open until a line (or end of input) arrives
 * on stdin, or until the process is killed. The Wine tests use it to put a
 * worm file "in use".
 */
#include <stdio.h>
#include <windows.h>

int main(int argc, char **argv) {
    HANDLE file;
    char line[64];

    if (argc != 2) {
        fprintf(stderr, "usage: holdopen PATH\n");
        return 2;
    }
    file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        printf("error %lu\n", (unsigned long)GetLastError());
        fflush(stdout);
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    /* Either a line or the end of input lets go. */
    if (fgets(line, sizeof line, stdin) == NULL) {
        line[0] = '\0';
    }
    CloseHandle(file);
    printf("released\n");
    fflush(stdout);
    return 0;
}
