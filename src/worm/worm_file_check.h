/* A file the worm leaves: find it, identify it by the CRC-32 of a byte
 * range, delete it, or have it removed at the next restart. */
#ifndef TARSK4_WORM_WORM_FILE_CHECK_H
#define TARSK4_WORM_WORM_FILE_CHECK_H

#include <stdint.h>

enum FileLocation : uint8_t {
    SystemDirectory = 0, /* the Windows system directory */
    DriveCRoot = 1,      /* the root of drive C: (any value but 0) */
};

/* An entry whose crc or range_end is 0 has no signature: the file is known
 * by its name alone. A range spans at most sizeof scan_buffer bytes. */
struct FileSignatureEntry {
    uint8_t location;
    const char *file_name;
    uint32_t range_start;
    uint32_t range_end;
    uint32_t crc;
};

extern unsigned char scan_buffer[65536];

/* One numbered check; see the counters in run/reporting.h. */
void check_worm_file(const FileSignatureEntry *entry);

#endif
