#include <gtest/gtest.h>

#include "run/association.h"
#include "run/reporting.h"
#include "test_machine.h"

/* Keys from a script; -1 once it runs out, as when no console is left. */
struct ScriptedKeys {
    std::string keys;
    size_t next;
};

static int read_scripted_key(void *context) {
    ScriptedKeys *script = (ScriptedKeys *)context;
    if (script->next >= script->keys.size())
        return -1;
    return (unsigned char)script->keys[script->next++];
}

TEST(YesNo, OnlyLatinYAndNAnswer) {
    struct {
        const char *keys;
        int answer;
        size_t keys_used;
    } cases[] = {
        {"y", 'Y', 1},
        {"Y", 'Y', 1},
        {"n", 'N', 1},
        {"N", 'N', 1},
        {"\r\x1B x?n", 'N', 6},
        {"\x03y", 'Y', 2},         /* Ctrl+C is an ordinary key here */
        {"\xED\xF3\xE4y", 'Y', 4}, /* letters of another alphabet */
        {"", -1, 0},
        {"abc", -1, 3},
        {"yn", 'Y', 1},
    };
    for (const auto &c : cases) {
        ScriptedKeys script = {c.keys, 0};
        EXPECT_EQ(c.answer, wait_for_yes_no(read_scripted_key, &script)) << c.keys;
        EXPECT_EQ(c.keys_used, script.next) << c.keys;
    }
}

class Association : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_machine_start());
        run_counters_reset();
        capture_start(false);
    }
    void TearDown() override {
        capture_stop();
        test_machine_stop();
    }
};

static bool set_association(const char *value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", 0, KEY_ALL_ACCESS,
                      &key) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueA(key, NULL, REG_SZ, value, (DWORD)strlen(value));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

static std::string association(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return "<no key>";
    char value[1024];
    LONG size = sizeof value;
    LONG status = RegQueryValueA(key, NULL, value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(value) : "<unreadable>";
}

TEST_F(Association, DecisionsOnTheValueAndTheAnswer) {
    static const char worm_value[] = "C:\\WINNT\\SYSTEM32\\WINSVRC.EXE \"%1\" %*";
    static const char question[] =
        "Do you want to repair registry value to default [\"%1\" %*] ? (Y/N)\n";
    struct {
        const char *value;
        const char *keys;
        const char *result;
        const char *value_after;
        bool pass_enabled;
        const char *err;
    } cases[] = {
        {"\"%1\" %*", "", "Registry value is correct. Nothing to repair.\n", "\"%1\" %*", true, ""},
        {worm_value, "xy", "Registry value repaired.\n", "\"%1\" %*", true, ""},
        {worm_value, "n", "Registry value not repaired (canceled).\n", worm_value, false, ""},
        {"c:\\winnt\\system32\\WinSvrc.exe %1", "N", "Registry value not repaired (canceled).\n",
         "c:\\winnt\\system32\\WinSvrc.exe %1", false, ""},
        {"%1 %*", "n", "Registry value not repaired (canceled).\n", "%1 %*", true, ""},
        {"\"%1\"  %*", "Y", "Registry value repaired.\n", "\"%1\" %*", true, ""},
        {"\"%1\" %* ", "y", "Registry value repaired.\n", "\"%1\" %*", true, ""},
        {"", "y", "Registry value repaired.\n", "\"%1\" %*", true, ""},
        {worm_value, "", "Registry value not repaired (canceled).\n", worm_value, false,
         "Error: No console to answer from; taken as N."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        ASSERT_TRUE(set_association(c.value));
        run_counters_reset();
        capture_stop();
        capture_start(false);
        ScriptedKeys script = {c.keys, 0};
        EXPECT_EQ(0, check_exe_association_with(read_scripted_key, &script));
        std::string expected = std::string("1) Checking key [HKCR\\exefile\\shell\\open\\command]\n"
                                           "Registry key value=[") +
                               c.value + "]\n";
        if (strcmp(c.value, "\"%1\" %*") != 0)
            expected += question;
        expected += c.result;
        EXPECT_EQ(expected, captured_out());
        EXPECT_EQ(c.err, captured_err());
        EXPECT_EQ(c.value_after, association());
        EXPECT_EQ(c.pass_enabled, run_counters.worm_pass_enabled);
        EXPECT_EQ(0, run_counters.error_count);
        EXPECT_EQ(0, run_counters.repair_count);
    }
}

TEST_F(Association, ValueLengthLimit) {
    std::string longest(199, 'a');
    ASSERT_TRUE(set_association(longest.c_str()));
    ScriptedKeys script = {"n", 0};
    EXPECT_EQ(0, check_exe_association_with(read_scripted_key, &script));
    EXPECT_NE(std::string::npos, captured_out().find("[" + longest + "]\n"));

    std::string too_long(200, 'a');
    ASSERT_TRUE(set_association(too_long.c_str()));
    run_counters_reset();
    capture_stop();
    capture_start(false);
    EXPECT_EQ(2, check_exe_association_with(read_scripted_key, &script));
    EXPECT_EQ("1) Checking key [HKCR\\exefile\\shell\\open\\command]\n", captured_out());
    EXPECT_EQ("Error: Cannot query registry key value", captured_err());
}

/* The registry may hand back a text without its terminator; the value shown
 * still ends where the stored bytes end. 200 such bytes fill the buffer: the
 * simulated machine returns them as stored, as Windows may; Wine adds a
 * terminator and asks for 201 bytes, which ends the run with exit code 2. */
TEST_F(Association, UnterminatedValueEndsInsideTheBuffer) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", 0,
                                           KEY_ALL_ACCESS, &key));
    for (size_t length : {3u, 199u, 200u}) {
        std::string text(length, 'q');
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE *)text.data(), (DWORD)length));
        run_counters_reset();
        capture_stop();
        capture_start(false);
        ScriptedKeys script = {"n", 0};
        int code = check_exe_association_with(read_scripted_key, &script);
        if (length == 200 && code == 2) {
            EXPECT_EQ("Error: Cannot query registry key value", captured_err());
            continue;
        }
        EXPECT_EQ(0, code) << length;
        EXPECT_NE(std::string::npos, captured_out().find("Registry key value=[" + text + "]\n"))
            << length;
    }
    RegCloseKey(key);
}
