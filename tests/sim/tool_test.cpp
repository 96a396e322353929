/* tarsk4-machine, run as a person (or a scenario) runs it. */
#include <string.h>

#include <string>
#include <vector>

#include "machine_tool.h"
#include "sim_test.h"

typedef RunResult ToolResult;

static ToolResult run_tool(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {TARSK4_MACHINE_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_host(argv);
}

class Tool : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        /* The tool works on the folder; the test looks at it afterwards. */
        sim_machine_unload();
    }
    ToolResult tool(std::vector<std::string> args) {
        if (!args.empty() && args[0] != "create" && args[0] != "make-worm-file")
            args.insert(args.begin() + 1, dir_);
        return run_tool(args);
    }
    void ok(std::vector<std::string> args) {
        ToolResult result = tool(args);
        ASSERT_EQ(0, result.code) << args[0] << ": " << result.err;
    }
    void load() {
        char error[512] = "";
        ASSERT_TRUE(sim_machine_load(dir_.c_str(), error, sizeof error)) << error;
    }
    std::string make_machine(const char *family) {
        static int count;
        dir_ = root_ + "/tool-" + family + "-" + std::to_string(++count);
        ToolResult result = run_tool({"create", dir_, family});
        EXPECT_EQ(0, result.code) << result.err;
        return dir_;
    }
};

TEST_F(Tool, BadArgumentsGiveTheUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"bogus"},
        {"create"},
        {"create", "/tmp/x"},
        {"show"},
        {"reg-set", "DIR", "HKCU\\X", "v", "qword", "1"},
        {"reg-set", "DIR", "HKCU\\X", "v", "dword", "twelve"},
        {"reg-set", "DIR", "HKCU\\X", "v", "hex", "zz"},
        {"reg-query", "DIR", "HKCU\\X", "v", "--raw"},
        {"put-file", "DIR", "C:\\X"},
        {"put-file", "DIR", "C:\\X", "--bytes", "abc"},
        {"put-file", "DIR", "C:\\X", "--paste", "x"},
        {"attrib", "DIR", "C:\\X", "hidden"},
        {"fault", "DIR", "DeleteFileA", "0", "5"},
        {"fault", "DIR", "DeleteFileA", "1", "5", "always"},
        {"make-worm-file", "/tmp/x", "big"},
        {"infect", "DIR", "--running"},
    };
    for (const auto &args : cases) {
        ToolResult result = run_tool(args);
        EXPECT_EQ(2, result.code) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(0u, result.err.find("usage: tarsk4-machine VERB")) << result.err;
    }
}

TEST_F(Tool, ErrorsAreSentences) {
    make_machine("nt40");
    const struct {
        std::vector<std::string> args;
        const char *error;
    } cases[] = {
        {{"show", root_ + "/none"}, "does not exist or is not a folder"},
        {{"create", dir_, "nt40"}, "already holds a machine"},
        {{"create", root_ + "/x", "vista"}, "unknown family 'vista'"},
        {{"reg-query", dir_, "HKCU\\Nothing", "v"}, "no key HKCU\\Nothing"},
        {{"reg-query", dir_, "HKLM\\SYSTEM", "v"}, "no value v in HKLM\\SYSTEM"},
        {{"reg-delete-key", dir_, "HKLM\\Nothing"}, "no key"},
        {{"reg-delete-value", dir_, "HKLM\\SYSTEM", "v"}, "no value"},
        {{"reg-set", dir_, "HKEY_NOWHERE\\X", "v", "sz", "x"}, "unknown root key"},
        {{"fault", dir_, "CreateProcessA", "1", "5"}, "not a function of the machine"},
        {{"attrib", dir_, "C:\\NOTHING", "1"}, "no file or folder C:\\NOTHING"},
        {{"release", dir_, "C:\\WINNT"}, "is not in use"},
        {{"cat", dir_, "C:\\WINNT"}, "no file C:\\WINNT"},
        {{"set", dir_, "sleep", "sometimes"}, "sleep is real or skip"},
        {{"set", dir_, "family", "vista"}, "unknown family"},
        {{"make-worm-file", root_ + "/small", "32767"}, "at least 32768 bytes"},
        {{"put-file", dir_, "D:\\X", "--text", "x"}, "not a path on drive C:"},
    };
    for (const auto &c : cases) {
        ToolResult result = run_tool(c.args);
        EXPECT_EQ(1, result.code) << c.args[0];
        EXPECT_EQ(0u, result.err.find("tarsk4-machine: ")) << result.err;
        EXPECT_NE(std::string::npos, result.err.find(c.error)) << result.err;
    }
}

