/* The Reg* functions: results and error codes as on Windows NT, and the
 * REGEDIT4 file behind them. */
#include <string.h>

#include <string>

#include "sim_test.h"

static const char planted_registry[] =
    "REGEDIT4\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\n"
    "@=\"\\\"%1\\\" %*\"\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\unterminated]\n"
    "@=hex(1):41,42\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\numbered]\n"
    "@=dword:0000001f\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\nodefault]\n"
    "\"other\"=\"x\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
    "\"SystemTray\"=\"SysTray.Exe\"\n"
    "\"winsvrc.vxd\"=\"C:\\\\WINNT\\\\SYSTEM32\\\\WINSVRC.VXD\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\n";

static const char run_key[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class Registry : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        write_host(machine_file("registry.reg"), planted_registry);
        reload();
    }
    void deny_run_key() {
        sim.deny_full_access.push_back(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    }
};

struct OpenCase {
    HKEY root;
    const char *sub_key;
    REGSAM access;
    bool deny_run;
    LONG expected;
};

TEST_F(Registry, OpenKeyResults) {
    const HKEY bogus = (HKEY)(intptr_t)0x1234;
    const OpenCase cases[] = {
        {HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", KEY_READ, false, ERROR_SUCCESS},
        {HKEY_CLASSES_ROOT, "EXEFILE\\Shell\\OPEN\\Command", KEY_ALL_ACCESS, false, ERROR_SUCCESS},
        {HKEY_CLASSES_ROOT, "exefile\\shell\\edit", KEY_READ, false, ERROR_FILE_NOT_FOUND},
        {HKEY_CURRENT_USER, "exefile", KEY_READ, false, ERROR_FILE_NOT_FOUND},
        {HKEY_LOCAL_MACHINE, run_key, KEY_ALL_ACCESS, false, ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, run_key, KEY_ALL_ACCESS, true, ERROR_ACCESS_DENIED},
        {HKEY_LOCAL_MACHINE, run_key, KEY_SET_VALUE, true, ERROR_ACCESS_DENIED},
        {HKEY_LOCAL_MACHINE, run_key, KEY_READ, true, ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, run_key, KEY_QUERY_VALUE, true, ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "software\\microsoft", KEY_ALL_ACCESS, true, ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, NULL, KEY_READ, false, ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "", KEY_READ, false, ERROR_SUCCESS},
        {bogus, "SOFTWARE", KEY_READ, false, ERROR_INVALID_HANDLE},
    };
    for (const OpenCase &c : cases) {
        SCOPED_TRACE(c.sub_key ? c.sub_key : "(null)");
        sim.deny_full_access.clear();
        if (c.deny_run)
            deny_run_key();
        HKEY key = bogus;
        EXPECT_EQ(c.expected, RegOpenKeyExA(c.root, c.sub_key, 0, c.access, &key));
        if (c.expected == ERROR_SUCCESS) {
            EXPECT_EQ(1, sim_open_key_count());
            EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
        } else {
            EXPECT_EQ(nullptr, key);
        }
        EXPECT_EQ(0, sim_open_key_count());
    }
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, KEY_READ, NULL));
}

TEST_F(Registry, HandlesAreCountedAndClosedOnce) {
    HKEY first, second, again;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, KEY_READ, &first));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(first, NULL, 0, KEY_READ, &second));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(first, "", 0, KEY_READ, &again));
    EXPECT_NE(first, second);
    EXPECT_NE(second, again);
    EXPECT_EQ(3, sim_open_key_count());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(second));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(second));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
    EXPECT_EQ(1, sim_open_key_count());
    /* The new handle reads the same key as the one it came from. */
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(first, "SystemTray", NULL, NULL, NULL, &size));
    EXPECT_EQ(12u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(first));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CLASSES_ROOT));
    EXPECT_EQ(0, sim_open_key_count());
}

