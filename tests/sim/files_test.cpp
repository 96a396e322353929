/* Drive C:, attributes, deleting, moving at restart, short names, the
 * directories and the version: kernel32's results and error codes. */
#include <string.h>

#include <string>

#include "sim_test.h"

static const DWORD no_error = 0xC0FFEEu;

class Files : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        make_dir("WINNT/SYSTEM32/Drivers");
        put("WINNT/SYSTEM32/WINSVRC.EXE", "exe");
        put("WINNT/SYSTEM32/plain.txt", "plain");
        put("WINNT/SYSTEM32/ReadOnly.dat", "ro");
        put("WINNT/SYSTEM32/Hidden.dat", "hidden");
        write_host(machine_file("attributes"), "00000021 C:\\WINNT\\SYSTEM32\\ReadOnly.dat\n"
                                               "00000022 c:/winnt/system32/HIDDEN.DAT\n"
                                               "00000002 C:\\WINNT\\SYSTEM32\\Drivers\n");
        write_host(machine_file("machine.ini"), "[machine]\nfamily=nt40\n"
                                                "[in_use]\nC:\\WINNT\\SYSTEM32\\WINSVRC.EXE\n");
        reload();
    }
    std::string attributes_file() {
        return read_host(machine_file("attributes"));
    }
};

struct AttributesCase {
    const char *path;
    DWORD attributes;
    DWORD error;
};

