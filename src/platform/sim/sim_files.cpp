/* Drive C:, file attributes, and the kernel32 functions on files,
 * directories, the version and time. */
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim_internal.h"

static DWORD last_error;

DWORD GetLastError(void) {
    return last_error;
}

void SetLastError(DWORD error) {
    last_error = error;
}

/* ---- Short names ------------------------------------------------------- */

static bool is_short_char(unsigned char c) {
    return c > ' ' && strchr("+,;=[]\"*?<>|:/\\", c) == NULL;
}

bool sim_is_short_name(const std::string &name) {
    if (name.empty() || name == "." || name == "..")
        return !name.empty();
    size_t dot = name.find('.');
    if (dot != std::string::npos && name.find('.', dot + 1) != std::string::npos)
        return false;
    size_t base = dot == std::string::npos ? name.size() : dot;
    size_t ext = dot == std::string::npos ? 0 : name.size() - dot - 1;
    if (base == 0 || base > 8 || ext > 3)
        return false;
    for (size_t i = 0; i < name.size(); i++)
        if (i != dot && !is_short_char((unsigned char)name[i]))
            return false;
    return true;
}

static std::string alias_part(const std::string &text, size_t limit) {
    std::string out;
    for (char c : text) {
        if (c == '.' || !is_short_char((unsigned char)c))
            continue;
        out += (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
        if (out.size() == limit)
            break;
    }
    return out;
}

static bool name_less(const std::string &a, const std::string &b) {
    int order = sim_icmp(a, b);
    return order != 0 ? order < 0 : a < b;
}

static std::vector<std::string> list_dir(const std::string &host_dir) {
    std::vector<std::string> names;
    DIR *dir = opendir(host_dir.c_str());
    if (dir == NULL)
        return names;
    while (struct dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), name_less);
    return names;
}

/* Aliases are numbered in the sorted order of the long names, skipping any
 * alias already taken by a name that is 8.3 by itself. */
void sim_short_names(const std::string &host_dir, std::vector<std::string> *names,
                     std::vector<std::string> *aliases) {
    *names = list_dir(host_dir);
    aliases->assign(names->size(), std::string());
    std::vector<std::string> taken;
    for (size_t i = 0; i < names->size(); i++) {
        if (sim_is_short_name((*names)[i])) {
            (*aliases)[i] = (*names)[i];
            taken.push_back(sim_upper((*names)[i]));
        }
    }
    for (size_t i = 0; i < names->size(); i++) {
        if (!(*aliases)[i].empty())
            continue;
        const std::string &name = (*names)[i];
        size_t dot = name.rfind('.');
        std::string base = alias_part(dot == std::string::npos ? name : name.substr(0, dot), 6);
        std::string ext = dot == std::string::npos ? "" : alias_part(name.substr(dot + 1), 3);
        if (base.empty()) {
            base = ext.empty() ? "_" : ext.substr(0, 6);
            ext.clear();
        }
        for (int n = 1;; n++) {
            std::string number = "~" + std::to_string(n);
            std::string alias = base.substr(0, 8 - number.size()) + number;
            if (!ext.empty())
                alias += "." + ext;
            if (std::find(taken.begin(), taken.end(), alias) == taken.end()) {
                (*aliases)[i] = alias;
                taken.push_back(alias);
                break;
            }
        }
    }
}

/* ---- Paths ------------------------------------------------------------- */

/* The upper-case form of a path as written, without looking at the disk:
 * separators, "." and ".." and letter case do not make paths differ. */
std::string sim_path_key(const std::string &win_path) {
    std::string path = win_path.compare(0, 4, "\\\\?\\") == 0 ? win_path.substr(4) : win_path;
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i <= path.size(); i++) {
        char c = i < path.size() ? path[i] : '\0';
        if (c == '\\' || c == '/' || c == '\0') {
            if (part == "..") {
                if (parts.size() > 1)
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(sim_upper(part));
            }
            part.clear();
        } else {
            part += c;
        }
    }
    std::string key;
    for (size_t i = 0; i < parts.size(); i++)
        key += (i ? "\\" : "") + parts[i];
    if (parts.size() == 1)
        key += "\\";
    return key;
}

