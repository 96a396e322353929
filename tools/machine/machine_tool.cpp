/* tarsk4-machine: the verbs. Each loads the machine folder, does its work
 * through the simulation's own tables, and writes back what it changed.
 *
 * What it prints, for scripts:
 *   reg-query    one line "TYPE DATA": "sz TEXT" and "expand TEXT" for
 *                strings that end in their one NUL (the NUL not shown);
 *                "dword 0x0000001f"; "multi A|B" for a list (an empty item
 *                shows as nothing between bars, "multi \??\C:\X|" is the
 *                pair X and ""); "hex aa,bb" for REG_BINARY; anything else,
 *                or a string without its terminator, "hex(N) aa,bb" with N
 *                the type in hexadecimal. With --hex every type prints as
 *                "hex(N) aa,bb": the exact bytes stored.
 *   show         "; machine.ini" and the settings; "; registry" and the
 *                registry as REGEDIT4, keys and values sorted; then one
 *                line per file or folder on C:, depth first in sorted order:
 *                attributes (8 hex digits), size or <DIR>, the CRC-32 of the
 *                first 32768 bytes (8 hex digits, "-" for a folder), path.
 *   restart      one line per operation carried out: "deleted PATH",
 *                "renamed PATH to PATH" or "skipped PATH: REASON".
 * Errors go to stderr as "tarsk4-machine: SENTENCE" with exit code 1; bad
 * arguments print the usage with exit code 2.
 */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "machine_tool.h"
#include "sim_internal.h"

static const char usage_text[] =
    "usage: tarsk4-machine VERB ARGUMENTS\n"
    "\n"
    "  create DIR FAMILY            a clean machine; FAMILY: 95 98 me nt40 2000 xp 10\n"
    "  infect DIR [--in-use]        plant the worm's registry values and files\n"
    "  make-worm-file HOSTPATH [SIZE]  a harmless file with the worm's signature\n"
    "  show DIR                     settings, registry and files, in a fixed order\n"
    "  restart DIR                  what Windows does when it starts again: the NT\n"
    "                               family's PendingFileRenameOperations, the 95\n"
    "                               family's WININIT.INI; files in use are released\n"
    "  reg-set DIR KEY NAME TYPE DATA   TYPE: sz expand dword multi hex hex(N);\n"
    "                               NAME @ is the default value; multi items are\n"
    "                               separated by |, hex bytes like aa,bb\n"
    "  reg-query DIR KEY NAME [--hex]   prints TYPE DATA: sz TEXT, expand TEXT,\n"
    "                               dword 0xNNNNNNNN, multi A|B, hex aa,bb or\n"
    "                               hex(N) aa,bb; --hex: always hex(N) aa,bb\n"
    "  reg-delete-value DIR KEY NAME\n"
    "  reg-delete-key DIR KEY       the key and all below it\n"
    "  put-file DIR WINPATH (--worm [SIZE] | --text STRING | --bytes HEX | --from HOSTPATH)\n"
    "  cat DIR WINPATH              a file's bytes on standard output\n"
    "  mkdir DIR WINPATH\n"
    "  attrib DIR WINPATH HEX\n"
    "  in-use DIR WINPATH           a running program holds the file open\n"
    "  release DIR WINPATH\n"
    "  deny DIR KEY                 the key refuses write access\n"
    "  fault DIR FUNCTION NTH ERROR [for_good]\n"
    "  set DIR NAME VALUE           NAME: family windows_dir system_dir sleep\n";

/* Names sim_fault_add understands. */
static const char *const fault_functions[] = {
    "RegOpenKeyExA",
    "RegQueryValueA",
    "RegQueryValueExA",
    "RegSetValueA",
    "RegSetValueExA",
    "RegDeleteValueA",
    "RegCloseKey",
    "GetSystemDirectoryA",
    "GetWindowsDirectoryA",
    "GetFileAttributesA",
    "SetFileAttributesA",
    "DeleteFileA",
    "MoveFileExA",
    "GetShortPathNameA",
    "GetVersionExA",
    "GetStdHandle",
    "CreateFileA",
    "CloseHandle",
    "GetConsoleMode",
    "SetConsoleMode",
    "GetNumberOfConsoleInputEvents",
    "ReadConsoleInputA",
    "FlushConsoleInputBuffer",
    "WriteConsoleA",
    "fopen",
    "fread",
    "fwrite",
    "fclose",
    "remove",
    "rename",
};

