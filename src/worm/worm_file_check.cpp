#include "worm/worm_file_check.h"

#include "filesvc/crc32.h"
#include "filesvc/restart_removal.h"
#include "platform.h"
#include "run/console_output.h"
#include "run/reporting.h"

unsigned char scan_buffer[65536];

enum FileIdentity { FileIsWorm, FileNotRecognized, FileUnreadable };

/* The CRC covers the bytes really read: a file shorter than the range is
 * not the worm, whatever an earlier check left in the buffer. */
static FileIdentity identify_file(const char *path, const FileSignatureEntry *entry) {
    crc32_reset(0);
    FILE *file = fopen(path, "rb");
    if (file == NULL) {
        out_printf("...cannot open...");
        return FileUnreadable;
    }
    out_printf("...opened...");
    uint32_t wanted = entry->range_end - entry->range_start;
    size_t got = 0;
    /* A range that does not fit the buffer cannot be checked. */
    bool range_fits = entry->range_start <= entry->range_end && wanted <= sizeof scan_buffer;
    bool read_failed = !range_fits || fseek(file, (long)entry->range_start, SEEK_SET) != 0;
    if (!read_failed) {
        got = fread(scan_buffer, 1, wanted, file);
        read_failed = ferror(file) != 0;
    }
    fclose(file);
    if (read_failed) {
        out_printf("...cannot open...");
        return FileUnreadable;
    }
    crc32_update(scan_buffer, (uint32_t)got);
    if (got == wanted && crc32_final() == entry->crc) {
        out_printf("...virus found...");
        return FileIsWorm;
    }
    out_printf("...virus not recognized...");
    return FileNotRecognized;
}

void check_worm_file(const FileSignatureEntry *entry) {
    print_step_number();

    char path[MAX_PATH];
    memset(path, 0, sizeof path);
    memcpy(path, "C:", 2);
    if (entry->location == SystemDirectory) {
        UINT length = GetSystemDirectoryA(path, sizeof path);
        if (length == 0)
            return;
        if (length >= sizeof path)
            path[0] = '\0';
    }
    size_t directory_length = strlen(path);
    size_t name_length = strlen(entry->file_name);
    if (directory_length == 0 || directory_length + 1 + name_length + 1 > sizeof path) {
        run_counters.error_count++;
        report_error(-1, "File path too long.");
        return;
    }
    path[directory_length] = '\\';
    memcpy(path + directory_length + 1, entry->file_name, name_length + 1);

    out_printf("Checking file\n[%s]\n", path);
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        out_printf("OK (not found)\n");
        return;
    }

    bool identified = true;
    if (entry->crc != 0 && entry->range_end != 0) {
        FileIdentity identity = identify_file(path, entry);
        out_printf("\n");
        if (identity == FileUnreadable)
            run_counters.error_count++;
        identified = identity == FileIsWorm;
    }
    if (!identified)
        return;

    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    if (DeleteFileA(path)) {
        run_counters.repair_count++;
        out_printf("OK.. deleted.\n");
        return;
    }
    out_printf("Delete file error (winerror=%d)\n", (int)GetLastError());
    run_counters.repair_count++;
    schedule_removal_at_restart(path, NULL);
    run_counters.restart_needed = true;
}
