#include <gtest/gtest.h>

#include "run/console_output.h"
#include "run/reporting.h"
#include "test_machine.h"

class Reporting : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_machine_start());
        run_counters_reset();
    }
    void TearDown() override {
        capture_stop();
        test_machine_stop();
    }
};

TEST_F(Reporting, ReportErrorWritesWithoutLineEndAndReturnsItsCode) {
    capture_start(false);
    EXPECT_EQ(-1, report_error(-1, "Cannot open key."));
    EXPECT_EQ(2, report_error(2, "value %d of %s", 7, "x"));
    EXPECT_EQ("Error: Cannot open key.Error: value 7 of x", captured_err());
    EXPECT_EQ("", captured_out());
}

TEST_F(Reporting, ReportErrorCutsAnOverlongMessageSafely) {
    capture_start(false);
    std::string long_text(3000, 'x');
    EXPECT_EQ(5, report_error(5, "%s", long_text.c_str()));
    std::string err = captured_err();
    ASSERT_GE(err.size(), 7u);
    EXPECT_EQ("Error: ", err.substr(0, 7));
    EXPECT_LE(err.size(), 7u + 1023u);
    EXPECT_EQ(std::string::npos, err.find_first_not_of('x', 7));
}

TEST_F(Reporting, StepNumbersRunOn) {
    capture_start(false);
    print_step_number();
    print_step_number();
    print_step_number();
    EXPECT_EQ("1) 2) 3) ", captured_out());
    EXPECT_EQ(3, run_counters.step_counter);
}

TEST_F(Reporting, HiveShortNames) {
    struct {
        HKEY hive;
        const char *name;
    } cases[] = {
        {HKEY_CLASSES_ROOT, "HKCR"}, {HKEY_CURRENT_USER, "HKCU"}, {HKEY_LOCAL_MACHINE, "HKLM"},
        {HKEY_USERS, "HKEY_USERS"},  {HKEY_CURRENT_CONFIG, "?"},  {(HKEY)NULL, "?"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(c.name, hive_short_name(c.hive));
}

TEST_F(Reporting, NameOrDefaultAndDisplayName) {
    EXPECT_STREQ("{default}", name_or_default(NULL));
    EXPECT_STREQ("", name_or_default(""));
    EXPECT_STREQ("Run", name_or_default("Run"));
    EXPECT_STREQ("TARSK4", display_name());
    EXPECT_STREQ("TARSK4", display_name());
}

TEST_F(Reporting, CountersStartClearWithThePassOn) {
    run_counters.error_count = 3;
    run_counters.restart_needed = true;
    run_counters.worm_pass_enabled = false;
    run_counters_reset();
    EXPECT_EQ(0, run_counters.error_count);
    EXPECT_EQ(0, run_counters.repair_count);
    EXPECT_EQ(0, run_counters.step_counter);
    EXPECT_FALSE(run_counters.restart_needed);
    EXPECT_TRUE(run_counters.worm_pass_enabled);
}

/* What reaches the file behind the log stream after each call shows the
 * buffering: a console sees whole lines at once, a file or pipe only full
 * buffers or the explicit flush. */
TEST_F(Reporting, LogIsLineBufferedOnlyOnAConsole) {
    std::string path = test_folder() + "\\LOG.TXT";
    for (bool console : {true, false}) {
        FILE *log = fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, log);
        static char buffer[4096];
        setvbuf(log, buffer, _IOFBF, sizeof buffer);
        console_output_redirect(log, stderr, console);
        std::string seen;

        out_printf("...opened......checking( %s )...", "x");
        ASSERT_TRUE(test_get_file(path, &seen));
        EXPECT_EQ("", seen) << "console " << console;

        out_printf("...key found...%s\n%s", "OK", "2) ");
        ASSERT_TRUE(test_get_file(path, &seen));
        EXPECT_EQ(console ? "...opened......checking( x )......key found...OK\n" : "", seen)
            << "console " << console;

        out_flush();
        ASSERT_TRUE(test_get_file(path, &seen));
        EXPECT_EQ("...opened......checking( x )......key found...OK\n2) ", seen);
        console_output_redirect(stdout, stderr, false);
        fclose(log);
    }
}
