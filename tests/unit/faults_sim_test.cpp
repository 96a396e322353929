/* Failures only the simulated machine can produce on demand: injected
 * errors of single platform calls, and machines of either family. */
#include <gtest/gtest.h>

#include "filesvc/crc32.h"
#include "filesvc/restart_removal.h"
#include "run/reporting.h"
#include "sim_machine.h"
#include "test_machine.h"
#include "worm/worm_file_check.h"

bool test_machine_start_family(const char *family);

static const uint32_t check_crc = 0xCBF43926u;
static const FileSignatureEntry test_entry = {DriveCRoot, "TEST.BIN", 0, 9, check_crc};

class Faults : public ::testing::Test {
  protected:
    void SetUp() override {
        crc32_build_table();
        run_counters_reset();
    }
    void TearDown() override {
        capture_stop();
        test_machine_stop();
    }
    void start(const char *family) {
        ASSERT_TRUE(test_machine_start_family(family));
        capture_start(false);
    }
};

static std::string pending_operations(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    BYTE data[2048];
    DWORD size = sizeof data, type = 0;
    LONG status = RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return "<none>";
    return std::string((const char *)data, size);
}

TEST_F(Faults, FileInUseOnNtIsScheduledThroughMoveFileEx) {
    start("nt40");
    ASSERT_TRUE(test_put_file("C:\\TEST.BIN", "123456789"));
    sim_fault_add("DeleteFileA", 1, ERROR_SHARING_VIOLATION, false);
    check_worm_file(&test_entry);
    EXPECT_EQ("1) Checking file\n[C:\\TEST.BIN]\n...opened......virus found...\n"
              "Delete file error (winerror=32)\n",
              captured_out());
    EXPECT_EQ(0, run_counters.error_count);
    EXPECT_EQ(1, run_counters.repair_count);
    EXPECT_TRUE(run_counters.restart_needed);
    EXPECT_EQ(std::string("\\??\\C:\\TEST.BIN\0\0\0", 18), pending_operations());
    EXPECT_FALSE(test_file_exists("C:\\WINNT\\WININIT.INI"));
}

TEST_F(Faults, FileInUseOn95IsScheduledInWininit) {
    start("95");
    ASSERT_TRUE(test_put_file("C:\\TEST.BIN", "123456789"));
    sim_fault_add("DeleteFileA", 1, ERROR_ACCESS_DENIED, false);
    check_worm_file(&test_entry);
    EXPECT_TRUE(run_counters.restart_needed);
    std::string ini;
    ASSERT_TRUE(test_get_file("C:\\WINDOWS\\WININIT.INI", &ini));
    EXPECT_EQ("[rename]\r\nNUL=C:\\TEST.BIN\r\n", ini);
    EXPECT_EQ("<none>", pending_operations());
}

TEST_F(Faults, LongNamesReachWininitInTheirShortForm) {
    start("95");
    ASSERT_TRUE(test_make_folder("C:\\Program Files"));
    ASSERT_TRUE(test_put_file("C:\\Program Files\\Worm Program.exe", "x"));
    ASSERT_NE(0, schedule_removal_at_restart("C:\\Program Files\\Worm Program.exe", NULL));
    std::string ini;
    ASSERT_TRUE(test_get_file("C:\\WINDOWS\\WININIT.INI", &ini));
    EXPECT_EQ("[rename]\r\nNUL=C:\\PROGRA~1\\WORMPR~1.EXE\r\n", ini);
}

TEST_F(Faults, ReadErrorCountsLikeCannotOpen) {
    start("nt40");
    ASSERT_TRUE(test_put_file("C:\\TEST.BIN", "123456789"));
    sim_fault_add("fread", 1, ERROR_READ_FAULT, true);
    check_worm_file(&test_entry);
    EXPECT_EQ("1) Checking file\n[C:\\TEST.BIN]\n...opened......cannot open...\n", captured_out());
    EXPECT_EQ(1, run_counters.error_count);
    EXPECT_EQ(0, run_counters.repair_count);
    EXPECT_TRUE(test_file_exists("C:\\TEST.BIN"));
}

TEST_F(Faults, EntryWithoutSignatureIsNeverOpened) {
    start("nt40");
    ASSERT_TRUE(test_put_file("C:\\TEST.BIN", "whatever"));
    sim_fault_add("fopen", 1, ERROR_ACCESS_DENIED, true);
    FileSignatureEntry by_name = {DriveCRoot, "TEST.BIN", 0, 0, 0};
    check_worm_file(&by_name);
    EXPECT_EQ("1) Checking file\n[C:\\TEST.BIN]\nOK.. deleted.\n", captured_out());
    EXPECT_FALSE(test_file_exists("C:\\TEST.BIN"));
}

TEST_F(Faults, UnknownSystemDirectoryEndsTheCheckSilently) {
    start("nt40");
    sim_fault_add("GetSystemDirectoryA", 1, ERROR_INVALID_PARAMETER, false);
    FileSignatureEntry in_system = {SystemDirectory, "WINSVRC.EXE", 0, 9, check_crc};
    check_worm_file(&in_system);
    EXPECT_EQ("1) ", captured_out());
    EXPECT_EQ("", captured_err());
    EXPECT_EQ(0, run_counters.error_count);
    EXPECT_EQ(0, run_counters.repair_count);
}

/* Whatever fails while the new copy is made, the old file keeps every line
 * and no half-made copy is left behind. */
TEST_F(Faults, WininitKeptWhole) {
    start("95");
    const std::string ini = "C:\\WINDOWS\\WININIT.INI", fresh = "C:\\WINDOWS\\WININIT.NEW";
    const std::string before = "[boot]\r\nshell=Explorer.exe\r\n";
    struct {
        const char *what;
        const char *function;
        int nth;
        DWORD error;
    } cases[] = {
        {"disk full while writing", "fwrite", 1, ERROR_DISK_FULL},
        {"read error", "fread", 1, ERROR_READ_FAULT},
        {"old file cannot be opened", "fopen", 1, ERROR_ACCESS_DENIED},
        {"new file cannot be created", "fopen", 2, ERROR_ACCESS_DENIED},
        {"new file cannot be closed", "fclose", 2, ERROR_DISK_FULL},
        {"Windows directory unknown", "GetWindowsDirectoryA", 1, ERROR_INVALID_PARAMETER},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(test_put_file(ini, before));
        sim_fault_add(c.function, c.nth, c.error, true);
        EXPECT_EQ(0, schedule_removal_at_restart("C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE", NULL));
        sim_faults_clear();
        std::string after;
        ASSERT_TRUE(test_get_file(ini, &after));
        EXPECT_EQ(before, after);
        EXPECT_FALSE(test_file_exists(fresh));
        EXPECT_EQ(0, sim_open_file_count());
    }
}
