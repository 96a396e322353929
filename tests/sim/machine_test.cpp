/* The machine folder: machine.ini, loading errors, injected faults of the
 * Win32 functions, start-up through sim_boot and Sleep(INFINITE). */
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim_test.h"

class Machine : public SimTest {};

TEST_F(Machine, SettingsAndTheirDefaults) {
    const struct {
        const char *ini;
        const char *family;
        const char *windows_dir;
        const char *system_dir;
        bool sleep_real;
    } cases[] = {
        {"[machine]\nfamily=95\n", "95", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", true},
        {"[machine]\nfamily=98\n", "98", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", true},
        {"[machine]\nfamily=me\n", "me", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", true},
        {"[machine]\nfamily=nt40\n", "nt40", "C:\\WINNT", "C:\\WINNT\\SYSTEM32", true},
        {"[machine]\nfamily=2000\n", "2000", "C:\\WINNT", "C:\\WINNT\\SYSTEM32", true},
        {"[machine]\nfamily=xp\n", "xp", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32", true},
        {"[machine]\nfamily=10\n", "10", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32", true},
        {"; comment\r\n[Machine]\r\n  Family = XP \r\nSLEEP=skip\r\n", "xp", "C:\\WINDOWS",
         "C:\\WINDOWS\\SYSTEM32", false},
        {"[machine]\nfamily=95\nwindows_dir=C:\\WIN95\nsystem_dir=C:\\WIN95\\SYS\nsleep=real\n",
         "95", "C:\\WIN95", "C:\\WIN95\\SYS", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ini);
        std::string error;
        ASSERT_TRUE(sim_ini_parse(c.ini, &error)) << error;
        EXPECT_STREQ(c.family, sim.family->name);
        EXPECT_EQ(c.windows_dir, sim.windows_dir);
        EXPECT_EQ(c.system_dir, sim.system_dir);
        EXPECT_EQ(c.sleep_real, sim.sleep_real);
    }
}

TEST_F(Machine, ListsInTheSettings) {
    std::string error;
    ASSERT_TRUE(sim_ini_parse("[machine]\nfamily=nt40\n"
                              "[in_use]\nC:\\A.EXE\nc:\\b c\\d.exe\n"
                              "[deny_full_access]\nHKEY_LOCAL_MACHINE\\SOFTWARE\\X\n"
                              "[faults]\nDeleteFileA 2 32 once\nfopen 1 5 for_good\n"
                              "RegOpenKeyExA 3 5\n",
                              &error))
        << error;
    ASSERT_EQ(2u, sim.in_use.size());
    EXPECT_EQ("c:\\b c\\d.exe", sim.in_use[1]);
    ASSERT_EQ(1u, sim.deny_full_access.size());
    ASSERT_EQ(3u, sim.ini_faults.size());
    EXPECT_EQ("DeleteFileA", sim.ini_faults[0].function);
    EXPECT_EQ(2, sim.ini_faults[0].nth);
    EXPECT_EQ(32u, sim.ini_faults[0].error);
    EXPECT_FALSE(sim.ini_faults[0].for_good);
    EXPECT_TRUE(sim.ini_faults[1].for_good);
    EXPECT_FALSE(sim.ini_faults[2].for_good);
    /* Written back, the settings read the same. */
    std::string text = sim_ini_format();
    ASSERT_TRUE(sim_ini_parse(text, &error)) << error;
    EXPECT_EQ(text, sim_ini_format());
}

TEST_F(Machine, SettingsErrorsSayWhatIsWrong) {
    const struct {
        const char *ini;
        const char *error;
    } cases[] = {
        {"[machine]\nfamily=nt5\n", "family is 'nt5'"},
        {"[machine]\n", "family is ''"},
        {"[machine]\nfamily=xp\nsleep=maybe\n", "sleep is 'maybe'"},
        {"[machine]\nfamily=xp\ncolour=blue\n", "line 3: unknown setting 'colour'"},
        {"[machine]\nfamily xp\n", "line 2: expected NAME=VALUE"},
        {"[machines]\nfamily=xp\n", "line 1: unknown section [machines]"},
        {"family=xp\n", "line 1: text outside any section"},
        {"[machine]\nfamily=xp\n[faults]\nDeleteFileA x 32\n", "line 4: expected FUNCTION NTH"},
        {"[machine]\nfamily=xp\n[faults]\nDeleteFileA 0 32\n", "line 4: expected FUNCTION NTH"},
        {"[machine]\nfamily=xp\n[faults]\nDeleteFileA 1 32 twice\n", "line 4"},
    };
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(sim_ini_parse(c.ini, &error)) << c.ini;
        EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    }
}

TEST_F(Machine, LoadingNamesTheFolderAndWhatIsMissing) {
    const struct {
        const char *remove; /* from the machine folder */
        const char *error;
    } cases[] = {
        {"machine.ini", "is not a simulated Windows machine: machine.ini is missing"},
        {"registry.reg", "has no readable registry.reg"},
        {"C", "has no folder C for drive C:"},
    };
    for (const auto &c : cases) {
        use_family("xp");
        std::string command = "rm -rf '" + dir_ + "/" + c.remove + "'";
        ASSERT_EQ(0, system(command.c_str()));
        char error[512] = "";
        EXPECT_FALSE(sim_machine_load(dir_.c_str(), error, sizeof error));
        EXPECT_NE(nullptr, strstr(error, dir_.c_str())) << error;
        EXPECT_NE(nullptr, strstr(error, c.error)) << error;
    }
    char error[512] = "";
    std::string nowhere = root_ + "/nowhere";
    EXPECT_FALSE(sim_machine_load(nowhere.c_str(), error, sizeof error));
    EXPECT_NE(nullptr, strstr(error, "nowhere does not exist")) << error;
    /* A machine is never made twice in one folder. */
    use_family("xp");
    EXPECT_FALSE(sim_machine_create(dir_.c_str(), "xp", error, sizeof error));
    EXPECT_NE(nullptr, strstr(error, "already holds a machine")) << error;
    EXPECT_FALSE(sim_machine_create((root_ + "/other").c_str(), "nt5", error, sizeof error));
    EXPECT_NE(nullptr, strstr(error, "unknown family 'nt5'")) << error;
}

TEST_F(Machine, FaultsFromTheSettingsApplyAtLoad) {
    write_host(machine_file("machine.ini"),
               "[machine]\nfamily=nt40\n[faults]\nGetFileAttributesA 2 5 once\n");
    reload();
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("C:\\WINNT"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\WINNT"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("C:\\WINNT"));
}

/* One call of a Win32 function: whether it failed, and with what error. */
struct Outcome {
    bool failed;
    DWORD error;
};

static Outcome call_reg_open(void) {
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return {status != ERROR_SUCCESS, (DWORD)status};
}

static Outcome call_reg_query(void) {
    LONG size = 0;
    LONG status = RegQueryValueA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", NULL, &size);
    return {status != ERROR_SUCCESS, (DWORD)status};
}

static Outcome call_reg_query_ex(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", 0, KEY_READ, &key) != 0)
        return {true, 0};
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, NULL, NULL, NULL, NULL, &size);
    RegCloseKey(key);
    return {status != ERROR_SUCCESS, (DWORD)status};
}

static Outcome call_reg_set(void) {
    LONG status =
        RegSetValueA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", REG_SZ, "\"%1\" %*", 0);
    return {status != ERROR_SUCCESS, (DWORD)status};
}

/* Keys whose close was made to fail; closed when the faults are gone. */
static std::vector<HKEY> unclosed_keys;

static Outcome call_reg_close(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key) != 0)
        return {true, 0};
    LONG status = RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        unclosed_keys.push_back(key);
    return {status != ERROR_SUCCESS, (DWORD)status};
}

static Outcome with_last_error(bool failed) {
    return {failed, failed ? GetLastError() : 0};
}

static Outcome call_system_dir(void) {
    char buffer[MAX_PATH];
    return with_last_error(GetSystemDirectoryA(buffer, sizeof buffer) == 0);
}

static Outcome call_attributes(void) {
    return with_last_error(GetFileAttributesA("C:\\WINNT") == INVALID_FILE_ATTRIBUTES);
}

static Outcome call_delete(void) {
    /* Fails with 2 on its own: the injected error must win. */
    return with_last_error(!DeleteFileA("C:\\WINNT\\missing.txt"));
}

static Outcome call_version(void) {
    OSVERSIONINFOA info;
    info.dwOSVersionInfoSize = sizeof info;
    return with_last_error(!GetVersionExA(&info));
}

static Outcome call_short_path(void) {
    char buffer[MAX_PATH];
    return with_last_error(GetShortPathNameA("C:\\WINNT", buffer, sizeof buffer) == 0);
}

static Outcome call_std_handle(void) {
    return with_last_error(GetStdHandle(STD_OUTPUT_HANDLE) == INVALID_HANDLE_VALUE);
}

struct FaultCase {
    const char *function;
    Outcome (*call)(void);
    bool fails_anyway;
};

TEST_F(Machine, InjectedFaultsOfWin32Functions) {
    const FaultCase cases[] = {
        {"RegOpenKeyExA", call_reg_open, false},
        {"RegQueryValueA", call_reg_query, false},
        {"RegQueryValueExA", call_reg_query_ex, false},
        {"RegSetValueA", call_reg_set, false},
        {"RegCloseKey", call_reg_close, false},
        {"GetSystemDirectoryA", call_system_dir, false},
        {"GetFileAttributesA", call_attributes, false},
        {"DeleteFileA", call_delete, true},
        {"GetVersionExA", call_version, false},
        {"GetShortPathNameA", call_short_path, false},
        {"GetStdHandle", call_std_handle, false},
    };
    const DWORD injected = 1117; /* ERROR_IO_DEVICE: no function fails with it by itself */
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(c.function);
        const DWORD own_error = c.fails_anyway ? (DWORD)ERROR_FILE_NOT_FOUND : 0;
        /* Once, on the second call. */
        sim_fault_add(c.function, 2, injected, false);
        Outcome first = c.call(), second = c.call(), third = c.call();
        EXPECT_EQ(c.fails_anyway, first.failed);
        EXPECT_EQ(own_error, first.error);
        EXPECT_TRUE(second.failed);
        EXPECT_EQ(injected, second.error);
        EXPECT_EQ(own_error, third.error);
        /* For good, from the first call on. */
        sim_fault_add(c.function, 1, injected, true);
        for (int i = 0; i < 3; i++) {
            Outcome outcome = c.call();
            EXPECT_TRUE(outcome.failed);
            EXPECT_EQ(injected, outcome.error);
        }
        sim_faults_clear();
        EXPECT_EQ(own_error, c.call().error);
        /* A close that failed left its key open. */
        for (HKEY key : unclosed_keys)
            EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
        unclosed_keys.clear();
    }
}

