/* The console input handle over a pseudo-terminal: modes, key events,
 * escape sequences, the end of input, and no terminal at all. */
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "sim_test.h"

static void say(int fd, const char *format, unsigned long a, unsigned long b = 0) {
    char line[80];
    int length = snprintf(line, sizeof line, format, a, b);
    if (write(fd, line, (size_t)length) != length)
        _exit(9);
}

/* In the child: the pseudo-terminal becomes the controlling terminal, and
 * every event read is reported on `report` until reading fails. */
static void read_keys(int slave, int report, int go) {
    setsid();
    /* Closing the other end hangs the terminal up: that must end the input,
     * not the process. */
    signal(SIGHUP, SIG_IGN);
    if (ioctl(slave, TIOCSCTTY, 0) != 0)
        _exit(8);
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (input == INVALID_HANDLE_VALUE)
        _exit(7);
    DWORD mode = 0xFF;
    say(report, "mode %lu\n", GetConsoleMode(input, &mode) ? mode : 99ul);
    SetConsoleMode(input, ENABLE_PROCESSED_INPUT);
    say(report, "mode %lu\n", GetConsoleMode(input, &mode) ? mode : 99ul);
    say(report, "files %lu\n", (unsigned long)sim_open_file_count());
    char byte;
    if (read(go, &byte, 1) != 1) /* the keys are typed */
        _exit(6);
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputA(input, &record, 1, &count)) {
            say(report, "end %lu %lu\n", GetLastError(), count);
            break;
        }
        const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
        if (record.EventType != KEY_EVENT || !key.bKeyDown || key.wRepeatCount != 1 || count != 1)
            say(report, "odd event %lu\n", record.EventType);
        say(report, "key %lu %lu\n", (unsigned long)(unsigned char)key.uChar.AsciiChar,
            key.wVirtualKeyCode);
    }
    CloseHandle(input);
    say(report, "files %lu\n", (unsigned long)sim_open_file_count());
}

static std::string read_all(int fd) {
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, (size_t)n);
    return text;
}

TEST(Console, KeysFromTheControllingTerminal) {
    int master, slave;
    ASSERT_EQ(0, openpty(&master, &slave, NULL, NULL, NULL));
    int report[2], go[2];
    ASSERT_EQ(0, pipe(report));
    ASSERT_EQ(0, pipe(go));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(master);
        close(report[0]);
        close(go[1]);
        read_keys(slave, report[1], go[0]);
        _exit(0);
    }
    close(slave);
    close(report[1]);
    close(go[0]);
    /* Letters, Enter, cursor up, F1 both ways, F5, Delete, a lone ESC and
     * an ESC that does not start a sequence. */
    const char typed[] = "aZ\r\x1b[A\x1bOP\x1b[[A\x1b[15~\x1b[3~\x1bx";
    std::string text;
    char buffer[512];
    /* Type once the terminal is in the program's mode. */
    while (text.find("files 1\n") == std::string::npos) {
        ssize_t n = read(report[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0) << text;
        text.append(buffer, (size_t)n);
    }
    ASSERT_EQ((ssize_t)strlen(typed), write(master, typed, strlen(typed)));
    ASSERT_EQ(1, write(go[1], "g", 1));
    /* Then end the input once every key has come through. */
    while (text.find("key 120 ") == std::string::npos) {
        ssize_t n = read(report[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0) << text;
        text.append(buffer, (size_t)n);
    }
    close(master);
    text += read_all(report[0]);
    int status;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(0, WEXITSTATUS(status)) << text;
    std::string end = text.substr(text.find("end "));
    EXPECT_EQ("mode 7\nmode 1\nfiles 1\n"
              "key 97 65\n"
              "key 90 90\n"
              "key 10 13\n" /* the terminal turns CR into LF */
              "key 0 38\n"
              "key 0 112\n"
              "key 0 112\n"
              "key 0 116\n"
              "key 0 46\n"
              "key 27 27\n"
              "key 120 88\n" +
                  end,
              text);
    /* The end of the input is a failure with an error, never an empty key. */
    EXPECT_TRUE(end == "end 30 0\nfiles 0\n" || end == "end 38 0\nfiles 0\n") << end;
    close(report[0]);
    close(go[1]);
}

static void open_without_terminal(int report) {
    setsid();
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    say(report, "%lu %lu\n", input == INVALID_HANDLE_VALUE, GetLastError());
}

TEST(Console, NoTerminalNoConsoleInput) {
    int report[2];
    ASSERT_EQ(0, pipe(report));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(report[0]);
        open_without_terminal(report[1]);
        _exit(0);
    }
    close(report[1]);
    std::string text = read_all(report[0]);
    close(report[0]);
    waitpid(pid, NULL, 0);
    EXPECT_EQ("1 2\n", text);
}

TEST(Console, StandardHandles) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE),
           err = GetStdHandle(STD_ERROR_HANDLE);
    EXPECT_NE(in, out);
    EXPECT_NE(out, err);
    EXPECT_NE(in, err);
    for (HANDLE handle : {in, out, err})
        EXPECT_NE(INVALID_HANDLE_VALUE, handle);
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, GetStdHandle((DWORD)-13));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());

    /* Output is a console exactly when the descriptor is a terminal. */
    int saved = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    ASSERT_GE(null_fd, 0);
    fflush(stdout);
    dup2(null_fd, 1);
    DWORD mode = 0;
    SetLastError(0);
    BOOL console = GetConsoleMode(out, &mode);
    DWORD error = GetLastError();
    dup2(saved, 1);
    close(saved);
    close(null_fd);
    EXPECT_FALSE(console);
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, error);

    int master, slave;
    ASSERT_EQ(0, openpty(&master, &slave, NULL, NULL, NULL));
    saved = dup(2);
    dup2(slave, 2);
    console = GetConsoleMode(err, &mode);
    dup2(saved, 2);
    close(saved);
    close(slave);
    close(master);
    EXPECT_TRUE(console);
    EXPECT_EQ(3u, mode);
    EXPECT_FALSE(CloseHandle((HANDLE)(intptr_t)0x1234));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}
