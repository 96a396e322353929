/* The machine folder: loading, creating, machine.ini, injected faults. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim_internal.h"

SimMachine sim;

/* What each family reports and where it keeps Windows. The 95 family puts
 * the major and minor version in the high word of the build number. */
static const SimFamily families[] = {
    {"95", false, 4, 0, 950, "", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM"},
    {"98", false, 4, 10, 1998, " A ", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM"},
    {"me", false, 4, 90, 3000, " ", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM"},
    {"nt40", true, 4, 0, 1381, "Service Pack 6", "C:\\WINNT", "C:\\WINNT\\SYSTEM32"},
    {"2000", true, 5, 0, 2195, "Service Pack 4", "C:\\WINNT", "C:\\WINNT\\SYSTEM32"},
    {"xp", true, 5, 1, 2600, "Service Pack 3", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"},
    /* An unmanifested program is told 6.2 on Windows 8 and later. */
    {"10", true, 6, 2, 9200, "", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"},
};

const SimFamily *sim_family_find(const char *name) {
    for (const SimFamily &family : families)
        if (strcasecmp(family.name, name) == 0)
            return &family;
    return NULL;
}

/* ---- Small helpers ----------------------------------------------------- */

bool sim_ieq(const std::string &a, const std::string &b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

int sim_icmp(const std::string &a, const std::string &b) {
    return strcasecmp(a.c_str(), b.c_str());
}

std::string sim_upper(const std::string &s) {
    std::string out = s;
    for (char &c : out)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return out;
}

static std::string trim(const std::string &s) {
    size_t begin = 0, end = s.size();
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t' || s[begin] == '\r'))
        begin++;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r'))
        end--;
    return s.substr(begin, end - begin);
}

std::string sim_machine_file(const char *name) {
    return sim.dir + "/" + name;
}

bool sim_read_host_file(const std::string &path, std::string *text) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    text->clear();
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        text->append(buffer, (size_t)n);
    }
    close(fd);
    return true;
}

bool sim_write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= (size_t)n;
    }
    return true;
}

/* A reader of the folder never sees a half-written file. */
bool sim_write_host_file_atomic(const std::string &path, const std::string &text) {
    std::string temp = path + ".tmp";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = sim_write_all(fd, text.data(), text.size());
    if (close(fd) != 0)
        ok = false;
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0)
        ok = false;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

static bool save_or_warn(const char *name, const std::string &text) {
    std::string path = sim_machine_file(name);
    if (sim_write_host_file_atomic(path, text))
        return true;
    dprintf(2, "sim: cannot write %s: %s\n", path.c_str(), strerror(errno));
    return false;
}

bool sim_save_registry(void) {
    return save_or_warn("registry.reg", sim_reg_format(false));
}

bool sim_save_attributes(void) {
    return save_or_warn("attributes", sim_attributes_format());
}

bool sim_save_ini(void) {
    return save_or_warn("machine.ini", sim_ini_format());
}

/* ---- machine.ini ------------------------------------------------------- */

static bool parse_number(const std::string &text, long long *value) {
    if (text.empty())
        return false;
    char *end = NULL;
    errno = 0;
    long long v = strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    *value = v;
    return true;
}

bool sim_parse_fault_line(const std::string &line, SimFaultSetting *fault) {
    char function[64], mode[32] = "once";
    char nth_text[32], error_text[32];
    int fields = sscanf(line.c_str(), "%63s %31s %31s %31s", function, nth_text, error_text, mode);
    long long nth, error;
    if (fields < 3 || !parse_number(nth_text, &nth) || !parse_number(error_text, &error))
        return false;
    if (nth < 1 || nth > 1000000 || error < 0 || error > 0xFFFFFFFFLL)
        return false;
    if (strcmp(mode, "once") != 0 && strcmp(mode, "for_good") != 0)
        return false;
    fault->function = function;
    fault->nth = (int)nth;
    fault->error = (DWORD)error;
    fault->for_good = strcmp(mode, "for_good") == 0;
    return true;
}

bool sim_ini_parse(const std::string &text, std::string *error) {
    std::string section;
    std::string family_name, windows_dir, system_dir, sleep_mode = "real";
    std::vector<std::string> in_use, deny;
    std::vector<SimFaultSetting> faults;
    size_t pos = 0;
    int line_number = 0;
    char message[512];

    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        line_number++;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            if (close == std::string::npos) {
                snprintf(message, sizeof message, "machine.ini line %d: a section name lacks ']'",
                         line_number);
                *error = message;
                return false;
            }
            section = sim_upper(trim(line.substr(1, close - 1)));
            if (section != "MACHINE" && section != "IN_USE" && section != "DENY_FULL_ACCESS" &&
                section != "FAULTS") {
                snprintf(message, sizeof message,
                         "machine.ini line %d: unknown section [%s] (known: machine, in_use, "
                         "deny_full_access, faults)",
                         line_number, line.substr(1, close - 1).c_str());
                *error = message;
                return false;
            }
            continue;
        }
        if (section == "MACHINE") {
            size_t equals = line.find('=');
            std::string name = sim_upper(trim(line.substr(0, equals)));
            std::string value = equals == std::string::npos ? "" : trim(line.substr(equals + 1));
            if (equals == std::string::npos) {
                snprintf(message, sizeof message,
                         "machine.ini line %d: expected NAME=VALUE in [machine]", line_number);
                *error = message;
                return false;
            }
            if (name == "FAMILY")
                family_name = value;
            else if (name == "WINDOWS_DIR")
                windows_dir = value;
            else if (name == "SYSTEM_DIR")
                system_dir = value;
            else if (name == "SLEEP")
                sleep_mode = value;
            else {
                snprintf(message, sizeof message,
                         "machine.ini line %d: unknown setting '%s' (known: family, windows_dir, "
                         "system_dir, sleep)",
                         line_number, trim(line.substr(0, equals)).c_str());
                *error = message;
                return false;
            }
        } else if (section == "IN_USE") {
            in_use.push_back(line);
        } else if (section == "DENY_FULL_ACCESS") {
            deny.push_back(line);
        } else if (section == "FAULTS") {
            SimFaultSetting fault;
            if (!sim_parse_fault_line(line, &fault)) {
                snprintf(message, sizeof message,
                         "machine.ini line %d: expected FUNCTION NTH ERROR once|for_good",
                         line_number);
                *error = message;
                return false;
            }
            faults.push_back(fault);
        } else {
            snprintf(message, sizeof message, "machine.ini line %d: text outside any section",
                     line_number);
            *error = message;
            return false;
        }
    }

    const SimFamily *family = sim_family_find(family_name.c_str());
    if (family == NULL) {
        snprintf(message, sizeof message,
                 "machine.ini: family is '%s'; it must be 95, 98, me, nt40, 2000, xp or 10",
                 family_name.c_str());
        *error = message;
        return false;
    }
    if (sleep_mode != "real" && sleep_mode != "skip") {
        snprintf(message, sizeof message, "machine.ini: sleep is '%s'; it must be real or skip",
                 sleep_mode.c_str());
        *error = message;
        return false;
    }
    sim.family = family;
    sim.windows_dir = windows_dir.empty() ? family->windows_dir : windows_dir;
    sim.system_dir = system_dir.empty() ? family->system_dir : system_dir;
    sim.sleep_real = sleep_mode == "real";
    sim.in_use = in_use;
    sim.deny_full_access = deny;
    sim.ini_faults = faults;
    return true;
}

