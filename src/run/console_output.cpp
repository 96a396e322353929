#include "run/console_output.h"

#include "platform.h"

static FILE *out_stream;
static FILE *err_stream;
static bool out_is_console;
static char out_buffer[4096];

static bool handle_is_console(DWORD which) {
    DWORD mode;
    HANDLE handle = GetStdHandle(which);
    return handle != NULL && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void console_output_init(void) {
    setvbuf(stderr, NULL, _IONBF, 0);
    setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    console_output_redirect(stdout, stderr, handle_is_console(STD_OUTPUT_HANDLE));
}

void console_output_redirect(FILE *out, FILE *err, bool console) {
    out_stream = out;
    err_stream = err;
    out_is_console = console;
}

static void out_write(const char *text, size_t length) {
    const char *last_line_end = NULL;
    for (size_t i = 0; i < length; i++)
        if (text[i] == '\n')
            last_line_end = text + i;
    if (!out_is_console || last_line_end == NULL) {
        fwrite(text, 1, length, out_stream);
        return;
    }
    size_t head = (size_t)(last_line_end - text) + 1;
    fwrite(text, 1, head, out_stream);
    fflush(out_stream);
    fwrite(text + head, 1, length - head, out_stream);
}

void out_printf(const char *format, ...) {
    /* Every log text fits; a longer one is written as it comes and, on a
     * console, flushed whole. */
    char text[1024];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length >= 0 && (size_t)length < sizeof text) {
        out_write(text, (size_t)length);
        return;
    }
    va_start(args, format);
    vfprintf(out_stream, format, args);
    va_end(args);
    if (out_is_console)
        fflush(out_stream);
}

void err_printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(err_stream, format, args);
    va_end(args);
}

void out_flush(void) {
    fflush(out_stream);
}

void err_flush(void) {
    fflush(err_stream);
}
