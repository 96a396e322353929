/* The console: standard handles, and CONIN$ over the controlling terminal.
 *
 * Input modes map to the terminal's: ENABLE_ECHO_INPUT is ECHO,
 * ENABLE_LINE_INPUT is ICANON, ENABLE_PROCESSED_INPUT is ISIG. A key is a
 * byte, or a whole escape sequence (cursor and function keys), read one at
 * a time so that what is left stays in the terminal's queue.
 */
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim_internal.h"

int sim_console_handles_open;

static const DWORD error_handle_eof = 38; /* ERROR_HANDLE_EOF */

/* The values Windows gives its console pseudo-handles. */
static const HANDLE std_input = (HANDLE)(intptr_t)0x3;
static const HANDLE std_output = (HANDLE)(intptr_t)0x7;
static const HANDLE std_error = (HANDLE)(intptr_t)0xb;

struct SimConsoleInput {
    int fd;
    std::string pushed_back; /* bytes read while looking for a sequence's end */
};

/* Never destroyed, like the registry's handles. */
static std::vector<SimConsoleInput *> &console_inputs = *new std::vector<SimConsoleInput *>;
static SimConsoleInput std_input_state = {0, std::string()};

/* An escape sequence belongs together if its next byte comes this soon. */
static const int sequence_wait_ms = 20;

static SimConsoleInput *input_of(HANDLE handle) {
    if (handle == std_input)
        return &std_input_state;
    for (SimConsoleInput *input : console_inputs)
        if ((HANDLE)input == handle)
            return input;
    return NULL;
}

static int output_fd(HANDLE handle) {
    if (handle == std_output)
        return 1;
    if (handle == std_error)
        return 2;
    return -1;
}

static bool fault(const char *function) {
    DWORD error;
    if (!sim_fault_hit(function, &error))
        return false;
    SetLastError(error);
    return true;
}

static BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