static bool host_stat(const std::string &path, struct stat *st) {
    return stat(path.c_str(), st) == 0;
}

/* The entry of `host_dir` called `name`: the same spelling first, then any
 * letter case, then a generated alias. */
static bool find_entry(const std::string &host_dir, const std::string &name, std::string *found) {
    struct stat st;
    if (host_stat(host_dir + "/" + name, &st)) {
        *found = name;
        return true;
    }
    std::vector<std::string> names = list_dir(host_dir);
    for (const std::string &entry : names) {
        if (sim_ieq(entry, name)) {
            *found = entry;
            return true;
        }
    }
    if (name.find('~') == std::string::npos)
        return false;
    std::vector<std::string> aliases;
    sim_short_names(host_dir, &names, &aliases);
    for (size_t i = 0; i < names.size(); i++) {
        if (sim_ieq(aliases[i], name)) {
            *found = names[i];
            return true;
        }
    }
    return false;
}

SimPath sim_resolve(const char *win_path) {
    SimPath result;
    result.status = SIM_PATH_BAD;
    result.is_dir = false;
    result.is_root = false;
    const char *p = win_path ? win_path : "";
    if (strncmp(p, "\\\\?\\", 4) == 0)
        p += 4;
    if (!((p[0] == 'C' || p[0] == 'c') && p[1] == ':') ||
        (p[2] != '\0' && p[2] != '\\' && p[2] != '/') || !sim.loaded)
        return result;

    std::vector<std::string> parts;
    std::string part;
    for (const char *s = p + 2;; s++) {
        if (*s == '\\' || *s == '/' || *s == '\0') {
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            part.clear();
            if (*s == '\0')
                break;
        } else {
            part += *s;
        }
    }

    result.host = sim_machine_file("C");
    result.win = "C:";
    result.given = std::string(1, p[0]) + ":";
    result.status = SIM_PATH_FOUND;
    result.is_dir = true;
    result.is_root = parts.empty();
    for (size_t i = 0; i < parts.size(); i++) {
        result.given += "\\" + parts[i];
        if (result.status != SIM_PATH_FOUND) {
            result.status = SIM_PATH_PARENT_MISSING;
            result.win += "\\" + parts[i];
            result.host += "/" + parts[i];
            continue;
        }
        std::string found;
        if (!result.is_dir || !find_entry(result.host, parts[i], &found)) {
            result.status = result.is_dir ? SIM_PATH_MISSING : SIM_PATH_PARENT_MISSING;
            result.win += "\\" + parts[i];
            result.host += "/" + parts[i];
            continue;
        }
        result.win += "\\" + found;
        result.host += "/" + found;
        struct stat st;
        result.is_dir = host_stat(result.host, &st) && S_ISDIR(st.st_mode);
    }
    if (result.status != SIM_PATH_FOUND)
        result.is_dir = false;
    if (parts.empty())
        result.win += "\\";
    result.key = sim_upper(result.win);
    return result;
}

