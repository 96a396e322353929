/* The C runtime's path functions on drive C:, with its text mode.
 *
 * The streams are real FILE objects (glibc's fopencookie) whose reads and
 * writes go through the conversions the Windows runtime makes in text mode:
 * "\n" is written as "\r\n"; on reading, "\r\n" becomes "\n", a lone CR
 * stays, and a Ctrl-Z byte ends the input.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim_internal.h"

struct SimStream {
    int fd;
    bool text;
    bool counted;     /* opened by the program through sim_fopen */
    bool close_fd;    /* stdout and stderr keep their descriptors */
    bool ended;       /* a Ctrl-Z was read */
    size_t raw_start; /* unread raw bytes: raw[raw_start, raw_end) */
    size_t raw_end;
    char raw[4096];
};

/* The program's open files; never destroyed, so that a file it leaves open
 * is still reachable at the very end (the leak is reported, not lost). */
static std::vector<SimStream *> &open_streams = *new std::vector<SimStream *>;

int sim_open_file_count(void) {
    return (int)open_streams.size() + sim_console_handles_open;
}

static bool stream_fault(const SimStream *stream, const char *function) {
    DWORD error;
    if (!stream->counted || !sim_fault_hit(function, &error))
        return false;
    errno = sim_errno_from_win32(error);
    return true;
}

/* Refills the raw buffer; returns false at the end of the file or on an
 * error (then errno is set and `*failed` is true). */
static bool refill(SimStream *stream, bool *failed) {
    stream->raw_start = 0;
    stream->raw_end = 0;
    for (;;) {
        /* One byte stays free for a CR carried over from the last buffer. */
        ssize_t n = read(stream->fd, stream->raw, sizeof stream->raw - 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *failed = true;
            return false;
        }
        stream->raw_end = (size_t)n;
        return n > 0;
    }
}

static ssize_t stream_read(void *cookie, char *buffer, size_t size) {
    SimStream *stream = (SimStream *)cookie;
    if (stream_fault(stream, "fread"))
        return -1;
    if (!stream->text) {
        for (;;) {
            ssize_t n = read(stream->fd, buffer, size);
            if (n < 0 && errno == EINTR)
                continue;
            return n;
        }
    }
    size_t out = 0;
    bool failed = false;
    while (out < size && !stream->ended) {
        if (stream->raw_start == stream->raw_end) {
            if (out > 0)
                break; /* hand over what there is before blocking again */
            if (!refill(stream, &failed))
                break;
        }
        char c = stream->raw[stream->raw_start++];
        if (c == 0x1A) {
            stream->ended = true;
            break;
        }
        if (c == '\r') {
            if (stream->raw_start == stream->raw_end) {
                /* Look at the next byte before deciding: keep the CR in
                 * front of the refilled buffer. */
                bool more = refill(stream, &failed);
                if (failed)
                    return out > 0 ? (ssize_t)out : -1;
                if (more) {
                    memmove(stream->raw + 1, stream->raw, stream->raw_end);
                    stream->raw[0] = '\r';
                    stream->raw_end++;
                    stream->raw_start = 1;
                }
            }
            if (stream->raw_start < stream->raw_end && stream->raw[stream->raw_start] == '\n') {
                stream->raw_start++;
                c = '\n';
            }
        }
        buffer[out++] = c;
    }
    if (failed && out == 0)
        return -1;
    return (ssize_t)out;
}

static ssize_t stream_write(void *cookie, const char *buffer, size_t size) {
    SimStream *stream = (SimStream *)cookie;
    if (stream_fault(stream, "fwrite"))
        return -1;
    if (!stream->text)
        return sim_write_all(stream->fd, buffer, size) ? (ssize_t)size : -1;
    char converted[8192];
    size_t used = 0;
    for (size_t i = 0; i < size; i++) {
        if (used + 2 > sizeof converted) {
            if (!sim_write_all(stream->fd, converted, used))
                return -1;
            used = 0;
        }
        if (buffer[i] == '\n')
            converted[used++] = '\r';
        converted[used++] = buffer[i];
    }
    if (used > 0 && !sim_write_all(stream->fd, converted, used))
        return -1;
    return (ssize_t)size;
}

