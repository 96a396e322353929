/* The C runtime's path functions on drive C:: text and binary mode, the
 * errno values of the Windows runtime, open-file counting. */
#include <errno.h>
#include <string.h>

#include <string>

#include "sim_test.h"

class Stdio : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        make_dir("DATA");
        put("DATA/plain.txt", "plain");
        put("DATA/ReadOnly.txt", "ro");
        put("DATA/Running.exe", "running");
        write_host(machine_file("attributes"), "00000021 C:\\DATA\\ReadOnly.txt\n");
        write_host(machine_file("machine.ini"),
                   "[machine]\nfamily=xp\n[in_use]\nC:\\DATA\\Running.exe\n");
        reload();
    }
    /* Everything a stream opened in `mode` reads, through fread. */
    std::string read_all(const char *path, const char *mode) {
        FILE *file = sim_fopen(path, mode);
        EXPECT_NE(nullptr, file) << path;
        if (file == NULL)
            return "";
        std::string bytes;
        char buffer[1000];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
            bytes.append(buffer, n);
        EXPECT_FALSE(ferror(file));
        EXPECT_EQ(0, fclose(file));
        return bytes;
    }
    void write_all(const char *path, const char *mode, const std::string &bytes) {
        FILE *file = sim_fopen(path, mode);
        ASSERT_NE(nullptr, file) << path;
        EXPECT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), file));
        EXPECT_EQ(0, fclose(file));
    }
};

struct ModeCase {
    const char *mode;
    std::string written; /* what the program writes */
    std::string on_disk; /* what the file holds */
};

TEST_F(Stdio, WritingInTextAndBinaryMode) {
    const ModeCase cases[] = {
        {"w", "a\nb\n", "a\r\nb\r\n"},
        {"wt", "a\nb\n", "a\r\nb\r\n"},
        {"wt", "cr\r\n", "cr\r\r\n"},
        {"wb", "a\nb\n", "a\nb\n"},
        {"w", "", ""},
    };
    for (const ModeCase &c : cases) {
        SCOPED_TRACE(c.mode);
        write_all("C:\\DATA\\out.txt", c.mode, c.written);
        EXPECT_EQ(c.on_disk, get("DATA/out.txt"));
    }
}

TEST_F(Stdio, ReadingInTextAndBinaryMode) {
    const ModeCase cases[] = {
        {"r", "a\nb\n", "a\r\nb\r\n"},
        {"rt", "a\nb", "a\r\nb"},
        {"r", "lone\rcr\n", "lone\rcr\r\n"},
        {"r", "cr at end\r", "cr at end\r"},
        {"r", "ends\n", "ends\r\n\x1a after ctrl-z\r\n"},
        {"r", "", "\x1a"},
        {"r", "cr before\r", "cr before\r\x1a\n"},
        {"rb", "a\r\nb\x1a tail", "a\r\nb\x1a tail"},
    };
    for (const ModeCase &c : cases) {
        SCOPED_TRACE(c.on_disk);
        put("DATA/in.txt", c.on_disk);
        EXPECT_EQ(c.written, read_all("C:\\DATA\\in.txt", c.mode));
    }
}

TEST_F(Stdio, TextModeAcrossBufferBoundaries) {
    /* Long enough that CR and LF pairs fall on every buffer edge. */
    std::string on_disk, expected;
    for (int i = 0; i < 3000; i++) {
        std::string line = "line " + std::to_string(i) + (i % 7 == 0 ? "\r" : "");
        on_disk += line + "\r\n";
        expected += line + "\n";
    }
    put("DATA/long.txt", on_disk);
    EXPECT_EQ(expected, read_all("C:\\DATA\\long.txt", "r"));
    for (size_t cut : {4094u, 4095u, 4096u}) {
        std::string edge(cut, 'x');
        put("DATA/edge.txt", edge + "\r\nz");
        EXPECT_EQ(edge + "\nz", read_all("C:\\DATA\\edge.txt", "r")) << cut;
    }
    write_all("C:\\DATA\\back.txt", "w", expected);
    EXPECT_EQ(on_disk, get("DATA/back.txt"));
}

TEST_F(Stdio, LinesThroughFgets) {
    put("DATA/lines.ini", "[rename]\r\nNUL=C:\\X\r\n\r\nlast");
    FILE *file = sim_fopen("c:\\data\\LINES.INI", "r");
    ASSERT_NE(nullptr, file);
    const char *const lines[] = {"[rename]\n", "NUL=C:\\X\n", "\n", "last"};
    char line[64];
    for (const char *expected : lines) {
        ASSERT_NE(nullptr, fgets(line, sizeof line, file));
        EXPECT_STREQ(expected, line);
    }
    EXPECT_EQ(nullptr, fgets(line, sizeof line, file));
    EXPECT_TRUE(feof(file));
    EXPECT_EQ(0, fclose(file));
}