static DWORD path_error(const SimPath &path) {
    return path.status == SIM_PATH_MISSING ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

/* ---- Attributes -------------------------------------------------------- */

static SimAttributeLine *attribute_line(const std::string &key) {
    for (SimAttributeLine &line : sim.attributes)
        if (sim_path_key(line.win) == key)
            return &line;
    return NULL;
}

DWORD sim_attributes_of(const SimPath &path) {
    const SimAttributeLine *line = attribute_line(path.key);
    if (path.is_dir)
        return FILE_ATTRIBUTE_DIRECTORY | (line ? line->attributes : 0);
    return line ? line->attributes : FILE_ATTRIBUTE_ARCHIVE;
}

void sim_attributes_set(const SimPath &path, DWORD attributes) {
    /* What the file system keeps: the directory bit is not settable, and a
     * file left with nothing reads back as NORMAL. */
    const DWORD settable = 0x01 | 0x02 | 0x04 | 0x20 | 0x100 | 0x1000 | 0x2000;
    DWORD kept = attributes & settable;
    if (!path.is_dir && kept == 0)
        kept = FILE_ATTRIBUTE_NORMAL;
    bool plain = path.is_dir ? kept == 0 : kept == FILE_ATTRIBUTE_ARCHIVE;
    SimAttributeLine *line = attribute_line(path.key);
    if (plain) {
        sim_attributes_forget(path.key);
        return;
    }
    if (line == NULL) {
        sim.attributes.push_back(SimAttributeLine());
        line = &sim.attributes.back();
    }
    line->attributes = kept;
    line->win = path.win;
}

void sim_attributes_forget(const std::string &key) {
    for (size_t i = 0; i < sim.attributes.size();) {
        if (sim_path_key(sim.attributes[i].win) == key)
            sim.attributes.erase(sim.attributes.begin() + (long)i);
        else
            i++;
    }
}

/* A renamed file keeps its attributes; so do the files below a renamed
 * directory. */
void sim_attributes_move(const std::string &old_key, const std::string &new_win) {
    for (SimAttributeLine &line : sim.attributes) {
        std::string key = sim_path_key(line.win);
        if (key == old_key)
            line.win = new_win;
        else if (key.size() > old_key.size() && key.compare(0, old_key.size(), old_key) == 0 &&
                 key[old_key.size()] == '\\')
            line.win = sim_resolve((new_win + key.substr(old_key.size())).c_str()).win;
    }
}

bool sim_attributes_parse(const std::string &text, std::string *error) {
    sim.attributes.clear();
    size_t pos = 0;
    int number = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        number++;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        char *rest = NULL;
        unsigned long value = strtoul(line.c_str(), &rest, 16);
        if (rest == line.c_str() || *rest != ' ') {
            char message[120];
            snprintf(message, sizeof message,
                     "attributes line %d: expected HEX-ATTRIBUTES WINDOWS-PATH", number);
            *error = message;
            return false;
        }
        while (*rest == ' ')
            rest++;
        SimAttributeLine entry;
        entry.attributes = (DWORD)value & ~(DWORD)FILE_ATTRIBUTE_DIRECTORY;
        entry.win = rest;
        sim.attributes.push_back(entry);
    }
    return true;
}

std::string sim_attributes_format(void) {
    std::vector<SimAttributeLine> lines = sim.attributes;
    std::sort(lines.begin(), lines.end(), [](const SimAttributeLine &a, const SimAttributeLine &b) {
        return sim_icmp(a.win, b.win) < 0;
    });
    std::string text;
    for (const SimAttributeLine &line : lines) {
        char hex[16];
        snprintf(hex, sizeof hex, "%08lx ", (unsigned long)line.attributes);
        text += hex + line.win + "\n";
    }
    return text;
}

bool sim_is_in_use(const SimPath &path) {
    for (const std::string &entry : sim.in_use)
        if (sim_path_key(entry) == path.key)
            return true;
    return false;
}

static void save_attributes_if_loaded(void) {
    if (sim.loaded)
        sim_save_attributes();
}

/* ---- Directories and version ------------------------------------------ */

static UINT copy_dir(const char *function, const std::string &dir, LPSTR buffer, UINT size) {
    DWORD fault;
    if (sim_fault_hit(function, &fault)) {
        SetLastError(fault);
        return 0;
    }
    UINT length = (UINT)dir.size();
    if (buffer == NULL || size <= length)
        return length + 1;
    memcpy(buffer, dir.c_str(), length + 1);
    return length;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    return copy_dir("GetSystemDirectoryA", sim.system_dir, buffer, size);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    return copy_dir("GetWindowsDirectoryA", sim.windows_dir, buffer, size);
}

