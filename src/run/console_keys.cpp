#include "run/console_keys.h"

#include "platform.h"

static const DWORD cooked_input_modes =
    ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT;

static int key_character(const INPUT_RECORD *record) {
    if (record->EventType != KEY_EVENT || !record->Event.KeyEvent.bKeyDown)
        return 0;
    return (unsigned char)record->Event.KeyEvent.uChar.AsciiChar;
}

static bool discard_waiting_events(HANDLE input) {
    DWORD waiting = 0;
    while (GetNumberOfConsoleInputEvents(input, &waiting) && waiting > 0) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0)
            return false;
    }
    return true;
}

static int wait_for_key_character(HANDLE input) {
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0)
            return -1;
        int c = key_character(&record);
        if (c != 0)
            return c;
    }
}

int console_read_key(void *) {
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (input == INVALID_HANDLE_VALUE)
        return -1;
    DWORD old_mode;
    int key = -1;
    if (GetConsoleMode(input, &old_mode) && SetConsoleMode(input, old_mode & ~cooked_input_modes)) {
        if (discard_waiting_events(input))
            key = wait_for_key_character(input);
        SetConsoleMode(input, old_mode);
    }
    CloseHandle(input);
    return key;
}
