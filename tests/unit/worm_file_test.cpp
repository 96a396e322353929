#include <gtest/gtest.h>

#include "filesvc/crc32.h"
#include "run/reporting.h"
#include "test_machine.h"
#include "worm/worm_file_check.h"

/* Signature entries for files in the root of C:, using the standard CRC-32
 * check value: "123456789" is the "worm". */
static const uint32_t check_crc = 0xCBF43926u;

class WormFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_machine_start());
        crc32_build_table();
        run_counters_reset();
        capture_start(false);
    }
    void TearDown() override {
        capture_stop();
        test_machine_stop();
    }
};

TEST_F(WormFile, OutcomesOfOneCheck) {
    struct {
        const char *what;
        const char *content; /* null: no such file */
        uint32_t range_start, range_end, crc;
        const char *log;
        int errors, repairs;
        bool file_stays;
    } cases[] = {
        {"absent", NULL, 0, 9, check_crc, "OK (not found)\n", 0, 0, false},
        {"identified and deleted", "123456789 and more", 0, 9, check_crc,
         "...opened......virus found...\nOK.. deleted.\n", 0, 1, false},
        {"range inside the file", "xx123456789", 2, 11, check_crc,
         "...opened......virus found...\nOK.. deleted.\n", 0, 1, false},
        {"other bytes", "123456780", 0, 9, check_crc, "...opened......virus not recognized...\n", 0,
         0, true},
        {"shorter than the range", "12345678", 0, 9, check_crc,
         "...opened......virus not recognized...\n", 0, 0, true},
        {"no signature: the name is enough", "anything", 0, 0, check_crc, "OK.. deleted.\n", 0, 1,
         false},
        {"zero CRC: the name is enough", "anything", 0, 9, 0, "OK.. deleted.\n", 0, 1, false},
    };
    int step = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        run_counters_reset();
        run_counters.step_counter = step;
        capture_stop();
        capture_start(false);
        if (c.content != NULL) {
            ASSERT_TRUE(test_put_file("C:\\TEST.BIN", c.content));
        }
        FileSignatureEntry entry = {DriveCRoot, "TEST.BIN", c.range_start, c.range_end, c.crc};
        check_worm_file(&entry);
        step++;
        EXPECT_EQ(std::to_string(step) + ") Checking file\n[C:\\TEST.BIN]\n" + c.log,
                  captured_out());
        EXPECT_EQ("", captured_err());
        EXPECT_EQ(c.errors, run_counters.error_count);
        EXPECT_EQ(c.repairs, run_counters.repair_count);
        EXPECT_FALSE(run_counters.restart_needed);
        EXPECT_EQ(c.file_stays, test_file_exists("C:\\TEST.BIN"));
        if (c.file_stays) {
            ASSERT_TRUE(DeleteFileA("C:\\TEST.BIN"));
        }
    }
}

/* A short file read after a matching one must not borrow its bytes. */
TEST_F(WormFile, ShortFileIsNotMatchedByAnEarlierFilesBytes) {
    ASSERT_TRUE(test_put_file("C:\\FULL.BIN", "123456789"));
    ASSERT_TRUE(test_put_file("C:\\SHORT.BIN", "1234"));
    FileSignatureEntry full = {DriveCRoot, "FULL.BIN", 0, 9, check_crc};
    FileSignatureEntry part = {DriveCRoot, "SHORT.BIN", 0, 9, check_crc};
    check_worm_file(&full);
    check_worm_file(&part);
    EXPECT_TRUE(test_file_exists("C:\\SHORT.BIN"));
    EXPECT_EQ(1, run_counters.repair_count);
    EXPECT_NE(std::string::npos, captured_out().find("...virus not recognized..."));
}

TEST_F(WormFile, ProtectedWormFileIsDeleted) {
    ASSERT_TRUE(test_put_file("C:\\TEST.BIN", "123456789"));
    ASSERT_TRUE(SetFileAttributesA("C:\\TEST.BIN", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                       FILE_ATTRIBUTE_SYSTEM));
    FileSignatureEntry entry = {DriveCRoot, "TEST.BIN", 0, 9, check_crc};
    check_worm_file(&entry);
    EXPECT_FALSE(test_file_exists("C:\\TEST.BIN"));
    EXPECT_EQ(1, run_counters.repair_count);
}

TEST_F(WormFile, FolderNamedLikeTheFileCannotBeOpened) {
    ASSERT_TRUE(test_make_folder("C:\\TEST.BIN"));
    FileSignatureEntry entry = {DriveCRoot, "TEST.BIN", 0, 9, check_crc};
    check_worm_file(&entry);
    EXPECT_EQ("1) Checking file\n[C:\\TEST.BIN]\n...cannot open...\n", captured_out());
    EXPECT_EQ(1, run_counters.error_count);
    EXPECT_EQ(0, run_counters.repair_count);
    EXPECT_TRUE(test_file_exists("C:\\TEST.BIN"));
}

TEST_F(WormFile, SystemDirectoryEntryBuildsTheFullPath) {
    char system_directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(system_directory, sizeof system_directory);
    ASSERT_GT(length, 0u);
    std::string path = std::string(system_directory) + "\\TARSK4T.BIN";
    ASSERT_TRUE(test_put_file(path, "123456789"));
    FileSignatureEntry entry = {SystemDirectory, "TARSK4T.BIN", 0, 9, check_crc};
    check_worm_file(&entry);
    EXPECT_EQ("1) Checking file\n[" + path + "]\n...opened......virus found...\nOK.. deleted.\n",
              captured_out());
    EXPECT_FALSE(test_file_exists(path));
}