struct QueryCase {
    const char *sub_key;
    LONG buffer_size; /* -1: no buffer */
    LONG expected;
    LONG size_after;
    const char *bytes; /* what lands in the buffer, size_after bytes */
};

TEST_F(Registry, QueryValueReadsTheDefaultValueAsStored) {
    const QueryCase cases[] = {
        {"exefile\\shell\\open\\command", 64, ERROR_SUCCESS, 8, "\"%1\" %*\0"},
        {"exefile\\shell\\open\\command", -1, ERROR_SUCCESS, 8, NULL},
        {"exefile\\shell\\open\\command", 8, ERROR_SUCCESS, 8, "\"%1\" %*\0"},
        {"exefile\\shell\\open\\command", 7, ERROR_MORE_DATA, 8, NULL},
        {"exefile\\shell\\open\\command", 0, ERROR_MORE_DATA, 8, NULL},
        {"unterminated", 64, ERROR_SUCCESS, 2, "AB"},
        {"numbered", 64, ERROR_SUCCESS, 4, "\x1f\0\0\0"},
        {"nodefault", 64, ERROR_SUCCESS, 1, "\0"},
        {"exefile\\shell\\open\\missing", 64, ERROR_FILE_NOT_FOUND, 64, NULL},
    };
    for (const QueryCase &c : cases) {
        SCOPED_TRACE(std::string(c.sub_key) + " size " + std::to_string(c.buffer_size));
        char buffer[64];
        memset(buffer, '#', sizeof buffer);
        LONG size = c.buffer_size < 0 ? 0 : c.buffer_size;
        EXPECT_EQ(c.expected, RegQueryValueA(HKEY_CLASSES_ROOT, c.sub_key,
                                             c.buffer_size < 0 ? NULL : buffer, &size));
        EXPECT_EQ(c.size_after, size);
        if (c.bytes != NULL && c.buffer_size >= 0) {
            EXPECT_EQ(std::string(c.bytes, (size_t)c.size_after),
                      std::string(buffer, (size_t)c.size_after));
            /* Nothing is added after the stored bytes. */
            EXPECT_EQ('#', buffer[c.size_after]);
        }
    }
}

TEST_F(Registry, QueryValueOnAnOpenKeyWithoutSubKey) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", 0, KEY_READ, &key));
    for (const char *sub_key : {(const char *)NULL, ""}) {
        char buffer[32];
        LONG size = sizeof buffer;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueA(key, sub_key, buffer, &size));
        EXPECT_EQ(8, size);
        EXPECT_STREQ("\"%1\" %*", buffer);
    }
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    LONG size = 0;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueA(key, NULL, NULL, &size));
}

struct QueryExCase {
    const char *name;
    DWORD buffer_size; /* 0xFFFFFFFF: no buffer */
    LONG expected;
    DWORD size_after;
    DWORD type_after;
};