TEST_F(Stdio, SeekingInABinaryStream) {
    put("DATA/bin.dat", "0123456789");
    FILE *file = sim_fopen("C:\\DATA\\bin.dat", "rb");
    ASSERT_NE(nullptr, file);
    char buffer[4] = "";
    EXPECT_EQ(0, fseek(file, 6, SEEK_SET));
    EXPECT_EQ(6, ftell(file));
    EXPECT_EQ(3u, fread(buffer, 1, 3, file));
    EXPECT_STREQ("678", buffer);
    EXPECT_EQ(0, fseek(file, -2, SEEK_END));
    EXPECT_EQ(8, ftell(file));
    EXPECT_EQ(0, fseek(file, 0, SEEK_SET));
    EXPECT_EQ(3u, fread(buffer, 1, 3, file));
    EXPECT_STREQ("012", buffer);
    EXPECT_EQ(0, fclose(file));
}

struct OpenCase {
    const char *path;
    const char *mode;
    int error; /* 0: opens */
};

TEST_F(Stdio, OpenResults) {
    const OpenCase cases[] = {
        {"C:\\DATA\\plain.txt", "r", 0},
        {"C:/data/PLAIN.TXT", "rb", 0},
        {"C:\\DATA\\missing.txt", "r", ENOENT},
        {"C:\\NOWHERE\\missing.txt", "w", ENOENT},
        {"D:\\DATA\\plain.txt", "r", ENOENT},
        {"C:\\DATA", "r", EACCES},
        {"C:\\DATA", "w", EACCES},
        {"C:\\DATA\\ReadOnly.txt", "r", 0},
        {"C:\\DATA\\ReadOnly.txt", "w", EACCES},
        {"C:\\DATA\\ReadOnly.txt", "a", EACCES},
        {"C:\\DATA\\Running.exe", "rb", 0},
        {"C:\\DATA\\running.EXE", "wb", EACCES},
        {"C:\\DATA\\plain.txt", "x", EINVAL},
        {"C:\\DATA\\plain.txt", "rq", EINVAL},
    };
    for (const OpenCase &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.mode);
        errno = 0;
        FILE *file = sim_fopen(c.path, c.mode);
        if (c.error == 0) {
            ASSERT_NE(nullptr, file);
            EXPECT_EQ(1, sim_open_file_count());
            EXPECT_EQ(0, fclose(file));
        } else {
            EXPECT_EQ(nullptr, file);
            EXPECT_EQ(c.error, errno);
        }
        EXPECT_EQ(0, sim_open_file_count());
    }
    EXPECT_EQ("running", get("DATA/Running.exe"));
    EXPECT_EQ("ro", get("DATA/ReadOnly.txt"));
}

TEST_F(Stdio, NewFilesTakeTheNameAsGiven) {
    write_all("c:\\data\\NewFile.Txt", "w", "new");
    EXPECT_EQ("new", get("DATA/NewFile.Txt"));
    /* Writing again finds it whatever the case. */
    write_all("C:\\DATA\\NEWFILE.TXT", "w", "again");
    EXPECT_EQ("again", get("DATA/NewFile.Txt"));
    EXPECT_FALSE(exists("DATA/NEWFILE.TXT"));
}

struct RemoveCase {
    const char *path;
    int result;
    int error;
};

TEST_F(Stdio, RemoveResults) {
    const RemoveCase cases[] = {
        {"C:\\DATA\\missing.txt", -1, ENOENT},
        {"C:\\NOWHERE\\missing.txt", -1, ENOENT},
        {"C:\\DATA\\ReadOnly.txt", -1, EACCES},
        {"C:\\DATA\\Running.exe", -1, EACCES},
        {"C:\\DATA", -1, EACCES},
        {"C:\\DATA\\PLAIN.TXT", 0, 0},
    };
    for (const RemoveCase &c : cases) {
        SCOPED_TRACE(c.path);
        errno = 0;
        EXPECT_EQ(c.result, sim_remove(c.path));
        EXPECT_EQ(c.error, errno);
    }
    EXPECT_FALSE(exists("DATA/plain.txt"));
    EXPECT_TRUE(exists("DATA/ReadOnly.txt"));
}

