#include "filesvc/restart_removal.h"

#include "platform.h"
#include "run/text_search.h"

static const char rename_section[] = "[rename]";

static bool is_short_name_character(unsigned char c) {
    if (c < 0x20 || c == 0x7F)
        return false;
    return strchr(" \"*+,/:;<=>?[]|\\", c) == NULL;
}

bool is_short_path(const char *path) {
    const char *p = path;
    if (p[0] != '\0' && p[1] == ':')
        p += 2;
    while (*p != '\0') {
        if (*p == '\\') {
            p++;
            continue;
        }
        int name = 0, extension = 0, dots = 0;
        for (; *p != '\0' && *p != '\\'; p++) {
            if (*p == '.') {
                dots++;
            } else if (!is_short_name_character((unsigned char)*p)) {
                return false;
            } else if (dots == 0) {
                name++;
            } else {
                extension++;
            }
        }
        if (dots > 1 || name == 0 || name > 8 || extension > 3)
            return false;
    }
    return true;
}

/* The form of a path that WININIT.INI can carry: the short form where the
 * long one is not already 8.3, or the path as it is when there is none. */
static const char *wininit_name(const char *path, char *buffer, DWORD size) {
    if (path == NULL)
        return "NUL";
    if (is_short_path(path))
        return path;
    DWORD length = GetShortPathNameA(path, buffer, size);
    if (length == 0 || length >= size)
        return path;
    return buffer;
}

/* Copies the old file, inserting the entry after the first line that holds
 * "[rename]". Lines are read in pieces of at most 498 characters; the test
 * also sees the end of the line's previous piece, so a header split between
 * two pieces is found, and the entry always goes after a whole line. */
static bool copy_with_entry(FILE *ini, FILE *out, const char *destination, const char *source,
                            bool *read_failed) {
    char piece[500];
    char window[8 + sizeof piece];
    size_t tail_length = 0; /* end of the current line's earlier pieces, in window */
    bool seen = false, written = false, line_open = false, ok = true;

    while (fgets(piece, 499, ini) != NULL) {
        size_t length = strlen(piece);
        if (!seen) {
            memcpy(window + tail_length, piece, length + 1);
            seen = contains_ignore_case(window, rename_section) >= 0;
        }
        ok = ok && fputs(piece, out) >= 0;
        line_open = length == 0 || piece[length - 1] != '\n';
        if (line_open) {
            size_t keep = sizeof rename_section - 2;
            size_t window_length = tail_length + length;
            size_t start = window_length > keep ? window_length - keep : 0;
            memmove(window, window + start, window_length - start);
            tail_length = window_length - start;
        } else {
            tail_length = 0;
            if (seen && !written) {
                ok = ok && fprintf(out, "%s=%s\n", destination, source) >= 0;
                written = true;
            }
        }
    }
    *read_failed = ferror(ini) != 0;
    if (!written) {
        /* A last line without its line end must not swallow what follows. */
        if (line_open)
            ok = ok && fputs("\n", out) >= 0;
        if (!seen)
            ok = ok && fprintf(out, "%s\n", rename_section) >= 0;
        ok = ok && fprintf(out, "%s=%s\n", destination, source) >= 0;
    }
    return ok;
}

int add_wininit_rename_entry(const char *ini_path, const char *new_path, const char *destination,
                             const char *source) {
    FILE *ini = fopen(ini_path, "rt");
    if (ini == NULL && GetFileAttributesA(ini_path) != INVALID_FILE_ATTRIBUTES)
        return 0; /* there, but unreadable: its lines must not be replaced */
    FILE *out = fopen(new_path, "wt");
    if (out == NULL) {
        if (ini != NULL)
            fclose(ini);
        return 0;
    }

    bool ok, read_failed = false;
    if (ini == NULL) {
        ok = fprintf(out, "%s\n%s=%s\n", rename_section, destination, source) >= 0;
    } else {
        ok = copy_with_entry(ini, out, destination, source, &read_failed);
        fclose(ini);
    }
    ok = ferror(out) == 0 && ok;
    if (fclose(out) != 0)
        ok = false;
    if (!ok || read_failed) {
        remove(new_path);
        return 0;
    }

    SetFileAttributesA(ini_path, FILE_ATTRIBUTE_NORMAL);
    remove(ini_path);
    return rename(new_path, ini_path) == 0;
}

static int schedule_in_wininit(const char *source, const char *destination) {
    char windows_directory[500];
    UINT length = GetWindowsDirectoryA(windows_directory, sizeof windows_directory);
    /* The directory and "\WININIT.INI" must fit a path of 260 bytes. */
    if (length == 0 || length > 247)
        return 0;
    char ini_path[MAX_PATH], new_path[MAX_PATH];
    memcpy(ini_path, windows_directory, length);
    memcpy(ini_path + length, "\\WININIT.INI", sizeof "\\WININIT.INI");
    memcpy(new_path, windows_directory, length);
    memcpy(new_path + length, "\\WININIT.NEW", sizeof "\\WININIT.NEW");

    char short_source[MAX_PATH], short_destination[MAX_PATH];
    return add_wininit_rename_entry(
        ini_path, new_path, wininit_name(destination, short_destination, sizeof short_destination),
        wininit_name(source, short_source, sizeof short_source));
}

int schedule_removal_at_restart(const char *source, const char *destination) {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return 0;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return MoveFileExA(source, destination,
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
    return schedule_in_wininit(source, destination);
}