TEST_F(Registry, QueryValueExResults) {
    const DWORD none = 0xFFFFFFFFu, untouched = 0xDEADu;
    const QueryExCase cases[] = {
        {"SystemTray", 64, ERROR_SUCCESS, 12, REG_SZ},
        {"SYSTEMTRAY", 64, ERROR_SUCCESS, 12, REG_SZ},
        {"SystemTray", 12, ERROR_SUCCESS, 12, REG_SZ},
        {"SystemTray", 11, ERROR_MORE_DATA, 12, REG_SZ},
        {"SystemTray", none, ERROR_SUCCESS, 12, REG_SZ},
        {"winsvrc.vxd", 64, ERROR_SUCCESS, 30, REG_SZ},
        {"Win32BaseServiceMOD", 64, ERROR_FILE_NOT_FOUND, 64, untouched},
        {NULL, 64, ERROR_FILE_NOT_FOUND, 64, untouched},
        {"", 64, ERROR_FILE_NOT_FOUND, 64, untouched},
    };
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, KEY_READ, &key));
    for (const QueryExCase &c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        BYTE buffer[64];
        DWORD size = c.buffer_size == none ? 0 : c.buffer_size, type = untouched;
        EXPECT_EQ(c.expected, RegQueryValueExA(key, c.name, NULL, &type,
                                               c.buffer_size == none ? NULL : buffer, &size));
        EXPECT_EQ(c.size_after, size);
        EXPECT_EQ(c.type_after, type);
    }
    DWORD reserved = 0, size = 64;
    BYTE buffer[64];
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key, "SystemTray", &reserved, NULL, buffer, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key, "SystemTray", NULL, NULL, buffer, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));

    /* The default value of a key that has one, by NULL or "". */
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "unterminated", 0, KEY_READ, &key));
    for (const char *name : {(const char *)NULL, ""}) {
        DWORD type = 0;
        size = sizeof buffer;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, name, NULL, &type, buffer, &size));
        EXPECT_EQ(2u, size);
        EXPECT_EQ((DWORD)REG_SZ, type);
    }
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(Registry, ReadingNeedsQueryAccess) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, KEY_SET_VALUE, &key));
    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(key, "SystemTray", NULL, NULL, NULL, &size));
    LONG short_size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueA(key, NULL, NULL, &short_size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

struct SetCase {
    REGSAM access;
    const char *sub_key;
    DWORD type;
    const char *data;
    LONG expected;
};

TEST_F(Registry, SetValueStoresTheWholeString) {
    const SetCase cases[] = {
        {KEY_ALL_ACCESS, NULL, REG_SZ, "\"%1\" %*", ERROR_SUCCESS},
        {KEY_SET_VALUE, NULL, REG_SZ, "plain", ERROR_SUCCESS},
        {KEY_READ, NULL, REG_SZ, "refused", ERROR_ACCESS_DENIED},
        {KEY_ALL_ACCESS, NULL, REG_BINARY, "wrong type", ERROR_INVALID_PARAMETER},
        {KEY_ALL_ACCESS, NULL, REG_EXPAND_SZ, "wrong type", ERROR_INVALID_PARAMETER},
        {KEY_ALL_ACCESS, NULL, REG_SZ, NULL, ERROR_INVALID_PARAMETER},
        {KEY_ALL_ACCESS, "newsub", REG_SZ, "made below", ERROR_SUCCESS},
    };
    for (const SetCase &c : cases) {
        SCOPED_TRACE(c.data ? c.data : "(null)");
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command",
                                               0, c.access, &key));
        std::string before = read_host(machine_file("registry.reg"));
        /* The size passed is ignored: the string's length counts. */
        EXPECT_EQ(c.expected, RegSetValueA(key, c.sub_key, c.type, c.data, 2));
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
        if (c.expected != ERROR_SUCCESS) {
            EXPECT_EQ(before, read_host(machine_file("registry.reg")));
            continue;
        }
        std::string path = std::string("exefile\\shell\\open\\command") +
                           (c.sub_key ? std::string("\\") + c.sub_key : "");
        char buffer[64];
        LONG size = sizeof buffer;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueA(HKEY_CLASSES_ROOT, path.c_str(), buffer, &size));
        EXPECT_EQ((LONG)strlen(c.data) + 1, size);
        EXPECT_STREQ(c.data, buffer);
        /* Written back at once, and read again by the next run. */
        reload();
        size = sizeof buffer;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueA(HKEY_CLASSES_ROOT, path.c_str(), buffer, &size));
        EXPECT_STREQ(c.data, buffer);
    }
}

TEST_F(Registry, SetValueOnADeniedKeyThroughItsParent) {
    deny_run_key();
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows", 0,
                                           KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueA(key, "CurrentVersion\\Run", REG_SZ, "x", 0));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

struct DeleteCase {
    REGSAM access;
    const char *name;
    LONG expected;
};