HANDLE GetStdHandle(DWORD which) {
    if (fault("GetStdHandle"))
        return INVALID_HANDLE_VALUE;
    if (which == STD_INPUT_HANDLE)
        return std_input;
    if (which == STD_OUTPUT_HANDLE)
        return std_output;
    if (which == STD_ERROR_HANDLE)
        return std_error;
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD flags, HANDLE template_file) {
    (void)access;
    (void)share;
    (void)security;
    (void)disposition;
    (void)flags;
    (void)template_file;
    if (fault("CreateFileA"))
        return INVALID_HANDLE_VALUE;
    if (name == NULL) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (strcasecmp(name, "CONIN$") != 0) {
        /* The program opens nothing else this way; say so rather than
         * pretend. */
        dprintf(2, "sim: CreateFileA opens only CONIN$ here, not %s\n", name);
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    SimConsoleInput *input = new SimConsoleInput;
    input->fd = fd;
    console_inputs.push_back(input);
    sim_console_handles_open++;
    return (HANDLE)input;
}

BOOL CloseHandle(HANDLE handle) {
    if (fault("CloseHandle"))
        return FALSE;
    if (handle == std_input || handle == std_output || handle == std_error)
        return TRUE;
    for (size_t i = 0; i < console_inputs.size(); i++) {
        if ((HANDLE)console_inputs[i] == handle) {
            close(console_inputs[i]->fd);
            delete console_inputs[i];
            console_inputs.erase(console_inputs.begin() + (long)i);
            sim_console_handles_open--;
            return TRUE;
        }
    }
    return fail(ERROR_INVALID_HANDLE);
}

BOOL GetConsoleMode(HANDLE handle, LPDWORD mode) {
    if (fault("GetConsoleMode"))
        return FALSE;
    if (mode == NULL)
        return fail(ERROR_INVALID_PARAMETER);
    int fd = output_fd(handle);
    if (fd >= 0) {
        if (!isatty(fd))
            return fail(ERROR_INVALID_HANDLE);
        *mode = 0x1 | 0x2; /* ENABLE_PROCESSED_OUTPUT, ENABLE_WRAP_AT_EOL_OUTPUT */
        return TRUE;
    }
    SimConsoleInput *input = input_of(handle);
    struct termios settings;
    if (input == NULL || tcgetattr(input->fd, &settings) != 0)
        return fail(ERROR_INVALID_HANDLE);
    *mode = 0;
    if (settings.c_lflag & ECHO)
        *mode |= ENABLE_ECHO_INPUT;
    if (settings.c_lflag & ICANON)
        *mode |= ENABLE_LINE_INPUT;
    if (settings.c_lflag & ISIG)
        *mode |= ENABLE_PROCESSED_INPUT;
    return TRUE;
}

BOOL SetConsoleMode(HANDLE handle, DWORD mode) {
    if (fault("SetConsoleMode"))
        return FALSE;
    int fd = output_fd(handle);
    if (fd >= 0)
        return isatty(fd) ? TRUE : fail(ERROR_INVALID_HANDLE);
    SimConsoleInput *input = input_of(handle);
    struct termios settings;
    if (input == NULL || tcgetattr(input->fd, &settings) != 0)
        return fail(ERROR_INVALID_HANDLE);
    settings.c_lflag &= ~(tcflag_t)(ECHO | ICANON | ISIG);
    if (mode & ENABLE_ECHO_INPUT)
        settings.c_lflag |= ECHO;
    if (mode & ENABLE_LINE_INPUT)
        settings.c_lflag |= ICANON;
    if (mode & ENABLE_PROCESSED_INPUT)
        settings.c_lflag |= ISIG;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    /* TCSANOW: keys typed already stay in the queue. */
    if (tcsetattr(input->fd, TCSANOW, &settings) != 0)
        return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL GetNumberOfConsoleInputEvents(HANDLE handle, LPDWORD count) {
    if (fault("GetNumberOfConsoleInputEvents"))
        return FALSE;
    if (count == NULL)
        return fail(ERROR_INVALID_PARAMETER);
    SimConsoleInput *input = input_of(handle);
    int waiting = 0;
    if (input == NULL || !isatty(input->fd) || ioctl(input->fd, FIONREAD, &waiting) != 0)
        return fail(ERROR_INVALID_HANDLE);
    *count = (DWORD)waiting + (DWORD)input->pushed_back.size();
    return TRUE;
}

BOOL FlushConsoleInputBuffer(HANDLE handle) {
    if (fault("FlushConsoleInputBuffer"))
        return FALSE;
    SimConsoleInput *input = input_of(handle);
    if (input == NULL || !isatty(input->fd))
        return fail(ERROR_INVALID_HANDLE);
    input->pushed_back.clear();
    tcflush(input->fd, TCIFLUSH);
    return TRUE;
}

BOOL WriteConsoleA(HANDLE handle, const void *buffer, DWORD length, LPDWORD written,
                   void *reserved) {
    (void)reserved;
    if (fault("WriteConsoleA"))
        return FALSE;
    int fd = output_fd(handle);
    if (fd < 0 || !isatty(fd))
        return fail(ERROR_INVALID_HANDLE);
    const char *data = (const char *)buffer;
    DWORD done = 0;
    while (done < length) {
        ssize_t n = write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(ERROR_WRITE_FAULT);
        done += (DWORD)n;
    }
    if (written)
        *written = done;
    return TRUE;
}

/* One byte: 1, end of input: 0, error: -1. With `wait_ms` >= 0 gives up
 * (returning 0) when nothing comes in that time. */
static int next_byte(SimConsoleInput *input, int wait_ms, char *c) {
    if (!input->pushed_back.empty()) {
        *c = input->pushed_back[0];
        input->pushed_back.erase(0, 1);
        return 1;
    }
    if (wait_ms >= 0) {
        struct pollfd poller = {input->fd, POLLIN, 0};
        int ready;
        do
            ready = poll(&poller, 1, wait_ms);
        while (ready < 0 && errno == EINTR);
        if (ready <= 0)
            return 0;
    }
    for (;;) {
        ssize_t n = read(input->fd, c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? -1 : (int)n;
    }
}

struct SequenceKey {
    const char *sequence; /* after ESC */
    WORD virtual_key;
};

/* The sequences of xterm and the Linux console. */
static const SequenceKey sequence_keys[] = {
    {"[A", 0x26},   {"[B", 0x28},   {"[C", 0x27},   {"[D", 0x25},   {"[H", 0x24},   {"[F", 0x23},
    {"OA", 0x26},   {"OB", 0x28},   {"OC", 0x27},   {"OD", 0x25},   {"OH", 0x24},   {"OF", 0x23},
    {"OP", 0x70},   {"OQ", 0x71},   {"OR", 0x72},   {"OS", 0x73},   {"[1~", 0x24},  {"[2~", 0x2D},
    {"[3~", 0x2E},  {"[4~", 0x23},  {"[5~", 0x21},  {"[6~", 0x22},  {"[7~", 0x24},  {"[8~", 0x23},
    {"[11~", 0x70}, {"[12~", 0x71}, {"[13~", 0x72}, {"[14~", 0x73}, {"[15~", 0x74}, {"[17~", 0x75},
    {"[18~", 0x76}, {"[19~", 0x77}, {"[20~", 0x78}, {"[21~", 0x79}, {"[23~", 0x7A}, {"[24~", 0x7B},
    {"[[A", 0x70},  {"[[B", 0x71},  {"[[C", 0x72},  {"[[D", 0x73},  {"[[E", 0x74},
};

static WORD sequence_virtual_key(const std::string &sequence) {
    /* Modifiers ("[1;5A") do not change which key it is. */
    std::string key = sequence;
    size_t semicolon = key.find(';');
    if (semicolon != std::string::npos) {
        std::string head = key.substr(0, semicolon);
        key = (head == "[1" ? std::string("[") : head) + key.substr(key.size() - 1);
    }
    for (const SequenceKey &entry : sequence_keys)
        if (key == entry.sequence)
            return entry.virtual_key;
    return 0;
}

static WORD byte_virtual_key(unsigned char c, DWORD *control_state) {
    if (c == '\r' || c == '\n')
        return 0x0D;
    if (c == 0x08 || c == 0x7F)
        return 0x08;
    if (c == '\t')
        return 0x09;
    if (c == 0x1B)
        return 0x1B;
    if (c == ' ')
        return 0x20;
    if (c >= '0' && c <= '9')
        return c;
    if (c >= 'a' && c <= 'z')
        return (WORD)(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') {
        *control_state |= 0x10; /* SHIFT_PRESSED */
        return c;
    }
    if (c >= 1 && c <= 26) {
        *control_state |= 0x8; /* LEFT_CTRL_PRESSED */
        return (WORD)('A' + c - 1);
    }
    return 0;
}

/* Reads the rest of an escape sequence after ESC; returns it ("[A") or ""
 * for a lone ESC, putting back anything that turned out not to belong. */
static std::string read_sequence(SimConsoleInput *input) {
    char c;
    if (next_byte(input, sequence_wait_ms, &c) != 1)
        return "";
    if (c != '[' && c != 'O') {
        input->pushed_back.insert(0, 1, c);
        return "";
    }
    std::string sequence(1, c);
    if (c == 'O') {
        if (next_byte(input, sequence_wait_ms, &c) != 1) {
            input->pushed_back.insert(0, sequence);
            return "";
        }
        return sequence + c;
    }
    for (;;) {
        if (next_byte(input, sequence_wait_ms, &c) != 1) {
            input->pushed_back.insert(0, sequence);
            return "";
        }
        sequence += c;
        /* The Linux console's F1..F5 are ESC [ [ A..E. */
        if (sequence == "[[")
            continue;
        if (c >= 0x40 && c <= 0x7E)
            return sequence;
        if (sequence.size() > 16)
            return sequence; /* not a sequence we know: one unknown key */
    }
}

BOOL ReadConsoleInputA(HANDLE handle, INPUT_RECORD *records, DWORD length, LPDWORD read) {
    if (fault("ReadConsoleInputA"))
        return FALSE;
    if (records == NULL || read == NULL || length == 0)
        return fail(ERROR_INVALID_PARAMETER);
    *read = 0;
    SimConsoleInput *input = input_of(handle);
    /* CONIN$ stays a console after a hang-up: reading it then fails. */
    if (input == NULL || (handle == std_input && !isatty(input->fd)))
        return fail(ERROR_INVALID_HANDLE);
    char c;
    int got = next_byte(input, -1, &c);
    if (got == 0)
        return fail(error_handle_eof);
    if (got < 0)
        return fail(ERROR_READ_FAULT);

    memset(records, 0, sizeof *records);
    records->EventType = KEY_EVENT;
    KEY_EVENT_RECORD *key = &records->Event.KeyEvent;
    key->bKeyDown = TRUE;
    key->wRepeatCount = 1;
    std::string sequence = c == 0x1B ? read_sequence(input) : "";
    if (!sequence.empty()) {
        key->wVirtualKeyCode = sequence_virtual_key(sequence);
        key->uChar.AsciiChar = 0;
    } else {
        DWORD control = 0;
        key->wVirtualKeyCode = byte_virtual_key((unsigned char)c, &control);
        key->dwControlKeyState = control;
        if ((unsigned char)c < 0x80)
            key->uChar.UnicodeChar = (WCHAR)(unsigned char)c;
        key->uChar.AsciiChar = c;
    }
    *read = 1;
    return TRUE;
}