TEST_F(Stdio, RenameNeverReplaces) {
    const struct {
        const char *from;
        const char *to;
        int result;
        int error;
    } cases[] = {
        {"C:\\DATA\\plain.txt", "C:\\DATA\\ReadOnly.txt", -1, EEXIST},
        {"C:\\DATA\\missing.txt", "C:\\DATA\\new.txt", -1, ENOENT},
        {"C:\\DATA\\plain.txt", "C:\\NOWHERE\\new.txt", -1, ENOENT},
        {"C:\\DATA\\Running.exe", "C:\\DATA\\moved.exe", -1, EACCES},
        {"C:\\DATA\\ReadOnly.txt", "C:\\DATA\\Moved.txt", 0, 0},
        {"C:\\DATA\\plain.txt", "C:\\DATA\\PLAIN.TXT", 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        errno = 0;
        EXPECT_EQ(c.result, sim_rename(c.from, c.to));
        EXPECT_EQ(c.error, errno);
    }
    EXPECT_EQ("ro", get("DATA/Moved.txt"));
    EXPECT_EQ("plain", get("DATA/PLAIN.TXT"));
    /* Attributes go with the file. */
    EXPECT_EQ(0x21u, GetFileAttributesA("C:\\DATA\\Moved.txt"));
    EXPECT_EQ("00000021 C:\\DATA\\Moved.txt\n", read_host(machine_file("attributes")));
}

TEST_F(Stdio, InjectedFaults) {
    /* fopen: the nth call fails with the runtime's errno for the error. */
    sim_fault_add("fopen", 2, ERROR_SHARING_VIOLATION, false);
    FILE *first = sim_fopen("C:\\DATA\\plain.txt", "r");
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(0, fclose(first));
    errno = 0;
    EXPECT_EQ(nullptr, sim_fopen("C:\\DATA\\plain.txt", "r"));
    EXPECT_EQ(EACCES, errno);
    FILE *third = sim_fopen("C:\\DATA\\plain.txt", "r");
    ASSERT_NE(nullptr, third);

    /* fread: the stream's error flag is set. */
    sim_fault_add("fread", 1, ERROR_READ_FAULT, false);
    char buffer[16];
    EXPECT_EQ(0u, fread(buffer, 1, sizeof buffer, third));
    EXPECT_TRUE(ferror(third));
    EXPECT_EQ(0, fclose(third));

    /* fwrite: the data reaches the file when the buffer is flushed. */
    sim_fault_add("fwrite", 1, ERROR_DISK_FULL, true);
    FILE *out = sim_fopen("C:\\DATA\\full.txt", "w");
    ASSERT_NE(nullptr, out);
    fputs("will not fit\n", out);
    errno = 0;
    EXPECT_EQ(EOF, fflush(out));
    EXPECT_EQ(ENOSPC, errno);
    EXPECT_TRUE(ferror(out));
    sim_faults_clear();

    /* fclose: fails, yet the file is closed all the same. */
    sim_fault_add("fclose", 1, ERROR_WRITE_FAULT, false);
    EXPECT_EQ(EOF, fclose(out));
    EXPECT_EQ(0, sim_open_file_count());

    sim_fault_add("remove", 1, ERROR_ACCESS_DENIED, false);
    sim_fault_add("rename", 1, ERROR_ALREADY_EXISTS, false);
    errno = 0;
    EXPECT_EQ(-1, sim_remove("C:\\DATA\\plain.txt"));
    EXPECT_EQ(EACCES, errno);
    EXPECT_EQ(-1, sim_rename("C:\\DATA\\plain.txt", "C:\\DATA\\other.txt"));
    EXPECT_EQ(EEXIST, errno);
    EXPECT_EQ(0, sim_rename("C:\\DATA\\plain.txt", "C:\\DATA\\other.txt"));
}

TEST_F(Stdio, RuntimeStringHelpers) {
    char buffer[8];
    const struct {
        size_t count;
        const char *text;
        int result;
        const char *buffer; /* what the buffer holds, 8 bytes */
    } cases[] = {
        {8, "abc", 3, "abc\0####"},     {8, "abcdefg", 7, "abcdefg\0"},
        {8, "abcdefgh", 8, "abcdefgh"}, {8, "abcdefghij", -1, "abcdefgh"},
        {3, "abcdef", -1, "abc#####"},  {0, "abc", -1, "########"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.result, _snprintf(buffer, c.count, "%s", c.text));
        EXPECT_EQ(std::string(c.buffer, 8), std::string(buffer, 8));
    }
    EXPECT_EQ(0, _stricmp("WinSvrc.EXE", "winsvrc.exe"));
    EXPECT_LT(_stricmp("a", "B"), 0);
    EXPECT_EQ(0, _strnicmp("C:\\WINNT\\x", "c:\\winnt\\y", 8));
    EXPECT_NE(0, _strnicmp("C:\\WINNT\\x", "c:\\winnt\\y", 10));
}