TEST_F(Registry, DeleteValueResults) {
    const DeleteCase cases[] = {
        {KEY_READ, "winsvrc.vxd", ERROR_ACCESS_DENIED},
        {KEY_ALL_ACCESS, "Win32BaseServiceMOD", ERROR_FILE_NOT_FOUND},
        {KEY_ALL_ACCESS, "WINSVRC.VXD", ERROR_SUCCESS},
        {KEY_ALL_ACCESS, "winsvrc.vxd", ERROR_FILE_NOT_FOUND},
        {KEY_SET_VALUE, "SystemTray", ERROR_SUCCESS},
    };
    for (const DeleteCase &c : cases) {
        SCOPED_TRACE(c.name);
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, c.access, &key));
        EXPECT_EQ(c.expected, RegDeleteValueA(key, c.name));
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    }
    std::string file = read_host(machine_file("registry.reg"));
    EXPECT_EQ(std::string::npos, file.find("winsvrc.vxd"));
    EXPECT_EQ(std::string::npos, file.find("SystemTray"));
    EXPECT_NE(std::string::npos,
              file.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]"));
}

TEST_F(Registry, SetValueExKeepsTheBytesGiven) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "raw", 0, REG_SZ, (const BYTE *)"abc", 3));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_NE(std::string::npos,
              read_host(machine_file("registry.reg")).find("\"raw\"=hex(1):61,62,63\n"));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(key, "raw", 0, REG_SZ, (const BYTE *)"x", 2));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

/* ---- REGEDIT4 ---------------------------------------------------------- */

static const char round_trip_text[] =
    "REGEDIT4\r\n"
    "\r\n"
    "; a comment\r\n"
    "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
    "@=\"default\"\r\n"
    "\"quote\\\"back\\\\\"=\"C:\\\\DIR\\\\\\\"Q\\\"\"\r\n"
    "\"unterminated\"=hex(1):41,42,43\r\n"
    "\"list\"=hex(7):61,00,62,63,00,00\r\n"
    "\"number\"=dword:0000001f\r\n"
    "\"blob\"=hex:00,01,ff\r\n"
    "\"expand\"=hex(2):25,41,25,00\r\n"
    "\"empty\"=hex:\r\n"
    "\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23\r\n"
    "\r\n"
    "[hkey_local_machine\\SOFTWARE\\gone\\below]\r\n"
    "\"x\"=\"y\"\r\n"
    "\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\gone]\r\n"
    "\r\n"
    "[HKEY_USERS\\.DEFAULT]\r\n"
    "\"dropped\"=\"soon\"\r\n"
    "\"dropped\"=-\r\n";

struct ValueCase {
    const char *name;
    DWORD type;
    std::string bytes;
};

TEST_F(Registry, Regedit4ValuesAreReadExactly) {
    std::string error;
    ASSERT_TRUE(sim_reg_parse(round_trip_text, &error)) << error;
    std::string long_bytes;
    for (int i = 0; i < 0x24; i++)
        long_bytes += (char)i;
    const ValueCase cases[] = {
        {"", REG_SZ, std::string("default\0", 8)},
        {"QUOTE\"BACK\\", REG_SZ, std::string("C:\\DIR\\\"Q\"\0", 11)},
        {"unterminated", REG_SZ, "ABC"},
        {"list", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"number", REG_DWORD, std::string("\x1f\0\0\0", 4)},
        {"blob", REG_BINARY, std::string("\0\x01\xff", 3)},
        {"expand", REG_EXPAND_SZ, std::string("%A%\0", 4)},
        {"empty", REG_BINARY, ""},
        {"long", REG_BINARY, long_bytes},
    };
    SimNode *node = sim_reg_find(sim_reg_root(SIM_ROOT_USER), "software\\TEST");
    ASSERT_NE(nullptr, node);
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(c.name);
        const SimValue *value = sim_reg_find_value(node, c.name);
        ASSERT_NE(nullptr, value);
        EXPECT_EQ(c.type, value->type);
        EXPECT_EQ(c.bytes, std::string(value->data.begin(), value->data.end()));
    }
    EXPECT_EQ(nullptr, sim_reg_find(sim_reg_root(SIM_ROOT_MACHINE), "SOFTWARE\\gone"));
    SimNode *users = sim_reg_find(sim_reg_root(SIM_ROOT_USERS), ".DEFAULT");
    ASSERT_NE(nullptr, users);
    EXPECT_TRUE(users->values.empty());
}