TEST_F(Tool, WormFilesCarryTheSignature) {
    const struct {
        const char *size; /* NULL: the default */
        size_t bytes;
    } cases[] = {{NULL, 40000}, {"32768", 32768}, {"50000", 50000}, {"0x9000", 0x9000}};
    for (const auto &c : cases) {
        std::string path = root_ + "/worm.bin";
        std::vector<std::string> args = {"make-worm-file", path};
        if (c.size)
            args.push_back(c.size);
        ToolResult result = run_tool(args);
        ASSERT_EQ(0, result.code) << result.err;
        std::string bytes = read_host(path);
        ASSERT_EQ(c.bytes, bytes.size());
        EXPECT_EQ(0xEDE3E41Du, reference_crc32(bytes.substr(0, 32768)));
        EXPECT_EQ(0u, bytes.find("TARSK4 TEST FILE - NOT A PROGRAM\r\n"));
        /* Only the window's last four bytes differ from the filler. */
        std::string filler;
        while (filler.size() < bytes.size())
            filler += "TARSK4 TEST FILE - NOT A PROGRAM\r\n";
        filler.resize(bytes.size());
        EXPECT_EQ(filler.substr(0, 32764), bytes.substr(0, 32764));
        EXPECT_EQ(filler.substr(32768), bytes.substr(32768));
    }
    /* The tool's own CRC agrees with the reference. */
    EXPECT_EQ(0xCBF43926u, machine_crc32("123456789", 9));
}

TEST_F(Tool, CreateAndInfectEachFamily) {
    const struct {
        const char *family;
        const char *system_dir;
    } cases[] = {
        {"95", "C:\\WINDOWS\\SYSTEM"},
        {"me", "C:\\WINDOWS\\SYSTEM"},
        {"nt40", "C:\\WINNT\\SYSTEM32"},
        {"10", "C:\\WINDOWS\\SYSTEM32"},
    };
    const std::string command_key = "HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command";
    const std::string run_key =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.family);
        make_machine(c.family);
        const std::string sys = c.system_dir;
        EXPECT_EQ("sz \"%1\" %*\n", tool({"reg-query", command_key, "@"}).out);
        EXPECT_EQ("sz SysTray.Exe\n", tool({"reg-query", run_key, "SystemTray"}).out);
        EXPECT_EQ(1, tool({"reg-query", run_key, "winsvrc.vxd"}).code);
        load();
        EXPECT_NE(nullptr, sim_reg_find(sim_reg_root(SIM_ROOT_MACHINE),
                                        "SYSTEM\\CurrentControlSet\\Control\\Session Manager"));
        sim_machine_unload();

        ok({"infect", "--in-use"});
        EXPECT_EQ("sz " + sys + "\\WINSVRC.EXE \"%1\" %*\n",
                  tool({"reg-query", command_key, "@"}).out);
        EXPECT_EQ("sz " + sys + "\\WINSVRC.VXD\n", tool({"reg-query", run_key, "winsvrc.vxd"}).out);
        EXPECT_EQ("sz " + sys + "\\WINSVRC.EXE\n",
                  tool({"reg-query", run_key, "Win32BaseServiceMOD"}).out);
        load();
        for (const char *name : {"\\WINSVRC.EXE", "\\WINSVRC.VXD"}) {
            SimPath path = sim_resolve((sys + name).c_str());
            ASSERT_EQ(SIM_PATH_FOUND, path.status) << name;
            std::string bytes = read_host(path.host);
            EXPECT_EQ(40000u, bytes.size());
            EXPECT_EQ(0xEDE3E41Du, reference_crc32(bytes.substr(0, 32768)));
        }
        ASSERT_EQ(1u, sim.in_use.size());
        EXPECT_EQ(sys + "\\WINSVRC.EXE", sim.in_use[0]);
        sim_machine_unload();
    }
}