std::string sim_ini_format(void) {
    std::string text = "[machine]\n";
    text += std::string("family=") + (sim.family ? sim.family->name : "") + "\n";
    text += "windows_dir=" + sim.windows_dir + "\n";
    text += "system_dir=" + sim.system_dir + "\n";
    text += std::string("sleep=") + (sim.sleep_real ? "real" : "skip") + "\n";
    text += "\n[in_use]\n";
    for (const std::string &path : sim.in_use)
        text += path + "\n";
    text += "\n[deny_full_access]\n";
    for (const std::string &key : sim.deny_full_access)
        text += key + "\n";
    text += "\n[faults]\n";
    for (const SimFaultSetting &fault : sim.ini_faults) {
        char line[160];
        snprintf(line, sizeof line, "%s %d %lu %s\n", fault.function.c_str(), fault.nth,
                 (unsigned long)fault.error, fault.for_good ? "for_good" : "once");
        text += line;
    }
    return text;
}

/* ---- Faults ------------------------------------------------------------ */

struct ActiveFault {
    std::string function;
    int countdown;
    DWORD error;
    bool for_good;
    bool fired;
};

static std::vector<ActiveFault> active_faults;

void sim_fault_add(const char *function, int nth, DWORD error, bool for_good) {
    ActiveFault fault;
    fault.function = function;
    fault.countdown = nth < 1 ? 1 : nth;
    fault.error = error;
    fault.for_good = for_good;
    fault.fired = false;
    active_faults.push_back(fault);
}