static int fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

static int fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    fputs("tarsk4-machine: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    return 1;
}

static int usage(void) {
    fputs(usage_text, stderr);
    return 2;
}

static bool load(const char *dir) {
    char error[1024];
    if (sim_machine_load(dir, error, sizeof error))
        return true;
    fail("%s", error);
    return false;
}

static bool parse_size(const char *text, size_t *size) {
    char *end = NULL;
    errno = 0;
    unsigned long long value = strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value > (1ull << 30))
        return false;
    *size = (size_t)value;
    return true;
}

static bool parse_hex_bytes(const char *text, std::string *bytes) {
    bytes->clear();
    int high = -1;
    for (const char *p = text; *p; p++) {
        if (*p == ',' || *p == ' ' || *p == ':')
            continue;
        int digit = -1;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (*p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        if (digit < 0)
            return false;
        if (high < 0) {
            high = digit;
        } else {
            bytes->push_back((char)(high * 16 + digit));
            high = -1;
        }
    }
    return high < 0;
}

static std::string hex_text(const std::vector<BYTE> &data) {
    std::string out;
    for (size_t i = 0; i < data.size(); i++) {
        char byte[4];
        snprintf(byte, sizeof byte, "%s%02x", i ? "," : "", data[i]);
        out += byte;
    }
    return out;
}

/* ---- Host files -------------------------------------------------------- */

static bool write_host_file(const std::string &path, const std::string &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == NULL)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (fclose(file) != 0)
        ok = false;
    return ok;
}

/* Creates the folders of a Windows path that are missing, each with the
 * name as given. */
static bool make_win_dirs(const std::string &win, bool include_last, std::string *error) {
    SimPath whole = sim_resolve(win.c_str());
    if (whole.status == SIM_PATH_BAD) {
        *error = "not a path on drive C: " + win;
        return false;
    }
    std::string prefix = whole.given.substr(0, 2);
    size_t pos = 3;
    while (pos <= whole.given.size()) {
        size_t end = whole.given.find('\\', pos);
        if (end == std::string::npos)
            end = whole.given.size();
        if (end == whole.given.size() && !include_last)
            break;
        prefix += "\\" + whole.given.substr(pos, end - pos);
        SimPath part = sim_resolve(prefix.c_str());
        if (part.status == SIM_PATH_FOUND && !part.is_dir) {
            *error = part.win + " is a file, not a folder";
            return false;
        }
        if (part.status != SIM_PATH_FOUND && mkdir(part.host.c_str(), 0755) != 0) {
            *error = "cannot create " + part.win + ": " + strerror(errno);
            return false;
        }
        pos = end + 1;
    }
    return true;
}

static bool put_file(const std::string &win, const std::string &bytes, std::string *error) {
    if (!make_win_dirs(win, false, error))
        return false;
    SimPath path = sim_resolve(win.c_str());
    if (path.status == SIM_PATH_FOUND && path.is_dir) {
        *error = path.win + " is a folder";
        return false;
    }
    if (!write_host_file(path.host, bytes)) {
        *error = "cannot write " + path.win + ": " + strerror(errno);
        return false;
    }
    return true;
}

/* ---- Verbs ------------------------------------------------------------- */

static int verb_create(int argc, char **argv) {
    (void)argc;
    char error[1024];
    if (!sim_machine_create(argv[0], argv[1], error, sizeof error))
        return fail("%s", error);
    printf("created a %s machine in %s\n", argv[1], argv[0]);
    return 0;
}

static int verb_make_worm_file(int argc, char **argv) {
    size_t size = machine_worm_file_size;
    if (argc > 1 && !parse_size(argv[1], &size))
        return usage();
    std::string bytes;
    if (!machine_worm_bytes(size, &bytes))
        return fail("a file with the signature needs at least %zu bytes", machine_signature_window);
    if (!write_host_file(argv[0], bytes))
        return fail("cannot write %s: %s", argv[0], strerror(errno));
    return 0;
}

