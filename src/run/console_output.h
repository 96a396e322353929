/* The program's two output streams.
 *
 * Log lines go to standard output, which is line-buffered on a console and
 * fully buffered (4096 bytes) otherwise; the banner, error texts and
 * "Exiting..." go to standard error, which is unbuffered. The C runtime of
 * Windows flushes console output after every call, so the line buffering is
 * done here, the same way on every build.
 */
#ifndef TARSK4_RUN_CONSOLE_OUTPUT_H
#define TARSK4_RUN_CONSOLE_OUTPUT_H

#include <stdio.h>

/* Sets up the buffering of stdout and stderr; call once, before any output. */
void console_output_init(void);

/* Sends the output to other streams (tests). `out_is_console` selects line
 * buffering for `out`. */
void console_output_redirect(FILE *out, FILE *err, bool out_is_console);

/* printf to the log stream; on a console, everything up to the last line
 * end written is flushed at once. */
void out_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* printf to the error stream. */
void err_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

void out_flush(void);
void err_flush(void);

#endif