TEST_F(Registry, Regedit4WritesWhatItReads) {
    std::string error;
    ASSERT_TRUE(sim_reg_parse(round_trip_text, &error)) << error;
    std::string written = sim_reg_format(false);
    const char *const expected_lines[] = {
        "REGEDIT4\n\n",
        "\n[HKEY_CURRENT_USER\\Software\\Test]\n@=\"default\"\n",
        "\n\"quote\\\"back\\\\\"=\"C:\\\\DIR\\\\\\\"Q\\\"\"\n",
        "\n\"unterminated\"=hex(1):41,42,43\n",
        "\n\"list\"=hex(7):61,00,62,63,00,00\n",
        "\n\"number\"=dword:0000001f\n",
        "\n\"blob\"=hex:00,01,ff\n",
        "\n\"empty\"=hex:\n",
        "\n\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n  "
        "16,17,",
    };
    for (const char *line : expected_lines)
        EXPECT_NE(std::string::npos, written.find(line)) << line << "\nin\n" << written;
    ASSERT_TRUE(sim_reg_parse(written, &error)) << error;
    EXPECT_EQ(written, sim_reg_format(false));
}

TEST_F(Registry, StringsThatCannotBeQuotedAreWrittenAsHex) {
    SimNode *node = sim_reg_create(sim_reg_root(SIM_ROOT_USER), "Software\\Odd");
    const struct {
        const char *name;
        std::string bytes;
        const char *line;
    } cases[] = {
        {"plain", std::string("ok\0", 3), "\"plain\"=\"ok\"\n"},
        {"inner", std::string("a\0b\0", 4), "\"inner\"=hex(1):61,00,62,00\n"},
        {"newline", std::string("a\nb\0", 4), "\"newline\"=hex(1):61,0a,62,00\n"},
        {"nothing", "", "\"nothing\"=hex(1):\n"},
    };
    for (const auto &c : cases)
        sim_reg_set_value(node, c.name, REG_SZ, (const BYTE *)c.bytes.data(), c.bytes.size());
    std::string written = sim_reg_format(false);
    for (const auto &c : cases)
        EXPECT_NE(std::string::npos, written.find(c.line)) << c.line;
    std::string error;
    ASSERT_TRUE(sim_reg_parse(written, &error)) << error;
    node = sim_reg_find(sim_reg_root(SIM_ROOT_USER), "Software\\Odd");
    ASSERT_NE(nullptr, node);
    for (const auto &c : cases) {
        const SimValue *value = sim_reg_find_value(node, c.name);
        ASSERT_NE(nullptr, value) << c.name;
        EXPECT_EQ(c.bytes, std::string(value->data.begin(), value->data.end())) << c.name;
    }
}

TEST_F(Registry, Regedit4ErrorsNameTheLine) {
    const struct {
        const char *text;
        const char *error;
    } cases[] = {
        {"Windows Registry Editor Version 5.00\n", "line 1: the file must begin with REGEDIT4"},
        {"REGEDIT4\n\n\"a\"=\"b\"\n", "line 3: a value outside any key"},
        {"REGEDIT4\n\n[HKEY_NOWHERE\\x]\n", "line 3: unknown root key"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\x]\n\"a\"=dword:123456789\n",
         "line 4: cannot read the value's data"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\x]\n\"a\"=hex:zz\n", "line 4: cannot read"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\x]\n\"a\"=\"open\n", "line 4: cannot read"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\x\n", "line 3: a key name lacks"},
    };
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(sim_reg_parse(c.text, &error)) << c.text;
        EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    }
}