void sim_faults_clear(void) {
    active_faults.clear();
}

bool sim_fault_hit(const char *function, DWORD *error) {
    bool hit = false;
    for (size_t i = 0; i < active_faults.size();) {
        ActiveFault &fault = active_faults[i];
        if (strcasecmp(fault.function.c_str(), function) != 0) {
            i++;
            continue;
        }
        bool fires = fault.fired && fault.for_good;
        if (!fault.fired && --fault.countdown == 0) {
            fault.fired = true;
            fires = true;
        }
        if (fires && !hit) {
            hit = true;
            *error = fault.error;
        }
        if (fault.fired && !fault.for_good)
            active_faults.erase(active_faults.begin() + (long)i);
        else
            i++;
    }
    return hit;
}

/* The C runtime's mapping of system errors to errno values. */
struct ErrnoMapping {
    DWORD error;
    int errno_value;
};

static const ErrnoMapping errno_mappings[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_SHARING_VIOLATION, EACCES},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {4, EMFILE},  /* too many open files */
    {19, EACCES}, /* write protected */
    {33, EACCES}, /* lock violation */
    {ERROR_WRITE_FAULT, EIO},
    {ERROR_READ_FAULT, EIO},
};

int sim_errno_from_win32(DWORD error) {
    for (const ErrnoMapping &mapping : errno_mappings)
        if (mapping.error == error)
            return mapping.errno_value;
    return EINVAL;
}

/* ---- Loading ----------------------------------------------------------- */

static void copy_error(char *error, size_t error_size, const std::string &message) {
    if (error == NULL || error_size == 0)
        return;
    snprintf(error, error_size, "%s", message.c_str());
}

void sim_machine_unload(void) {
    sim_reg_clear();
    sim.loaded = false;
    sim.dir.clear();
    sim.family = NULL;
    sim.windows_dir.clear();
    sim.system_dir.clear();
    sim.sleep_real = true;
    sim.in_use.clear();
    sim.deny_full_access.clear();
    sim.ini_faults.clear();
    sim.attributes.clear();
    sim_faults_clear();
}

static bool is_directory(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool sim_machine_load(const char *dir, char *error, size_t error_size) {
    sim_machine_unload();
    std::string folder = dir ? dir : "";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty() || !is_directory(folder)) {
        copy_error(error, error_size,
                   "the machine folder " + folder + " does not exist or is not a folder");
        return false;
    }
    sim.dir = folder;

    std::string text, message;
    if (!sim_read_host_file(sim_machine_file("machine.ini"), &text)) {
        copy_error(error, error_size,
                   "the folder " + folder + " is not a simulated Windows machine: machine.ini " +
                       "is missing or unreadable");
        sim_machine_unload();
        return false;
    }
    if (!sim_ini_parse(text, &message)) {
        copy_error(error, error_size, "in the machine folder " + folder + ", " + message);
        sim_machine_unload();
        return false;
    }
    if (!sim_read_host_file(sim_machine_file("registry.reg"), &text)) {
        copy_error(error, error_size,
                   "the machine folder " + folder + " has no readable registry.reg");
        sim_machine_unload();
        return false;
    }
    if (!sim_reg_parse(text, &message)) {
        copy_error(error, error_size, "in the machine folder " + folder + ", " + message);
        sim_machine_unload();
        return false;
    }
    if (sim_read_host_file(sim_machine_file("attributes"), &text) &&
        !sim_attributes_parse(text, &message)) {
        copy_error(error, error_size, "in the machine folder " + folder + ", " + message);
        sim_machine_unload();
        return false;
    }
    if (!is_directory(sim_machine_file("C"))) {
        copy_error(error, error_size,
                   "the machine folder " + folder + " has no folder C for drive C:");
        sim_machine_unload();
        return false;
    }
    for (const SimFaultSetting &fault : sim.ini_faults)
        sim_fault_add(fault.function.c_str(), fault.nth, fault.error, fault.for_good);
    sim.loaded = true;
    return true;
}