/* Positions are those of the file's bytes; in text mode only the places
 * the program can come back to (start, end, a position it was told) are
 * meaningful, as with the Windows runtime. */
static int stream_seek(void *cookie, off64_t *offset, int whence) {
    SimStream *stream = (SimStream *)cookie;
    off64_t pending = (off64_t)(stream->raw_end - stream->raw_start);
    off64_t target = *offset;
    if (whence == SEEK_CUR) {
        off_t here = lseek(stream->fd, 0, SEEK_CUR);
        if (here < 0)
            return -1;
        target += here - pending;
        whence = SEEK_SET;
    }
    off_t result = lseek(stream->fd, target, whence);
    if (result < 0)
        return -1;
    stream->raw_start = stream->raw_end = 0;
    stream->ended = false;
    *offset = result;
    return 0;
}

static int stream_close(void *cookie) {
    SimStream *stream = (SimStream *)cookie;
    bool failed = stream_fault(stream, "fclose");
    int saved = errno;
    if (stream->close_fd && close(stream->fd) != 0 && !failed) {
        failed = true;
        saved = errno;
    }
    if (stream->counted) {
        open_streams.erase(std::find(open_streams.begin(), open_streams.end(), stream));
        delete stream;
    }
    errno = saved;
    return failed ? -1 : 0;
}

static const cookie_io_functions_t stream_functions = {stream_read, stream_write, stream_seek,
                                                       stream_close};

/* The console streams live as long as the process, and are never closed:
 * they are kept here rather than on the heap. */
static SimStream console_streams[3];

static FILE *open_stream(int fd, bool text, bool counted, bool close_fd, const char *mode) {
    SimStream *stream = counted ? new SimStream : &console_streams[fd];
    stream->fd = fd;
    stream->text = text;
    stream->counted = counted;
    stream->close_fd = close_fd;
    stream->ended = false;
    stream->raw_start = stream->raw_end = 0;
    FILE *file = fopencookie(stream, mode, stream_functions);
    if (file == NULL) {
        if (counted)
            delete stream;
        return NULL;
    }
    if (counted) {
        open_streams.push_back(stream);
    }
    return file;
}

FILE *sim_text_stream_over_fd(int fd) {
    if (fd < 0 || fd > 2)
        return NULL;
    return open_stream(fd, true, false, false, "w");
}