static SimNode *key_node(const char *key, bool create, int *root_out = NULL) {
    int root;
    std::string rest;
    if (!sim_reg_split_path(key, &root, &rest))
        return NULL;
    if (root_out)
        *root_out = root;
    return create ? sim_reg_create(sim_reg_root(root), rest.c_str())
                  : sim_reg_find(sim_reg_root(root), rest.c_str());
}

static const char *value_name(const char *name) {
    return strcmp(name, "@") == 0 ? "" : name;
}

static void set_string(const char *key, const char *name, const std::string &text) {
    SimNode *node = key_node(key, true);
    sim_reg_set_value(node, name, REG_SZ, (const BYTE *)text.c_str(), text.size() + 1);
}

static int verb_infect(int argc, char **argv) {
    bool in_use = argc > 1;
    if (argc > 1 && strcmp(argv[1], "--in-use") != 0)
        return usage();
    if (!load(argv[0]))
        return 1;
    static const char run_key[] =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::string exe = sim.system_dir + "\\WINSVRC.EXE";
    const std::string vxd = sim.system_dir + "\\WINSVRC.VXD";
    set_string("HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command", "", exe + " \"%1\" %*");
    set_string(run_key, "winsvrc.vxd", vxd);
    set_string(run_key, "Win32BaseServiceMOD", exe);
    std::string bytes, error;
    machine_worm_bytes(machine_worm_file_size, &bytes);
    if (!put_file(vxd, bytes, &error) || !put_file(exe, bytes, &error))
        return fail("%s", error.c_str());
    if (in_use) {
        SimPath path = sim_resolve(exe.c_str());
        if (!sim_is_in_use(path))
            sim.in_use.push_back(path.win);
    }
    if (!sim_save_registry() || !sim_save_ini())
        return 1;
    printf("infected: %s, %s%s\n", exe.c_str(), vxd.c_str(), in_use ? " (in use)" : "");
    return 0;
}

static void show_files(const std::string &host, const std::string &win, std::string *out) {
    std::vector<std::string> names, aliases;
    sim_short_names(host, &names, &aliases);
    for (const std::string &name : names) {
        std::string child_win = (win.size() == 3 ? win : win + "\\") + name;
        SimPath path = sim_resolve(child_win.c_str());
        char line[64];
        if (path.is_dir) {
            snprintf(line, sizeof line, "%08lx %10s %8s ", (unsigned long)sim_attributes_of(path),
                     "<DIR>", "-");
            *out += line + path.win + "\n";
            show_files(path.host, path.win, out);
            continue;
        }
        std::string bytes;
        sim_read_host_file(path.host, &bytes);
        size_t window = std::min(bytes.size(), machine_signature_window);
        snprintf(line, sizeof line, "%08lx %10zu %08lx ", (unsigned long)sim_attributes_of(path),
                 bytes.size(), (unsigned long)machine_crc32(bytes.data(), window));
        *out += line + path.win + "\n";
    }
}