bool sim_boot(void) {
    const char *dir = getenv("TARSK4_MACHINE");
    if (dir == NULL || dir[0] == '\0') {
        fputs("tarsk4: set TARSK4_MACHINE to the folder of a simulated Windows machine\n", stderr);
        return false;
    }
    char error[1024];
    if (!sim_machine_load(dir, error, sizeof error)) {
        fprintf(stderr, "tarsk4: %s\n", error);
        return false;
    }
    fflush(stdout);
    fflush(stderr);
    FILE *out = sim_text_stream_over_fd(1);
    FILE *err = sim_text_stream_over_fd(2);
    if (out == NULL || err == NULL) {
        fprintf(stderr, "tarsk4: cannot set up the console streams\n");
        return false;
    }
    stdout = out;
    stderr = err;
    return true;
}

/* ---- Creating ---------------------------------------------------------- */

static const char clean_registry[] =
    "REGEDIT4\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\.exe]\n"
    "@=\"exefile\"\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\exefile]\n"
    "@=\"Application\"\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\n"
    "@=\"\\\"%1\\\" %*\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
    "\"SystemTray\"=\"SysTray.Exe\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\n";

static bool make_dirs(const std::string &path) {
    for (size_t i = 1; i <= path.size(); i++) {
        if (i < path.size() && path[i] != '/')
            continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return is_directory(path);
}

/* "C:\WINDOWS\SYSTEM" -> "<dir>/C/WINDOWS/SYSTEM" for a fresh folder. */
static std::string host_dir_of(const std::string &dir, const char *win) {
    std::string path = dir + "/C";
    for (const char *p = win + 2; *p; p++)
        path += (*p == '\\') ? '/' : *p;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool sim_machine_create(const char *dir, const char *family_name, char *error, size_t error_size) {
    const SimFamily *family = sim_family_find(family_name ? family_name : "");
    if (family == NULL) {
        copy_error(error, error_size,
                   std::string("unknown family '") + (family_name ? family_name : "") +
                       "': use 95, 98, me, nt40, 2000, xp or 10");
        return false;
    }
    std::string folder = dir ? dir : "";
    struct stat st;
    if (stat((folder + "/machine.ini").c_str(), &st) == 0) {
        copy_error(error, error_size, "the folder " + folder + " already holds a machine");
        return false;
    }
    if (folder.empty() || !make_dirs(folder) ||
        !make_dirs(host_dir_of(folder, family->system_dir)) ||
        !make_dirs(host_dir_of(folder, family->windows_dir))) {
        copy_error(error, error_size,
                   "cannot create the machine folder " + folder + ": " + strerror(errno));
        return false;
    }
    std::string ini = "[machine]\n";
    ini += std::string("family=") + family->name + "\n";
    ini += std::string("windows_dir=") + family->windows_dir + "\n";
    ini += std::string("system_dir=") + family->system_dir + "\n";
    ini += "sleep=real\n\n[in_use]\n\n[deny_full_access]\n\n[faults]\n";
    if (!sim_write_host_file_atomic(folder + "/machine.ini", ini) ||
        !sim_write_host_file_atomic(folder + "/registry.reg", clean_registry) ||
        !sim_write_host_file_atomic(folder + "/attributes", "")) {
        copy_error(error, error_size,
                   "cannot write the files of the machine folder " + folder + ": " +
                       strerror(errno));
        return false;
    }
    return true;
}
