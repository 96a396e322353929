/* The native program's entry: the machine it is given, and what it says
 * when the run leaves registry keys or files open. */
#include <stdlib.h>

#include <string>

#include "sim_test.h"

class Entry : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        sim_machine_unload();
        write_host(machine_file("machine.ini"), "[machine]\nfamily=nt40\nsleep=skip\n");
    }
    void TearDown() override {
        unsetenv("TARSK4_MACHINE");
        SimTest::TearDown();
    }
};

TEST_F(Entry, WithoutAMachineTheProgramDoesNotStart) {
    unsetenv("TARSK4_MACHINE");
    RunResult result = run_host({TARSK4_PROGRAM});
    EXPECT_EQ(3, result.code);
    EXPECT_EQ("", result.out);
    EXPECT_EQ("tarsk4: set TARSK4_MACHINE to the folder of a simulated Windows machine\n",
              result.err);

    std::string nowhere = root_ + "/nowhere";
    setenv("TARSK4_MACHINE", nowhere.c_str(), 1);
    result = run_host({TARSK4_PROGRAM});
    EXPECT_EQ(3, result.code);
    EXPECT_EQ("tarsk4: the machine folder " + nowhere + " does not exist or is not a folder\n",
              result.err);
}

TEST_F(Entry, KeysLeftOpenFailTheRun) {
    /* Every close fails: whatever key the run opens stays open. */
    write_host(machine_file("machine.ini"),
               "[machine]\nfamily=nt40\nsleep=skip\n[faults]\nRegCloseKey 1 6 for_good\n");
    setenv("TARSK4_MACHINE", dir_.c_str(), 1);
    RunResult result = run_host({TARSK4_PROGRAM});
    EXPECT_EQ(70, result.code);
    size_t report = result.err.rfind("sim: ");
    ASSERT_NE(std::string::npos, report) << result.err;
    EXPECT_EQ(" registry key(s) and 0 file(s) left open\n",
              result.err.substr(result.err.find(' ', report + 5)));
    /* The console streams are Windows text. */
    EXPECT_NE(std::string::npos, result.out.find("\r\n")) << result.out;
    EXPECT_EQ(std::string::npos, result.out.find("\r\r")) << result.out;
}

TEST_F(Entry, ACleanRunEndsWithTheProgramsCode) {
    setenv("TARSK4_MACHINE", dir_.c_str(), 1);
    RunResult result = run_host({TARSK4_PROGRAM});
    EXPECT_EQ(0, result.code) << result.err;
    EXPECT_EQ(std::string::npos, result.err.find("left open")) << result.err;
}