static int verb_show(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    std::string out = "; machine.ini\n" + sim_ini_format();
    out += "\n; registry\n" + sim_reg_format(true);
    out += "; drive C: attributes, size, CRC-32 of the first 32768 bytes, path\n";
    show_files(sim_machine_file("C"), "C:\\", &out);
    fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

/* ---- restart ----------------------------------------------------------- */

/* The boot-time process is privileged: read-only files go all the same. */
static bool remove_host(const SimPath &path) {
    bool ok = path.is_dir ? rmdir(path.host.c_str()) == 0 : unlink(path.host.c_str()) == 0;
    if (ok)
        sim_attributes_forget(path.key);
    return ok;
}

static bool move_host(const SimPath &source, const std::string &target_win, bool replace,
                      std::string *why) {
    SimPath target = sim_resolve(target_win.c_str());
    if (target.status == SIM_PATH_BAD || target.status == SIM_PATH_PARENT_MISSING) {
        *why = "the target's folder is missing";
        return false;
    }
    if (target.status == SIM_PATH_FOUND) {
        if (!replace) {
            *why = "the target exists";
            return false;
        }
        if (!remove_host(target)) {
            *why = "the target cannot be removed";
            return false;
        }
        target = sim_resolve(target_win.c_str());
    }
    if (::rename(source.host.c_str(), target.host.c_str()) != 0) {
        *why = strerror(errno);
        return false;
    }
    sim_attributes_move(source.key, sim_resolve(target_win.c_str()).win);
    return true;
}

static void carry_out(const std::string &source_win, const std::string &target_win, bool replace) {
    SimPath source = sim_resolve(source_win.c_str());
    if (source.status != SIM_PATH_FOUND) {
        printf("skipped %s: it does not exist\n", source_win.c_str());
        return;
    }
    if (target_win.empty()) {
        if (remove_host(source))
            printf("deleted %s\n", source.win.c_str());
        else
            printf("skipped %s: cannot delete it: %s\n", source.win.c_str(), strerror(errno));
        return;
    }
    std::string why;
    if (move_host(source, target_win, replace, &why))
        printf("renamed %s to %s\n", source.win.c_str(), target_win.c_str());
    else
        printf("skipped %s: %s\n", source.win.c_str(), why.c_str());
}

static std::string strip_nt_prefix(const std::string &path) {
    return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

static void restart_nt(void) {
    static const char key[] =
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static const char name[] = "PendingFileRenameOperations";
    SimNode *node = key_node(key, false);
    SimValue *value = node ? sim_reg_find_value(node, name) : NULL;
    if (value == NULL)
        return;
    std::vector<std::string> strings;
    size_t pos = 0;
    const std::vector<BYTE> &data = value->data;
    while (pos < data.size()) {
        size_t end = pos;
        while (end < data.size() && data[end] != 0)
            end++;
        std::string text((const char *)data.data() + pos, end - pos);
        if (text.empty() && strings.size() % 2 == 0)
            break; /* an empty source ends the list */
        strings.push_back(text);
        pos = end + 1;
    }
    for (size_t i = 0; i < strings.size(); i += 2) {
        std::string target = i + 1 < strings.size() ? strings[i + 1] : "";
        bool replace = !target.empty() && target[0] == '!';
        if (replace)
            target.erase(0, 1);
        carry_out(strip_nt_prefix(strings[i]), strip_nt_prefix(target), replace);
    }
    sim_reg_delete_value(node, name);
}

static std::string trim(const std::string &s) {
    size_t begin = 0, end = s.size();
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t'))
        begin++;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r'))
        end--;
    return s.substr(begin, end - begin);
}

static bool restart_95(void) {
    std::string ini = sim.windows_dir + "\\WININIT.INI";
    SimPath path = sim_resolve(ini.c_str());
    std::string text;
    if (path.status != SIM_PATH_FOUND || path.is_dir || !sim_read_host_file(path.host, &text))
        return true;
    /* WININIT.EXE stops at a Ctrl-Z as the runtime's text mode does. */
    size_t end_of_text = text.find('\x1A');
    if (end_of_text != std::string::npos)
        text.erase(end_of_text);
    bool in_rename = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            in_rename = close != std::string::npos && sim_ieq(line.substr(1, close - 1), "rename");
            continue;
        }
        size_t equals = line.find('=');
        if (!in_rename || equals == std::string::npos)
            continue;
        std::string target = trim(line.substr(0, equals));
        std::string source = trim(line.substr(equals + 1));
        carry_out(source, sim_ieq(target, "NUL") ? "" : target, true);
    }
    std::string bak = sim.windows_dir + "\\WININIT.BAK";
    SimPath old_bak = sim_resolve(bak.c_str());
    if (old_bak.status == SIM_PATH_FOUND && !old_bak.is_dir)
        remove_host(old_bak);
    path = sim_resolve(ini.c_str());
    std::string why;
    if (!move_host(path, bak, true, &why))
        return fail("cannot rename %s to WININIT.BAK: %s", path.win.c_str(), why.c_str()) == 0;
    return true;
}

