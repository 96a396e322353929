/* What the unit tests need of a machine: a fresh one for each test, a
 * scratch folder on it, and a way to capture the program's output. The
 * simulated machine and a real Windows each have their own fixture file. */
#ifndef TARSK4_TESTS_TEST_MACHINE_H
#define TARSK4_TESTS_TEST_MACHINE_H

#include <string>

#include "platform.h"

/* A fresh machine of the NT family with an empty scratch folder. */
bool test_machine_start(void);
void test_machine_stop(void);

/* The scratch folder's Windows path, without a trailing backslash. */
const std::string &test_folder(void);
bool test_make_folder(const std::string &path);

/* Whole files, bytes as they are on disk. */
bool test_put_file(const std::string &path, const std::string &bytes);
bool test_get_file(const std::string &path, std::string *bytes);
bool test_file_exists(const std::string &path);

/* Captures what the program writes to its log and error streams. */
void capture_start(bool out_is_console);
std::string captured_out(void);
std::string captured_err(void);
void capture_stop(void);

#endif
