#include <gtest/gtest.h>

#include "filesvc/restart_removal.h"
#include "test_machine.h"

class Wininit : public ::testing::Test {
  protected:
    std::string ini, fresh;
    void SetUp() override {
        ASSERT_TRUE(test_machine_start());
        ini = test_folder() + "\\WININIT.INI";
        fresh = test_folder() + "\\WININIT.NEW";
    }
    void TearDown() override {
        test_machine_stop();
    }
    std::string content(const std::string &path) {
        std::string bytes;
        EXPECT_TRUE(test_get_file(path, &bytes)) << path;
        return bytes;
    }
};

static const char entry[] = "NUL=C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE\r\n";

/* The file before the call (absent when null) and after it, byte for byte. */
TEST_F(Wininit, RewriteKeepsEveryLineAndAddsTheEntry) {
    std::string long_line(1200, 'k');
    std::string split_header = std::string(495, 'x') + "[rename]" + std::string(10, 'y');
    std::string late_header = std::string(1100, 'z') + "[RENAME]";
    struct {
        const char *what;
        const char *before;
        std::string before_text;
        std::string after;
    } cases[] = {
        {"no file", NULL, "", std::string("[rename]\r\n") + entry},
        {"empty file", "", "", std::string("[rename]\r\n") + entry},
        {"other sections", "x", "[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\na=1\r\n",
         std::string("[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\na=1\r\n[rename]\r\n") +
             entry},
        {"section with entries, other case", "x",
         "[boot]\r\n[Rename]\r\nNUL=C:\\OLD.EXE\r\n[after]\r\n",
         std::string("[boot]\r\n[Rename]\r\n") + entry + "NUL=C:\\OLD.EXE\r\n[after]\r\n"},
        {"line feeds alone", "x", "[boot]\nx=1\n[RENAME]\nNUL=C:\\A.EXE\n",
         std::string("[boot]\r\nx=1\r\n[RENAME]\r\n") + entry + "NUL=C:\\A.EXE\r\n"},
        {"long line without the header", "x", "[a]\r\n" + long_line + "\r\nb=2\r\n",
         "[a]\r\n" + long_line + "\r\nb=2\r\n[rename]\r\n" + entry},
        {"header split between two pieces of a long line", "x", split_header + "\r\nNUL=C:\\B\r\n",
         split_header + "\r\n" + entry + "NUL=C:\\B\r\n"},
        {"header in a late piece of a long line", "x", "[a]\r\n" + late_header + "\r\n",
         "[a]\r\n" + late_header + "\r\n" + entry},
        {"last line without line end", "x", "[boot]\r\nx=1",
         std::string("[boot]\r\nx=1\r\n[rename]\r\n") + entry},
        {"header as last line without line end", "x", "[boot]\r\n[rename]",
         std::string("[boot]\r\n[rename]\r\n") + entry},
        {"Ctrl-Z at a line start ends the text", "x", "[boot]\r\n\x1A[rename]\r\nNUL=C:\\Z\r\n",
         std::string("[boot]\r\n[rename]\r\n") + entry},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.before != NULL)
            ASSERT_TRUE(test_put_file(ini, c.before_text));
        else
            ASSERT_FALSE(test_file_exists(ini));
        EXPECT_NE(0, add_wininit_rename_entry(ini.c_str(), fresh.c_str(), "NUL",
                                              "C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE"));
        EXPECT_EQ(c.after, content(ini));
        EXPECT_FALSE(test_file_exists(fresh));
        ASSERT_TRUE(DeleteFileA(ini.c_str()));
    }
}

TEST_F(Wininit, LaterEntriesComeFirstAndMovesNameTheirDestination) {
    ASSERT_NE(0, add_wininit_rename_entry(ini.c_str(), fresh.c_str(), "NUL", "C:\\FIRST.EXE"));
    ASSERT_NE(0,
              add_wininit_rename_entry(ini.c_str(), fresh.c_str(), "C:\\NEW.DLL", "C:\\OLD.DLL"));
    EXPECT_EQ("[rename]\r\nC:\\NEW.DLL=C:\\OLD.DLL\r\nNUL=C:\\FIRST.EXE\r\n", content(ini));
}

TEST_F(Wininit, ProtectedFileIsReplacedWithPlainAttributes) {
    ASSERT_TRUE(test_put_file(ini, "[boot]\r\n"));
    ASSERT_TRUE(SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                    FILE_ATTRIBUTE_SYSTEM));
    ASSERT_NE(0, add_wininit_rename_entry(ini.c_str(), fresh.c_str(), "NUL", "C:\\X.EXE"));
    EXPECT_EQ("[boot]\r\n[rename]\r\nNUL=C:\\X.EXE\r\n", content(ini));
    DWORD attributes = GetFileAttributesA(ini.c_str());
    EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(Wininit, UnreadableFileIsLeftAloneAndNothingIsScheduled) {
    /* A folder of that name exists but cannot be read as a file. */
    ASSERT_TRUE(test_make_folder(ini));
    EXPECT_EQ(0, add_wininit_rename_entry(ini.c_str(), fresh.c_str(), "NUL", "C:\\X.EXE"));
    EXPECT_NE(0u, GetFileAttributesA(ini.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(test_file_exists(fresh));
}

TEST_F(Wininit, ShortPathForm) {
    struct {
        const char *path;
        bool short_form;
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE", true},
        {"c:\\windows\\system32\\winsvrc.exe", true},
        {"C:\\WINNT\\SYSTEM32\\A", true},
        {"C:\\~MSSETUP.T\\X_1$!.{}", true},
        {"C:\\Program Files\\WINSVRC.EXE", false},
        {"C:\\WINDOWS\\LONGNAME1.EXE", false},
        {"C:\\WINDOWS\\WINSVRC.EXEC", false},
        {"C:\\WINDOWS\\A.B.C", false},
        {"C:\\WINDOWS\\A+B.EXE", false},
        {"C:\\WINDOWS\\.EXE", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.short_form, is_short_path(c.path)) << c.path;
}