static int verb_restart(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    bool ok = true;
    if (sim.family->nt)
        restart_nt();
    else
        ok = restart_95();
    /* The programs that held files open are gone. */
    sim.in_use.clear();
    if (!sim_save_registry() || !sim_save_attributes() || !sim_save_ini())
        return 1;
    return ok ? 0 : 1;
}

/* ---- Registry verbs ---------------------------------------------------- */

static bool build_multi(const char *text, std::vector<BYTE> *data) {
    data->clear();
    if (*text != '\0') {
        for (const char *p = text;; p++) {
            if (*p == '|' || *p == '\0') {
                data->push_back(0);
                if (*p == '\0')
                    break;
            } else {
                data->push_back((BYTE)*p);
            }
        }
    }
    data->push_back(0);
    return true;
}

static bool build_data(const char *type_text, const char *text, DWORD *type,
                       std::vector<BYTE> *data) {
    if (strcmp(type_text, "sz") == 0 || strcmp(type_text, "expand") == 0) {
        *type = strcmp(type_text, "sz") == 0 ? REG_SZ : REG_EXPAND_SZ;
        data->assign(text, text + strlen(text) + 1);
        return true;
    }
    if (strcmp(type_text, "dword") == 0) {
        char *end = NULL;
        errno = 0;
        unsigned long long value = strtoull(text, &end, 0);
        if (errno != 0 || end == text || *end != '\0' || value > 0xFFFFFFFFull)
            return false;
        *type = REG_DWORD;
        data->clear();
        for (int i = 0; i < 4; i++)
            data->push_back((BYTE)(value >> (8 * i)));
        return true;
    }
    if (strcmp(type_text, "multi") == 0) {
        *type = REG_MULTI_SZ;
        return build_multi(text, data);
    }
    std::string bytes;
    if (strcmp(type_text, "hex") == 0) {
        *type = REG_BINARY;
    } else if (strncmp(type_text, "hex(", 4) == 0) {
        char *end = NULL;
        unsigned long value = strtoul(type_text + 4, &end, 16);
        if (end == type_text + 4 || strcmp(end, ")") != 0)
            return false;
        *type = (DWORD)value;
    } else {
        return false;
    }
    if (!parse_hex_bytes(text, &bytes))
        return false;
    data->assign(bytes.begin(), bytes.end());
    return true;
}

static int verb_reg_set(int argc, char **argv) {
    (void)argc;
    DWORD type;
    std::vector<BYTE> data;
    if (!build_data(argv[3], argv[4], &type, &data))
        return usage();
    if (!load(argv[0]))
        return 1;
    SimNode *node = key_node(argv[1], true);
    if (node == NULL)
        return fail("unknown root key in %s", argv[1]);
    sim_reg_set_value(node, value_name(argv[2]), type, data.data(), data.size());
    return sim_save_registry() ? 0 : 1;
}

/* "a|b" for a list whose strings each end in NUL, closed by one more NUL;
 * false when the bytes are not such a list. */
static bool multi_text(const std::vector<BYTE> &data, std::string *text) {
    if (data.empty() || data.back() != 0)
        return false;
    if (data.size() == 1) {
        text->clear();
        return true;
    }
    if (data[data.size() - 2] != 0)
        return false;
    text->clear();
    for (size_t i = 0; i + 2 < data.size(); i++) {
        if (data[i] == '|' || (data[i] != 0 && data[i] < 0x20))
            return false;
        *text += data[i] == 0 ? '|' : (char)data[i];
    }
    return true;
}