static void boot_and_print(void) {
    if (!sim_boot())
        _exit(3);
    printf("out\nline\n");
    fprintf(stderr, "err\n");
    fflush(stdout);
    fflush(stderr);
    _exit(0);
}

TEST_F(Machine, BootMakesTheConsoleStreamsWindowsText) {
    setenv("TARSK4_MACHINE", dir_.c_str(), 1);
    RunResult result = run_forked(boot_and_print, NULL);
    EXPECT_EQ(0, WEXITSTATUS(result.status));
    EXPECT_EQ("out\r\nline\r\n", result.out);
    EXPECT_EQ("err\r\n", result.err);

    unsetenv("TARSK4_MACHINE");
    result = run_forked(boot_and_print, NULL);
    EXPECT_EQ(3, WEXITSTATUS(result.status));
    EXPECT_EQ("tarsk4: set TARSK4_MACHINE to the folder of a simulated Windows machine\n",
              result.err);

    std::string nowhere = root_ + "/nowhere";
    setenv("TARSK4_MACHINE", nowhere.c_str(), 1);
    result = run_forked(boot_and_print, NULL);
    EXPECT_EQ(3, WEXITSTATUS(result.status));
    EXPECT_EQ("tarsk4: the machine folder " + nowhere + " does not exist or is not a folder\n",
              result.err);
    unsetenv("TARSK4_MACHINE");
}

static void open_things_and_sleep_for_good(void) {
    HKEY key;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key);
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key);
    sim_fopen("C:\\WINNT\\open.txt", "w");
    Sleep(INFINITE);
}

TEST_F(Machine, SleepingForGoodReportsWhatWasLeftOpen) {
    RunResult result = run_forked(open_things_and_sleep_for_good, "left open\n");
    EXPECT_EQ("sim: 2 registry key(s) and 1 file(s) left open\n", result.err);
    /* It was still asleep when it was ended. */
    ASSERT_TRUE(WIFSIGNALED(result.status));
    EXPECT_EQ(SIGKILL, WTERMSIG(result.status));
}