BOOL GetVersionExA(OSVERSIONINFOA *info) {
    const DWORD plain_size = 148, ex_size = 156;
    DWORD fault;
    if (sim_fault_hit("GetVersionExA", &fault)) {
        SetLastError(fault);
        return FALSE;
    }
    const SimFamily *family = sim.family ? sim.family : sim_family_find("xp");
    /* The EX form came with NT 4.0 SP6; the 95 family refuses it. */
    if (info == NULL || (info->dwOSVersionInfoSize != plain_size &&
                         (info->dwOSVersionInfoSize != ex_size || !family->nt))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->dwMajorVersion = family->major;
    info->dwMinorVersion = family->minor;
    info->dwBuildNumber = family->build;
    if (!family->nt)
        info->dwBuildNumber |= (family->major << 24) | (family->minor << 16);
    info->dwPlatformId = family->nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
    memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    strncpy(info->szCSDVersion, family->service_pack, sizeof info->szCSDVersion - 1);
    if (info->dwOSVersionInfoSize == ex_size) {
        BYTE *extra = (BYTE *)info + plain_size;
        int service_pack = 0;
        sscanf(family->service_pack, "Service Pack %d", &service_pack);
        memset(extra, 0, ex_size - plain_size);
        extra[0] = (BYTE)service_pack; /* wServicePackMajor */
        extra[6] = 1;                  /* wProductType: VER_NT_WORKSTATION */
    }
    return TRUE;
}

bool sim_report_left_open(void) {
    int keys = sim_open_key_count();
    int files = sim_open_file_count();
    if (keys == 0 && files == 0)
        return false;
    dprintf(2, "sim: %d registry key(s) and %d file(s) left open\n", keys, files);
    return true;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        sim_report_left_open();
        for (;;)
            pause();
    }
    if (!sim.sleep_real)
        return;
    struct timespec wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

/* ---- Files ------------------------------------------------------------- */

/* The start of every call on an existing file: an injected fault, or the
 * path's error when it names nothing, is set as the last error. */
static bool existing_path(const char *function, LPCSTR name, SimPath *path) {
    DWORD fault;
    if (sim_fault_hit(function, &fault)) {
        SetLastError(fault);
        return false;
    }
    *path = sim_resolve(name);
    if (path->status != SIM_PATH_FOUND) {
        SetLastError(path_error(*path));
        return false;
    }
    return true;
}

DWORD GetFileAttributesA(LPCSTR name) {
    SimPath path;
    if (!existing_path("GetFileAttributesA", name, &path))
        return INVALID_FILE_ATTRIBUTES;
    return sim_attributes_of(path);
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
    SimPath path;
    if (!existing_path("SetFileAttributesA", name, &path))
        return FALSE;
    sim_attributes_set(path, attributes);
    save_attributes_if_loaded();
    return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
    SimPath path;
    if (!existing_path("DeleteFileA", name, &path))
        return FALSE;
    if (path.is_dir || (sim_attributes_of(path) & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (sim_is_in_use(path)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (unlink(path.host.c_str()) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    sim_attributes_forget(path.key);
    save_attributes_if_loaded();
    return TRUE;
}

/* The NT family's record of work for the next start: pairs of NUL-ended
 * strings (source, destination; an empty destination deletes), closed by
 * one more NUL. An empty source ends the list. */
static void read_pending_pairs(const std::vector<BYTE> &data, std::vector<std::string> *strings) {
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = pos;
        while (end < data.size() && data[end] != 0)
            end++;
        std::string text((const char *)data.data() + pos, end - pos);
        if (text.empty() && strings->size() % 2 == 0)
            break;
        strings->push_back(text);
        pos = end + 1;
    }
    if (strings->size() % 2 != 0)
        strings->push_back("");
}

static BOOL schedule_for_restart(const SimPath &source, LPCSTR new_name, DWORD flags) {
    static const char key_path[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static const char value_name[] = "PendingFileRenameOperations";
    SimNode *node = sim_reg_create(sim_reg_root(SIM_ROOT_MACHINE), key_path);
    std::vector<std::string> strings;
    const SimValue *value = sim_reg_find_value(node, value_name);
    if (value != NULL)
        read_pending_pairs(value->data, &strings);
    strings.push_back("\\??\\" + source.given);
    if (new_name == NULL) {
        strings.push_back("");
    } else {
        SimPath target = sim_resolve(new_name);
        std::string full = target.status == SIM_PATH_BAD ? new_name : target.given;
        strings.push_back(std::string((flags & MOVEFILE_REPLACE_EXISTING) ? "!" : "") + "\\??\\" +
                          full);
    }
    std::vector<BYTE> data;
    for (const std::string &text : strings) {
        data.insert(data.end(), text.begin(), text.end());
        data.push_back(0);
    }
    data.push_back(0);
    sim_reg_set_value(node, value_name, REG_MULTI_SZ, data.data(), data.size());
    if (sim.loaded)
        sim_save_registry();
    return TRUE;
}

BOOL MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags) {
    DWORD fault;
    if (sim_fault_hit("MoveFileExA", &fault)) {
        SetLastError(fault);
        return FALSE;
    }
    /* The 95 family exports MoveFileExA only as a stub; it keeps its list
     * of work for the next start in WININIT.INI instead. */
    if (sim.family != NULL && !sim.family->nt) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (existing == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SimPath source = sim_resolve(existing);
    if (source.status != SIM_PATH_FOUND) {
        SetLastError(path_error(source));
        return FALSE;
    }
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT)
        return schedule_for_restart(source, new_name, flags);
    if (new_name == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (sim_is_in_use(source)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    SimPath target = sim_resolve(new_name);
    if (target.status == SIM_PATH_PARENT_MISSING || target.status == SIM_PATH_BAD) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (target.status == SIM_PATH_FOUND && target.key != source.key) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (target.is_dir || (sim_attributes_of(target) & FILE_ATTRIBUTE_READONLY) ||
            sim_is_in_use(target)) {
            SetLastError(target.is_dir || !sim_is_in_use(target) ? ERROR_ACCESS_DENIED
                                                                 : ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        sim_attributes_forget(target.key);
    }
    std::string host_target = target.status == SIM_PATH_FOUND && target.key == source.key
                                  ? target.host.substr(0, target.host.rfind('/') + 1) +
                                        target.given.substr(target.given.rfind('\\') + 1)
                                  : target.host;
    if (::rename(source.host.c_str(), host_target.c_str()) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    SimPath moved = sim_resolve(new_name);
    sim_attributes_move(source.key, moved.win);
    save_attributes_if_loaded();
    return TRUE;
}

DWORD GetShortPathNameA(LPCSTR long_path, LPSTR short_path, DWORD size) {
    DWORD fault;
    if (sim_fault_hit("GetShortPathNameA", &fault)) {
        SetLastError(fault);
        return 0;
    }
    if (long_path == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    SimPath path = sim_resolve(long_path);
    if (path.status != SIM_PATH_FOUND) {
        SetLastError(path.status == SIM_PATH_BAD ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return 0;
    }
    /* Walk the on-disk names, swapping each long one for its alias. */
    std::string out = std::string(1, long_path[0] == '\\' ? 'C' : long_path[0]) + ":";
    if (strncmp(long_path, "\\\\?\\", 4) == 0)
        out = std::string(1, long_path[4]) + ":";
    std::string host = sim_machine_file("C");
    size_t pos = 3; /* after "C:\" */
    while (pos < path.win.size()) {
        size_t end = path.win.find('\\', pos);
        if (end == std::string::npos)
            end = path.win.size();
        std::string name = path.win.substr(pos, end - pos);
        std::string alias = name;
        if (!sim_is_short_name(name)) {
            std::vector<std::string> names, aliases;
            sim_short_names(host, &names, &aliases);
            for (size_t i = 0; i < names.size(); i++)
                if (names[i] == name)
                    alias = aliases[i];
        }
        out += "\\" + alias;
        host += "/" + name;
        pos = end + 1;
    }
    if (path.is_root)
        out += "\\";
    DWORD length = (DWORD)out.size();
    if (short_path == NULL || size <= length)
        return length + 1;
    memcpy(short_path, out.c_str(), length + 1);
    return length;
}