FILE *sim_fopen(const char *name, const char *mode) {
    int saved_errno = errno;
    DWORD fault;
    if (sim_fault_hit("fopen", &fault)) {
        errno = sim_errno_from_win32(fault);
        return NULL;
    }
    if (name == NULL || mode == NULL) {
        errno = EINVAL;
        return NULL;
    }
    char access = mode[0];
    bool plus = false, text = true;
    for (const char *m = mode + 1; *m; m++) {
        if (*m == '+')
            plus = true;
        else if (*m == 'b')
            text = false;
        else if (*m == 't')
            text = true;
        else {
            errno = EINVAL;
            return NULL;
        }
    }
    if (access != 'r' && access != 'w' && access != 'a') {
        errno = EINVAL;
        return NULL;
    }
    bool writes = access != 'r' || plus;
    SimPath path = sim_resolve(name);
    if (path.status == SIM_PATH_BAD || path.status == SIM_PATH_PARENT_MISSING ||
        (path.status == SIM_PATH_MISSING && access == 'r')) {
        errno = ENOENT;
        return NULL;
    }
    if (path.status == SIM_PATH_FOUND) {
        if (path.is_dir || (writes && ((sim_attributes_of(path) & FILE_ATTRIBUTE_READONLY) ||
                                       sim_is_in_use(path)))) {
            errno = EACCES;
            return NULL;
        }
    }
    int flags = writes ? (plus ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (access == 'w')
        flags |= O_CREAT | O_TRUNC;
    if (access == 'a')
        flags |= O_CREAT | O_APPEND;
    int fd = open(path.host.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0)
        return NULL;
    if (path.status == SIM_PATH_MISSING) {
        /* A new file starts plain: forget what an older one of that name had. */
        sim_attributes_forget(path.key);
        if (sim.loaded)
            sim_save_attributes();
    }
    char host_mode[4] = {access, plus ? '+' : '\0', '\0', '\0'};
    FILE *file = open_stream(fd, text, true, true, host_mode);
    if (file == NULL) {
        close(fd);
        errno = ENOMEM;
        return NULL;
    }
    errno = saved_errno;
    return file;
}

int sim_remove(const char *name) {
    int saved_errno = errno; /* the runtime leaves it alone on success */
    DWORD fault;
    if (sim_fault_hit("remove", &fault)) {
        errno = sim_errno_from_win32(fault);
        return -1;
    }
    SimPath path = sim_resolve(name);
    if (path.status != SIM_PATH_FOUND) {
        errno = ENOENT;
        return -1;
    }
    if (path.is_dir || (sim_attributes_of(path) & FILE_ATTRIBUTE_READONLY) || sim_is_in_use(path)) {
        errno = EACCES;
        return -1;
    }
    if (unlink(path.host.c_str()) != 0) {
        errno = EACCES;
        return -1;
    }
    sim_attributes_forget(path.key);
    if (sim.loaded)
        sim_save_attributes();
    errno = saved_errno;
    return 0;
}

int sim_rename(const char *old_name, const char *new_name) {
    int saved_errno = errno;
    DWORD fault;
    if (sim_fault_hit("rename", &fault)) {
        errno = sim_errno_from_win32(fault);
        return -1;
    }
    SimPath source = sim_resolve(old_name);
    if (source.status != SIM_PATH_FOUND) {
        errno = ENOENT;
        return -1;
    }
    SimPath target = sim_resolve(new_name);
    if (target.status == SIM_PATH_BAD || target.status == SIM_PATH_PARENT_MISSING) {
        errno = ENOENT;
        return -1;
    }
    /* The Windows runtime never replaces: MoveFile refuses an existing
     * target with ERROR_ALREADY_EXISTS. */
    if (target.status == SIM_PATH_FOUND && target.key != source.key) {
        errno = EEXIST;
        return -1;
    }
    if (sim_is_in_use(source)) {
        errno = EACCES;
        return -1;
    }
    std::string host_target = target.host;
    if (target.status == SIM_PATH_FOUND)
        host_target = target.host.substr(0, target.host.rfind('/') + 1) +
                      target.given.substr(target.given.rfind('\\') + 1);
    if (::rename(source.host.c_str(), host_target.c_str()) != 0) {
        errno = EACCES;
        return -1;
    }
    SimPath moved = sim_resolve(new_name);
    sim_attributes_move(source.key, moved.win);
    if (sim.loaded)
        sim_save_attributes();
    errno = saved_errno;
    return 0;
}

/* ---- The runtime's string helpers ------------------------------------- */

int _stricmp(const char *a, const char *b) {
    return strcasecmp(a, b);
}

int _strnicmp(const char *a, const char *b, size_t count) {
    return strncasecmp(a, b, count);
}

int _vsnprintf(char *buffer, size_t count, const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(NULL, 0, format, copy);
    va_end(copy);
    if (length < 0)
        return -1;
    if ((size_t)length < count) {
        vsnprintf(buffer, count, format, args);
        return length;
    }
    /* Too long, or exactly as long as the buffer: the Windows runtime fills
     * it and leaves the terminator out. */
    if (count > 0) {
        char *whole = (char *)malloc((size_t)length + 1);
        if (whole == NULL)
            return -1;
        vsnprintf(whole, (size_t)length + 1, format, args);
        memcpy(buffer, whole, count);
        free(whole);
    }
    return (size_t)length == count ? length : -1;
}

int _snprintf(char *buffer, size_t count, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(buffer, count, format, args);
    va_end(args);
    return length;
}
