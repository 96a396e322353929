/* Run-wide counters and the small reporting routines every check uses. */
#ifndef TARSK4_RUN_REPORTING_H
#define TARSK4_RUN_REPORTING_H

#include "platform.h"

struct RunCounters {
    int error_count;        /* failures met by the checks */
    int repair_count;       /* values removed, files deleted or scheduled */
    int step_counter;       /* last step number printed */
    bool restart_needed;    /* a file was handed to the removal at restart */
    bool worm_pass_enabled; /* cleared when the user keeps a worm-named association */
};

extern RunCounters run_counters;

/* Puts the counters back to their start values. */
void run_counters_reset(void);

/* Writes "Error: " and the formatted message (at most 1023 bytes) to the
 * error stream, without a line end; returns `code`. */
int report_error(int code, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* Writes the next step number as "N) ". */
void print_step_number(void);

/* "HKCR", "HKCU", "HKLM", "HKEY_USERS", or "?" for any other handle. */
const char *hive_short_name(HKEY hive);

/* `text`, or "{default}" for a null pointer. */
const char *name_or_default(const char *text);

/* The program's display name, "TARSK4", whatever name it was started by. */
const char *display_name(void);

#endif