static int verb_reg_query(int argc, char **argv) {
    bool hex = argc > 3;
    if (hex && strcmp(argv[3], "--hex") != 0)
        return usage();
    if (!load(argv[0]))
        return 1;
    SimNode *node = key_node(argv[1], false);
    if (node == NULL)
        return fail("no key %s", argv[1]);
    const SimValue *value = sim_reg_find_value(node, value_name(argv[2]));
    if (value == NULL)
        return fail("no value %s in %s", argv[2], argv[1]);
    std::string text;
    if (hex) {
        printf("hex(%lx) %s\n", (unsigned long)value->type, hex_text(value->data).c_str());
    } else if ((value->type == REG_SZ || value->type == REG_EXPAND_SZ) &&
               sim_bytes_are_string(value->data)) {
        printf("%s %s\n", value->type == REG_SZ ? "sz" : "expand",
               (const char *)value->data.data());
    } else if (value->type == REG_DWORD && value->data.size() == 4) {
        unsigned long v = (unsigned long)value->data[0] | (unsigned long)value->data[1] << 8 |
                          (unsigned long)value->data[2] << 16 | (unsigned long)value->data[3] << 24;
        printf("dword 0x%08lx\n", v);
    } else if (value->type == REG_MULTI_SZ && multi_text(value->data, &text)) {
        printf("multi %s\n", text.c_str());
    } else if (value->type == REG_BINARY) {
        printf("hex %s\n", hex_text(value->data).c_str());
    } else {
        printf("hex(%lx) %s\n", (unsigned long)value->type, hex_text(value->data).c_str());
    }
    return 0;
}

static int verb_reg_delete_value(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    SimNode *node = key_node(argv[1], false);
    if (node == NULL)
        return fail("no key %s", argv[1]);
    if (!sim_reg_delete_value(node, value_name(argv[2])))
        return fail("no value %s in %s", argv[2], argv[1]);
    return sim_save_registry() ? 0 : 1;
}

static int verb_reg_delete_key(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    int root;
    std::string rest;
    if (!sim_reg_split_path(argv[1], &root, &rest) || !sim_reg_delete_key(root, rest.c_str()))
        return fail("no key %s", argv[1]);
    return sim_save_registry() ? 0 : 1;
}

/* ---- File verbs -------------------------------------------------------- */

static int verb_put_file(int argc, char **argv) {
    std::string bytes;
    const char *how = argv[2];
    if (strcmp(how, "--worm") == 0 && argc <= 4) {
        size_t size = machine_worm_file_size;
        if (argc == 4 && !parse_size(argv[3], &size))
            return usage();
        if (!machine_worm_bytes(size, &bytes))
            return fail("a file with the signature needs at least %zu bytes",
                        machine_signature_window);
    } else if (strcmp(how, "--text") == 0 && argc == 4) {
        bytes = argv[3];
    } else if (strcmp(how, "--bytes") == 0 && argc == 4) {
        if (!parse_hex_bytes(argv[3], &bytes))
            return usage();
    } else if (strcmp(how, "--from") == 0 && argc == 4) {
        if (!sim_read_host_file(argv[3], &bytes))
            return fail("cannot read %s: %s", argv[3], strerror(errno));
    } else {
        return usage();
    }
    if (!load(argv[0]))
        return 1;
    std::string error;
    if (!put_file(argv[1], bytes, &error))
        return fail("%s", error.c_str());
    return 0;
}

static int verb_cat(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    SimPath path = sim_resolve(argv[1]);
    std::string bytes;
    if (path.status != SIM_PATH_FOUND || path.is_dir || !sim_read_host_file(path.host, &bytes))
        return fail("no file %s", argv[1]);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    return 0;
}

static int verb_mkdir(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    std::string error;
    if (!make_win_dirs(argv[1], true, &error))
        return fail("%s", error.c_str());
    return 0;
}

static int verb_attrib(int argc, char **argv) {
    (void)argc;
    char *end = NULL;
    unsigned long value = strtoul(argv[2], &end, 16);
    if (end == argv[2] || *end != '\0')
        return usage();
    if (!load(argv[0]))
        return 1;
    SimPath path = sim_resolve(argv[1]);
    if (path.status != SIM_PATH_FOUND)
        return fail("no file or folder %s", argv[1]);
    sim_attributes_set(path, (DWORD)value);
    return sim_save_attributes() ? 0 : 1;
}

static int verb_in_use(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    SimPath path = sim_resolve(argv[1]);
    if (path.status == SIM_PATH_BAD)
        return fail("not a path on drive C: %s", argv[1]);
    if (!sim_is_in_use(path))
        sim.in_use.push_back(path.win);
    return sim_save_ini() ? 0 : 1;
}