TEST_F(Tool, RegistryValuesInAndOut) {
    make_machine("xp");
    const std::string key = "HKCU\\Software\\Test";
    const struct {
        const char *name;
        const char *type;
        const char *data;
        const char *shown;
        const char *hex;
    } cases[] = {
        {"@", "sz", "C:\\X \"%1\"", "sz C:\\X \"%1\"", "hex(1) 43,3a,5c,58,20,22,25,31,22,00"},
        {"empty", "sz", "", "sz ", "hex(1) 00"},
        {"count", "dword", "31", "dword 0x0000001f", "hex(4) 1f,00,00,00"},
        {"big", "dword", "0xffffffff", "dword 0xffffffff", "hex(4) ff,ff,ff,ff"},
        {"list", "multi", "a|bc", "multi a|bc", "hex(7) 61,00,62,63,00,00"},
        {"pending", "multi", "\\??\\C:\\X|", "multi \\??\\C:\\X|",
         "hex(7) 5c,3f,3f,5c,43,3a,5c,58,00,00,00"},
        {"nolist", "multi", "", "multi ", "hex(7) 00"},
        {"blob", "hex", "00,ff", "hex 00,ff", "hex(3) 00,ff"},
        {"raw", "hex(1)", "41,42", "hex(1) 41,42", "hex(1) 41,42"},
        {"path", "expand", "%SystemRoot%", "expand %SystemRoot%",
         "hex(2) 25,53,79,73,74,65,6d,52,6f,6f,74,25,00"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ok({"reg-set", key, c.name, c.type, c.data});
        ToolResult shown = tool({"reg-query", key, c.name});
        EXPECT_EQ(0, shown.code);
        EXPECT_EQ(std::string(c.shown) + "\n", shown.out);
        EXPECT_EQ(std::string(c.hex) + "\n", tool({"reg-query", key, c.name, "--hex"}).out);
    }
    ok({"reg-delete-value", key, "count"});
    EXPECT_EQ(1, tool({"reg-query", key, "count"}).code);
    ok({"reg-delete-key", "HKCU\\Software"});
    EXPECT_EQ(1, tool({"reg-query", key, "list"}).code);
    load();
    EXPECT_EQ(nullptr, sim_reg_find(sim_reg_root(SIM_ROOT_USER), "Software"));
}

TEST_F(Tool, PlantingFilesAndSettings) {
    make_machine("nt40");
    std::string from = root_ + "/from.bin";
    write_host(from, std::string("\0\x01\x02", 3));
    ok({"put-file", "C:\\New Dir\\Sub\\text.txt", "--text", "a\r\nb"});
    ok({"put-file", "c:\\new dir\\sub\\bytes.bin", "--bytes", "41,42 43"});
    ok({"put-file", "C:\\NEW DIR\\copy.bin", "--from", from});
    ok({"put-file", "C:\\WINNT\\worm.exe", "--worm", "33000"});
    ok({"mkdir", "C:\\Empty\\Deep"});
    ok({"mkdir", "C:\\Empty\\Deep"});
    ok({"attrib", "C:\\NEW DIR\\copy.bin", "23"});
    ok({"attrib", "C:\\Empty", "2"});
    ok({"in-use", "c:\\winnt\\WORM.EXE"});
    ok({"in-use", "C:\\WINNT\\other.exe"});
    ok({"release", "C:\\WINNT\\OTHER.EXE"});
    ok({"deny", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"});
    ok({"fault", "DeleteFileA", "2", "32"});
    ok({"fault", "fopen", "1", "5", "for_good"});
    ok({"set", "sleep", "skip"});
    ok({"set", "system_dir", "C:\\ELSEWHERE"});
    EXPECT_EQ("a\r\nb", tool({"cat", "C:\\New Dir\\Sub\\text.txt"}).out);

    EXPECT_EQ("a\r\nb", get("New Dir/Sub/text.txt"));
    EXPECT_EQ("ABC", get("New Dir/Sub/bytes.bin"));
    EXPECT_EQ(std::string("\0\x01\x02", 3), get("New Dir/copy.bin"));
    EXPECT_EQ(33000u, get("WINNT/worm.exe").size());
    EXPECT_TRUE(exists("Empty/Deep"));
    EXPECT_EQ("00000002 C:\\Empty\n"
              "00000023 C:\\New Dir\\copy.bin\n",
              read_host(machine_file("attributes")));
    load();
    EXPECT_EQ(0x23u, GetFileAttributesA("C:\\NEW DIR\\COPY.BIN"));
    EXPECT_EQ(0x12u, GetFileAttributesA("C:\\EMPTY"));
    ASSERT_EQ(1u, sim.in_use.size());
    EXPECT_EQ("C:\\WINNT\\worm.exe", sim.in_use[0]);
    ASSERT_EQ(1u, sim.deny_full_access.size());
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
              sim.deny_full_access[0]);
    EXPECT_FALSE(sim.sleep_real);
    EXPECT_EQ("C:\\ELSEWHERE", sim.system_dir);
    ASSERT_EQ(2u, sim.ini_faults.size());
    EXPECT_EQ("DeleteFileA", sim.ini_faults[0].function);
    EXPECT_TRUE(sim.ini_faults[1].for_good);
    EXPECT_EQ(nullptr, sim_fopen("C:\\NEW DIR\\copy.bin", "rb"));
    sim_faults_clear();
}

TEST_F(Tool, ShowIsCanonical) {
    make_machine("95");
    ok({"put-file", "C:\\WINDOWS\\b.txt", "--text", "123456789"});
    ok({"put-file", "C:\\WINDOWS\\A.TXT", "--text", ""});
    ok({"attrib", "C:\\WINDOWS\\b.txt", "21"});
    ok({"reg-set", "HKLM\\SOFTWARE\\Zeta", "z", "sz", "last"});
    ok({"reg-set", "HKLM\\SOFTWARE\\Zeta", "a", "dword", "1"});
    ToolResult result = tool({"show"});
    ASSERT_EQ(0, result.code) << result.err;
    const char *const expected[] = {
        "; machine.ini\n[machine]\nfamily=95\nwindows_dir=C:\\WINDOWS\n"
        "system_dir=C:\\WINDOWS\\SYSTEM\nsleep=real\n",
        "\n; registry\nREGEDIT4\n\n",
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta]\n\"a\"=dword:00000001\n\"z\"=\"last\"\n",
        "; drive C: attributes, size, CRC-32 of the first 32768 bytes, path\n"
        "00000010      <DIR>        - C:\\WINDOWS\n"
        "00000020          0 00000000 C:\\WINDOWS\\A.TXT\n"
        "00000021          9 cbf43926 C:\\WINDOWS\\b.txt\n"
        "00000010      <DIR>        - C:\\WINDOWS\\SYSTEM\n",
    };
    for (const char *part : expected)
        EXPECT_NE(std::string::npos, result.out.find(part)) << part << "\nin\n" << result.out;
    /* The same machine shows the same. */
    EXPECT_EQ(result.out, tool({"show"}).out);
}

TEST_F(Tool, RestartCarriesOutTheNtFamilysPendingOperations) {
    make_machine("nt40");
    ok({"infect", "--in-use"});
    ok({"attrib", "C:\\WINNT\\SYSTEM32\\WINSVRC.EXE", "27"});
    ok({"put-file", "C:\\WINNT\\new.txt", "--text", "new"});
    ok({"put-file", "C:\\WINNT\\old.txt", "--text", "old"});
    ok({"put-file", "C:\\WINNT\\keep.txt", "--text", "keep"});
    ok({"put-file", "C:\\WINNT\\there.txt", "--text", "there"});
    load();
    const DWORD delay = MOVEFILE_DELAY_UNTIL_REBOOT;
    ASSERT_TRUE(MoveFileExA("C:\\WINNT\\SYSTEM32\\WINSVRC.EXE", NULL, delay));
    ASSERT_TRUE(
        MoveFileExA("C:\\WINNT\\new.txt", "C:\\WINNT\\old.txt", delay | MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(MoveFileExA("C:\\WINNT\\keep.txt", "C:\\WINNT\\there.txt", delay));
    ASSERT_TRUE(MoveFileExA("C:\\WINNT\\SYSTEM32\\WINSVRC.VXD", "C:\\WINNT\\moved.vxd", delay));
    /* Gone before the restart: its operation has nothing to do. */
    ASSERT_TRUE(DeleteFileA("C:\\WINNT\\SYSTEM32\\WINSVRC.VXD"));
    sim_machine_unload();

    ToolResult result = tool({"restart"});
    ASSERT_EQ(0, result.code) << result.err;
    EXPECT_EQ("deleted C:\\WINNT\\SYSTEM32\\WINSVRC.EXE\n"
              "renamed C:\\WINNT\\new.txt to C:\\WINNT\\old.txt\n"
              "skipped C:\\WINNT\\keep.txt: the target exists\n"
              "skipped C:\\WINNT\\SYSTEM32\\WINSVRC.VXD: it does not exist\n",
              result.out);
    EXPECT_FALSE(exists("WINNT/SYSTEM32/WINSVRC.EXE"));
    EXPECT_EQ("new", get("WINNT/old.txt"));
    EXPECT_FALSE(exists("WINNT/new.txt"));
    EXPECT_EQ("keep", get("WINNT/keep.txt"));
    EXPECT_EQ("there", get("WINNT/there.txt"));
    EXPECT_EQ(1, tool({"reg-query", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                       "PendingFileRenameOperations"})
                     .code);
    load();
    EXPECT_TRUE(sim.in_use.empty());
    EXPECT_TRUE(sim.attributes.empty());
}

TEST_F(Tool, RestartCarriesOutWininitOnThe95Family) {
    make_machine("98");
    ok({"infect", "--in-use"});
    ok({"attrib", "C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE", "21"});
    ok({"put-file", "C:\\WINDOWS\\Long Name.txt", "--text", "long"});
    ok({"put-file", "C:\\WINDOWS\\target.txt", "--text", "old target"});
    ok({"put-file", "C:\\WINDOWS\\WININIT.BAK", "--text", "older"});
    ok({"put-file", "C:\\WINDOWS\\WININIT.INI", "--text",
        "[Settings]\r\nNUL=C:\\WINDOWS\\target.txt\r\n"
        "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE\r\n"
        "nul=C:\\WINDOWS\\SYSTEM\\WINSVRC.VXD\r\n"
        "C:\\WINDOWS\\TARGET.TXT=C:\\WINDOWS\\LONGNA~1.TXT\r\n"
        "NUL=C:\\WINDOWS\\MISSING.TXT\r\n"
        "[Other]\r\nNUL=C:\\WINDOWS\\WININIT.BAK\r\n"});
    ToolResult result = tool({"restart"});
    ASSERT_EQ(0, result.code) << result.err;
    EXPECT_EQ("deleted C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE\n"
              "deleted C:\\WINDOWS\\SYSTEM\\WINSVRC.VXD\n"
              "renamed C:\\WINDOWS\\Long Name.txt to C:\\WINDOWS\\TARGET.TXT\n"
              "skipped C:\\WINDOWS\\MISSING.TXT: it does not exist\n",
              result.out);
    EXPECT_FALSE(exists("WINDOWS/SYSTEM/WINSVRC.EXE"));
    EXPECT_FALSE(exists("WINDOWS/SYSTEM/WINSVRC.VXD"));
    EXPECT_FALSE(exists("WINDOWS/Long Name.txt"));
    load();
    SimPath target = sim_resolve("C:\\WINDOWS\\target.txt");
    ASSERT_EQ(SIM_PATH_FOUND, target.status);
    EXPECT_EQ("long", read_host(target.host));
    EXPECT_EQ(SIM_PATH_MISSING, sim_resolve("C:\\WINDOWS\\WININIT.INI").status);
    SimPath bak = sim_resolve("C:\\WINDOWS\\WININIT.BAK");
    ASSERT_EQ(SIM_PATH_FOUND, bak.status);
    EXPECT_EQ(0u, read_host(bak.host).find("[Settings]"));
    EXPECT_TRUE(sim.in_use.empty());
    EXPECT_TRUE(sim.attributes.empty());
    sim_machine_unload();

    /* With no WININIT.INI a restart changes no file. */
    result = tool({"restart"});
    EXPECT_EQ(0, result.code);
    EXPECT_EQ("", result.out);
}
