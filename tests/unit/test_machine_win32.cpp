/* The unit tests' machine on Windows (under Wine here): the machine the
 * tests run on, with a scratch folder emptied before each test. Tests also
 * touch a few names in the root of C: and the association; both are put
 * back. */
#include "test_machine.h"

static const std::string scratch = "C:\\TARSK4T";
static const char *const root_names[] = {"C:\\TEST.BIN", "C:\\FULL.BIN", "C:\\SHORT.BIN"};

static void remove_tree(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..")
                remove_tree(path + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

static void clean(void) {
    remove_tree(scratch);
    for (const char *name : root_names)
        remove_tree(name);
}

bool test_machine_start(void) {
    clean();
    return test_make_folder(scratch);
}

void test_machine_stop(void) {
    clean();
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", 0, KEY_ALL_ACCESS,
                      &key) == ERROR_SUCCESS) {
        RegSetValueA(key, NULL, REG_SZ, "\"%1\" %*", 7);
        RegCloseKey(key);
    }
}

const std::string &test_folder(void) {
    return scratch;
}

bool test_make_folder(const std::string &path) {
    return CreateDirectoryA(path.c_str(), NULL) != 0;
}