static int verb_release(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    SimPath path = sim_resolve(argv[1]);
    size_t before = sim.in_use.size();
    for (size_t i = 0; i < sim.in_use.size();) {
        if (sim_path_key(sim.in_use[i]) == path.key)
            sim.in_use.erase(sim.in_use.begin() + (long)i);
        else
            i++;
    }
    if (sim.in_use.size() == before)
        return fail("%s is not in use", argv[1]);
    return sim_save_ini() ? 0 : 1;
}

static int verb_deny(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    int root;
    std::string rest;
    if (!sim_reg_split_path(argv[1], &root, &rest))
        return fail("unknown root key in %s", argv[1]);
    std::string key = sim_root_names[root];
    if (!rest.empty())
        key += "\\" + rest;
    sim.deny_full_access.push_back(key);
    return sim_save_ini() ? 0 : 1;
}

static int verb_fault(int argc, char **argv) {
    std::string line = std::string(argv[1]) + " " + argv[2] + " " + argv[3];
    if (argc == 5) {
        if (strcmp(argv[4], "for_good") != 0 && strcmp(argv[4], "once") != 0)
            return usage();
        line += std::string(" ") + argv[4];
    }
    SimFaultSetting fault;
    if (!sim_parse_fault_line(line, &fault))
        return usage();
    bool known = false;
    for (const char *name : fault_functions)
        known = known || strcmp(name, argv[1]) == 0;
    if (!known)
        return fail("no injected faults for %s: it is not a function of the machine", argv[1]);
    if (!load(argv[0]))
        return 1;
    sim.ini_faults.push_back(fault);
    return sim_save_ini() ? 0 : 1;
}

static int verb_set(int argc, char **argv) {
    (void)argc;
    if (!load(argv[0]))
        return 1;
    const char *name = argv[1], *value = argv[2];
    if (strcmp(name, "family") == 0) {
        const SimFamily *family = sim_family_find(value);
        if (family == NULL)
            return fail("unknown family '%s': use 95, 98, me, nt40, 2000, xp or 10", value);
        sim.family = family;
    } else if (strcmp(name, "windows_dir") == 0) {
        sim.windows_dir = value;
    } else if (strcmp(name, "system_dir") == 0) {
        sim.system_dir = value;
    } else if (strcmp(name, "sleep") == 0) {
        if (strcmp(value, "real") != 0 && strcmp(value, "skip") != 0)
            return fail("sleep is real or skip, not '%s'", value);
        sim.sleep_real = strcmp(value, "real") == 0;
    } else {
        return usage();
    }
    return sim_save_ini() ? 0 : 1;
}

/* ---- Dispatch ---------------------------------------------------------- */

struct Verb {
    const char *name;
    int min_args, max_args; /* after the verb */
    int (*run)(int argc, char **argv);
};

static const Verb verbs[] = {
    {"create", 2, 2, verb_create},
    {"infect", 1, 2, verb_infect},
    {"make-worm-file", 1, 2, verb_make_worm_file},
    {"show", 1, 1, verb_show},
    {"restart", 1, 1, verb_restart},
    {"reg-set", 5, 5, verb_reg_set},
    {"reg-query", 3, 4, verb_reg_query},
    {"reg-delete-value", 3, 3, verb_reg_delete_value},
    {"reg-delete-key", 2, 2, verb_reg_delete_key},
    {"put-file", 3, 4, verb_put_file},
    {"cat", 2, 2, verb_cat},
    {"mkdir", 2, 2, verb_mkdir},
    {"attrib", 3, 3, verb_attrib},
    {"in-use", 2, 2, verb_in_use},
    {"release", 2, 2, verb_release},
    {"deny", 2, 2, verb_deny},
    {"fault", 4, 5, verb_fault},
    {"set", 3, 3, verb_set},
};

int machine_tool_main(int argc, char **argv) {
    if (argc < 2)
        return usage();
    for (const Verb &verb : verbs) {
        if (strcmp(argv[1], verb.name) != 0)
            continue;
        int count = argc - 2;
        if (count < verb.min_args || count > verb.max_args)
            return usage();
        int code = verb.run(count, argv + 2);
        fflush(stdout);
        sim_machine_unload();
        return code;
    }
    return usage();
}
