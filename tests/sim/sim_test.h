/* A fresh simulated machine in a temporary folder for each test, and the
 * helpers to plant and read its files from the host side. */
#ifndef TARSK4_TESTS_SIM_TEST_H
#define TARSK4_TESTS_SIM_TEST_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim_internal.h"

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* Replaces the machine with a fresh one of `family`, loaded. */
    void use_family(const char *family);
    /* Loads the folder again, as the next run of a program would. */
    void reload();

    /* Host side of a path below C: given with '/' ("WINNT/X.TXT"). */
    std::string host(const std::string &below_c) const;
    void put(const std::string &below_c, const std::string &bytes);
    std::string get(const std::string &below_c) const;
    bool exists(const std::string &below_c) const;
    void make_dir(const std::string &below_c);
    std::string machine_file(const char *name) const;

    std::string root_; /* the temporary folder */
    std::string dir_;  /* the machine folder inside it */
};

/* Whole host files. */
std::string read_host(const std::string &path);
void write_host(const std::string &path, const std::string &bytes);

/* What a child process printed, its wait status, and its exit code (-1
 * when a signal ended it). */
struct RunResult {
    int code;
    int status;
    std::string out, err;
};

/* Runs `child` in a forked process with stdout and stderr on pipes. A child
 * that blocks for good is ended (SIGKILL) once `err_until` is on stderr. */
RunResult run_forked(const std::function<void()> &child, const char *err_until);

/* Runs a host program (argv[0] is its path) with the environment as it is. */
RunResult run_host(const std::vector<std::string> &argv);

/* The reference CRC-32, bit by bit, to check the tool's forged files. */
uint32_t reference_crc32(const std::string &bytes);

#endif