TEST_F(Files, GetFileAttributes) {
    const AttributesCase cases[] = {
        {"C:\\WINNT\\SYSTEM32\\plain.txt", FILE_ATTRIBUTE_ARCHIVE, no_error},
        {"c:\\winnt\\system32\\PLAIN.TXT", FILE_ATTRIBUTE_ARCHIVE, no_error},
        {"C:/WINNT/SYSTEM32/plain.txt", FILE_ATTRIBUTE_ARCHIVE, no_error},
        {"C:\\WINNT\\.\\SYSTEM32\\..\\SYSTEM32\\plain.txt", FILE_ATTRIBUTE_ARCHIVE, no_error},
        {"C:\\WINNT\\SYSTEM32\\ReadOnly.dat", 0x21, no_error},
        {"C:\\WINNT\\SYSTEM32\\hidden.dat", 0x22, no_error},
        {"C:\\WINNT", FILE_ATTRIBUTE_DIRECTORY, no_error},
        {"C:\\WINNT\\SYSTEM32\\", FILE_ATTRIBUTE_DIRECTORY, no_error},
        {"C:\\WINNT\\SYSTEM32\\DRIVERS", 0x12, no_error},
        {"C:\\", FILE_ATTRIBUTE_DIRECTORY, no_error},
        {"C:\\WINNT\\SYSTEM32\\missing.txt", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\WINNT\\NOWHERE\\plain.txt", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"C:\\WINNT\\SYSTEM32\\plain.txt\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"D:\\WINNT", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"WINNT\\SYSTEM32\\plain.txt", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
    };
    for (const AttributesCase &c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(no_error);
        EXPECT_EQ(c.attributes, GetFileAttributesA(c.path));
        EXPECT_EQ(c.error, GetLastError());
    }
}

struct SetAttributesCase {
    const char *path;
    DWORD set;
    DWORD read_back;
    const char *line; /* in the attributes file afterwards, or NULL for none */
};

TEST_F(Files, SetFileAttributesReadsBackAsWindowsDoes) {
    const SetAttributesCase cases[] = {
        {"C:\\WINNT\\SYSTEM32\\plain.txt", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL,
         "00000080 C:\\WINNT\\SYSTEM32\\plain.txt\n"},
        {"C:\\WINNT\\SYSTEM32\\plain.txt", 0, FILE_ATTRIBUTE_NORMAL,
         "00000080 C:\\WINNT\\SYSTEM32\\plain.txt\n"},
        {"C:\\winnt\\system32\\PLAIN.txt", 0x21 | FILE_ATTRIBUTE_DIRECTORY, 0x21,
         "00000021 C:\\WINNT\\SYSTEM32\\plain.txt\n"},
        {"C:\\WINNT\\SYSTEM32\\plain.txt", 0x01 | FILE_ATTRIBUTE_NORMAL, 0x01,
         "00000001 C:\\WINNT\\SYSTEM32\\plain.txt\n"},
        {"C:\\WINNT\\SYSTEM32\\plain.txt", FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE, NULL},
        {"C:\\WINNT\\SYSTEM32\\Drivers", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_DIRECTORY, NULL},
        {"C:\\WINNT\\SYSTEM32\\Drivers", 0x06, 0x16, "00000006 C:\\WINNT\\SYSTEM32\\Drivers\n"},
    };
    for (const SetAttributesCase &c : cases) {
        SCOPED_TRACE(c.path + std::string(" ") + std::to_string(c.set));
        EXPECT_TRUE(SetFileAttributesA(c.path, c.set));
        EXPECT_EQ(c.read_back, GetFileAttributesA(c.path));
        std::string file = attributes_file();
        if (c.line != NULL)
            EXPECT_NE(std::string::npos, file.find(c.line)) << file;
        else
            EXPECT_EQ(std::string::npos, file.find(c.path + 3)) << file;
    }
    SetLastError(no_error);
    EXPECT_FALSE(SetFileAttributesA("C:\\WINNT\\SYSTEM32\\missing.txt", 0x20));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

struct DeleteCase {
    const char *path;
    BOOL result;
    DWORD error;
};

TEST_F(Files, DeleteFile) {
    const DeleteCase cases[] = {
        {"C:\\WINNT\\SYSTEM32\\missing.txt", FALSE, ERROR_FILE_NOT_FOUND},
        {"C:\\WINNT\\NOWHERE\\missing.txt", FALSE, ERROR_PATH_NOT_FOUND},
        {"C:\\WINNT\\SYSTEM32\\ReadOnly.dat", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\WINNT\\SYSTEM32\\Drivers", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\WINNT\\SYSTEM32\\winsvrc.exe", FALSE, ERROR_SHARING_VIOLATION},
        {"C:\\WINNT\\SYSTEM32\\PLAIN.TXT", TRUE, no_error},
        {"C:\\WINNT\\SYSTEM32\\plain.txt", FALSE, ERROR_FILE_NOT_FOUND},
        {"C:\\WINNT\\SYSTEM32\\Hidden.dat", TRUE, no_error},
        {NULL, FALSE, ERROR_PATH_NOT_FOUND},
    };
    for (const DeleteCase &c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(null)");
        SetLastError(no_error);
        EXPECT_EQ(c.result, DeleteFileA(c.path));
        EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_FALSE(exists("WINNT/SYSTEM32/plain.txt"));
    EXPECT_FALSE(exists("WINNT/SYSTEM32/Hidden.dat"));
    EXPECT_TRUE(exists("WINNT/SYSTEM32/WINSVRC.EXE"));
    /* A deleted file's attributes go with it. */
    EXPECT_EQ("00000002 C:\\WINNT\\SYSTEM32\\Drivers\n"
              "00000021 C:\\WINNT\\SYSTEM32\\ReadOnly.dat\n",
              attributes_file());
}

/* Strings each ended by NUL, and one more NUL after the last. */
static std::string nul_list(std::initializer_list<const char *> strings) {
    std::string out;
    for (const char *s : strings)
        out += std::string(s) + '\0';
    return out + '\0';
}

static std::string pending_value(void) {
    SimNode *node = sim_reg_find(sim_reg_root(SIM_ROOT_MACHINE),
                                 "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    const SimValue *value = node ? sim_reg_find_value(node, "PendingFileRenameOperations") : NULL;
    if (value == NULL)
        return "<none>";
    EXPECT_EQ((DWORD)REG_MULTI_SZ, value->type);
    return std::string(value->data.begin(), value->data.end());
}

TEST_F(Files, MoveFileExAtRestartOnTheNtFamily) {
    const struct {
        const char *source;
        const char *target;
        DWORD flags;
        BOOL result;
        DWORD error;
        std::string value;
    } cases[] = {
        {"C:\\WINNT\\SYSTEM32\\missing.exe", NULL, MOVEFILE_DELAY_UNTIL_REBOOT, FALSE,
         ERROR_FILE_NOT_FOUND, "<none>"},
        {"C:\\WINNT\\SYSTEM32\\WINSVRC.EXE", NULL, MOVEFILE_DELAY_UNTIL_REBOOT, TRUE, no_error,
         nul_list({"\\??\\C:\\WINNT\\SYSTEM32\\WINSVRC.EXE", ""})},
        {"c:\\winnt\\system32\\plain.txt", "C:\\WINNT\\new.txt",
         MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING, TRUE, no_error,
         nul_list({"\\??\\C:\\WINNT\\SYSTEM32\\WINSVRC.EXE", "",
                   "\\??\\c:\\winnt\\system32\\plain.txt", "!\\??\\C:\\WINNT\\new.txt"})},
        {"C:\\WINNT\\SYSTEM32\\Hidden.dat", "C:\\WINNT\\h.dat", MOVEFILE_DELAY_UNTIL_REBOOT, TRUE,
         no_error,
         nul_list({"\\??\\C:\\WINNT\\SYSTEM32\\WINSVRC.EXE", "",
                   "\\??\\c:\\winnt\\system32\\plain.txt", "!\\??\\C:\\WINNT\\new.txt",
                   "\\??\\C:\\WINNT\\SYSTEM32\\Hidden.dat", "\\??\\C:\\WINNT\\h.dat"})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source);
        SetLastError(no_error);
        EXPECT_EQ(c.result, MoveFileExA(c.source, c.target, c.flags));
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(c.value, pending_value());
    }
    /* Nothing moves before the restart; the value is in the file already. */
    EXPECT_TRUE(exists("WINNT/SYSTEM32/WINSVRC.EXE"));
    EXPECT_NE(std::string::npos,
              read_host(machine_file("registry.reg"))
                  .find("\"PendingFileRenameOperations\"=hex(7):5c,3f,3f,5c,43,3a,5c,57"));
}

TEST_F(Files, MoveFileExIsNotImplementedOnThe95Family) {
    for (const char *family : {"95", "98", "me"}) {
        SCOPED_TRACE(family);
        use_family(family);
        put("WINDOWS/SYSTEM/WINSVRC.EXE", "exe");
        for (DWORD flags : {(DWORD)MOVEFILE_DELAY_UNTIL_REBOOT, (DWORD)0}) {
            SetLastError(no_error);
            EXPECT_FALSE(MoveFileExA("C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE",
                                     flags ? NULL : "C:\\WINDOWS\\X.EXE", flags));
            EXPECT_EQ((DWORD)ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
        }
        EXPECT_EQ("<none>", pending_value());
    }
}

TEST_F(Files, MoveFileExAtOnce) {
    const struct {
        const char *source;
        const char *target;
        DWORD flags;
        BOOL result;
        DWORD error;
    } cases[] = {
        {"C:\\WINNT\\SYSTEM32\\Hidden.dat", "C:\\WINNT\\SYSTEM32\\plain.txt", 0, FALSE,
         ERROR_ALREADY_EXISTS},
        {"C:\\WINNT\\SYSTEM32\\WINSVRC.EXE", "C:\\WINNT\\W.EXE", 0, FALSE, ERROR_SHARING_VIOLATION},
        {"C:\\WINNT\\SYSTEM32\\Hidden.dat", "C:\\NOWHERE\\h.dat", 0, FALSE, ERROR_PATH_NOT_FOUND},
        {"C:\\WINNT\\SYSTEM32\\Hidden.dat", NULL, 0, FALSE, ERROR_INVALID_PARAMETER},
        {"C:\\WINNT\\SYSTEM32\\Hidden.dat", "C:\\WINNT\\SYSTEM32\\plain.txt",
         MOVEFILE_REPLACE_EXISTING, TRUE, no_error},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target ? c.target : "(null)");
        SetLastError(no_error);
        EXPECT_EQ(c.result, MoveFileExA(c.source, c.target, c.flags));
        EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_EQ("hidden", get("WINNT/SYSTEM32/plain.txt"));
    EXPECT_FALSE(exists("WINNT/SYSTEM32/Hidden.dat"));
    /* The moved file keeps its attributes. */
    EXPECT_EQ(0x22u, GetFileAttributesA("C:\\WINNT\\SYSTEM32\\plain.txt"));
}

TEST_F(Files, ShortPathNames) {
    make_dir("Program Files");
    put("Program Files/Long Name B.txt", "b");
    put("Program Files/Long Name A.txt", "a");
    put("Program Files/a+b.txt", "plus");
    put("Program Files/short.htm", "short");
    put("Program Files/LONGNA~1.TXT", "taken alias");
    put("Program Files/archive.tar.gz", "two dots");
    const struct {
        const char *long_path;
        const char *short_path;
    } cases[] = {
        {"C:\\WINNT\\SYSTEM32\\WINSVRC.EXE", "C:\\WINNT\\SYSTEM32\\WINSVRC.EXE"},
        {"c:\\winnt\\system32\\winsvrc.exe", "c:\\WINNT\\SYSTEM32\\WINSVRC.EXE"},
        {"C:\\WINNT\\SYSTEM32\\plain.txt", "C:\\WINNT\\SYSTEM32\\plain.txt"},
        {"C:\\Program Files", "C:\\PROGRA~1"},
        {"C:\\Program Files\\short.htm", "C:\\PROGRA~1\\short.htm"},
        {"C:\\Program Files\\Long Name A.txt", "C:\\PROGRA~1\\LONGNA~2.TXT"},
        {"C:\\Program Files\\Long Name B.txt", "C:\\PROGRA~1\\LONGNA~3.TXT"},
        {"C:\\Program Files\\LONGNA~1.TXT", "C:\\PROGRA~1\\LONGNA~1.TXT"},
        {"C:\\Program Files\\a+b.txt", "C:\\PROGRA~1\\AB~1.TXT"},
        {"C:\\Program Files\\archive.tar.gz", "C:\\PROGRA~1\\ARCHIV~1.GZ"},
        {"C:\\PROGRA~1\\LONGNA~3.TXT", "C:\\PROGRA~1\\LONGNA~3.TXT"},
        {"C:\\", "C:\\"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.long_path);
        char buffer[MAX_PATH];
        memset(buffer, '#', sizeof buffer);
        DWORD length = (DWORD)strlen(c.short_path);
        EXPECT_EQ(length, GetShortPathNameA(c.long_path, buffer, sizeof buffer));
        EXPECT_STREQ(c.short_path, buffer);
        /* Too small a buffer: the size needed, terminator included. */
        EXPECT_EQ(length + 1, GetShortPathNameA(c.long_path, buffer, length));
        EXPECT_EQ(length + 1, GetShortPathNameA(c.long_path, NULL, 0));
    }
    /* An alias opens the file it stands for. */
    EXPECT_EQ("b", get("Program Files/Long Name B.txt"));
    EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("C:\\PROGRA~1\\LONGNA~3.TXT"));
    EXPECT_TRUE(DeleteFileA("c:\\progra~1\\longna~3.txt"));
    EXPECT_FALSE(exists("Program Files/Long Name B.txt"));

    char buffer[MAX_PATH];
    SetLastError(no_error);
    EXPECT_EQ(0u, GetShortPathNameA("C:\\Program Files\\missing.txt", buffer, sizeof buffer));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    SetLastError(no_error);
    EXPECT_EQ(0u, GetShortPathNameA("C:\\Nowhere\\missing.txt", buffer, sizeof buffer));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(Files, WindowsAndSystemDirectories) {
    const struct {
        UINT (*function)(LPSTR, UINT);
        const char *expected;
    } functions[] = {
        {GetWindowsDirectoryA, "C:\\WINNT"},
        {GetSystemDirectoryA, "C:\\WINNT\\SYSTEM32"},
    };
    for (const auto &f : functions) {
        SCOPED_TRACE(f.expected);
        UINT length = (UINT)strlen(f.expected);
        const struct {
            UINT size;
            UINT result;
            bool written;
        } sizes[] = {
            {0, length + 1, false},
            {length, length + 1, false},
            {length + 1, length, true},
            {MAX_PATH, length, true},
        };
        for (const auto &s : sizes) {
            char buffer[MAX_PATH];
            memset(buffer, '#', sizeof buffer);
            EXPECT_EQ(s.result, f.function(buffer, s.size)) << s.size;
            if (s.written) {
                EXPECT_STREQ(f.expected, buffer);
            }
        }
    }
}

TEST_F(Files, DirectoriesFollowTheSettings) {
    write_host(machine_file("machine.ini"), "[machine]\nfamily=98\nsystem_dir=D:\\ELSEWHERE\n");
    reload();
    char buffer[MAX_PATH];
    EXPECT_EQ(10u, GetWindowsDirectoryA(buffer, sizeof buffer));
    EXPECT_STREQ("C:\\WINDOWS", buffer);
    EXPECT_EQ(12u, GetSystemDirectoryA(buffer, sizeof buffer));
    EXPECT_STREQ("D:\\ELSEWHERE", buffer);
}

TEST_F(Files, VersionByFamily) {
    const struct {
        const char *family;
        DWORD platform, major, minor, build;
    } cases[] = {
        /* The 95 family keeps the version in the build number's high word. */
        {"95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0x040003B6},
        {"98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A07CE},
        {"me", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 0x045A0BB8},
        {"nt40", VER_PLATFORM_WIN32_NT, 4, 0, 1381},
        {"2000", VER_PLATFORM_WIN32_NT, 5, 0, 2195},
        {"xp", VER_PLATFORM_WIN32_NT, 5, 1, 2600},
        {"10", VER_PLATFORM_WIN32_NT, 6, 2, 9200},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.family);
        use_family(c.family);
        OSVERSIONINFOA info;
        memset(&info, 0xAB, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        ASSERT_TRUE(GetVersionExA(&info));
        EXPECT_EQ(c.platform, info.dwPlatformId);
        EXPECT_EQ(c.major, info.dwMajorVersion);
        EXPECT_EQ(c.minor, info.dwMinorVersion);
        EXPECT_EQ(c.build, info.dwBuildNumber);
        EXPECT_NE(nullptr, memchr(info.szCSDVersion, 0, sizeof info.szCSDVersion));

        /* The larger form came with NT 4.0 SP6 and is refused by the 95 family. */
        unsigned char ex[156];
        memset(ex, 0, sizeof ex);
        ((OSVERSIONINFOA *)ex)->dwOSVersionInfoSize = sizeof ex;
        SetLastError(no_error);
        BOOL nt = c.platform == VER_PLATFORM_WIN32_NT;
        EXPECT_EQ(nt, GetVersionExA((OSVERSIONINFOA *)ex));
        EXPECT_EQ(nt ? no_error : (DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    }
    for (DWORD size : {0u, 147u, 149u, 155u, 157u}) {
        OSVERSIONINFOA info;
        info.dwOSVersionInfoSize = size;
        SetLastError(no_error);
        EXPECT_FALSE(GetVersionExA(&info)) << size;
        EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << size;
    }
}
