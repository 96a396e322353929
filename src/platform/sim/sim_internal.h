/* The simulated machine's insides, shared by its source files, the machine
 * tool and the simulation's tests.
 *
 * Include the C and C++ library headers you need before this one: it pulls
 * in sim_windows.h, whose fopen/remove/rename macros would otherwise rename
 * the host's functions, and then takes those macros back so that code here
 * reaches the host's stdio and calls the simulated forms by their sim_ names.
 */
#ifndef TARSK4_SIM_INTERNAL_H
#define TARSK4_SIM_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "sim_machine.h"

#undef fopen
#undef remove
#undef rename

/* ---- Families ---------------------------------------------------------- */

struct SimFamily {
    const char *name;
    bool nt;
    DWORD major, minor, build;
    const char *service_pack;
    const char *windows_dir;
    const char *system_dir;
};

const SimFamily *sim_family_find(const char *name);

/* ---- Registry tree ----------------------------------------------------- */

struct SimValue {
    std::string name; /* "" is the default value */
    DWORD type;
    std::vector<BYTE> data;
};

struct SimNode {
    std::string name;
    std::vector<SimValue> values;
    std::vector<SimNode *> children; /* kept sorted without regard to case */
};

enum {
    SIM_ROOT_CLASSES,
    SIM_ROOT_USER,
    SIM_ROOT_MACHINE,
    SIM_ROOT_USERS,
    SIM_ROOT_CONFIG,
    SIM_ROOT_COUNT
};

extern const char *const sim_root_names[SIM_ROOT_COUNT];

/* Splits "HKEY_LOCAL_MACHINE\SOFTWARE\X" (or HKLM\...) into a root index and
 * the rest ("SOFTWARE\X", possibly empty). Returns false for an unknown root. */
bool sim_reg_split_path(const char *full, int *root, std::string *rest);

SimNode *sim_reg_root(int root);
SimNode *sim_reg_find(SimNode *from, const char *path);
SimNode *sim_reg_create(SimNode *from, const char *path);
bool sim_reg_delete_key(int root, const char *path);
SimValue *sim_reg_find_value(SimNode *node, const char *name);
void sim_reg_set_value(SimNode *node, const char *name, DWORD type, const BYTE *data, size_t size);
bool sim_reg_delete_value(SimNode *node, const char *name);

/* REGEDIT4 text. Parsing replaces the whole registry; on failure `error`
 * names the line. `sorted` also sorts the values (keys always are). */
bool sim_reg_parse(const std::string &text, std::string *error);
std::string sim_reg_format(bool sorted);
void sim_reg_clear(void);

/* Whether these bytes can be written as "..." in REGEDIT4 and shown as text:
 * one terminating NUL at the end, none before, no control characters. */
bool sim_bytes_are_string(const std::vector<BYTE> &data);

/* ---- Drive C: ---------------------------------------------------------- */

enum SimPathStatus { SIM_PATH_FOUND, SIM_PATH_MISSING, SIM_PATH_PARENT_MISSING, SIM_PATH_BAD };

struct SimPath {
    SimPathStatus status;
    bool is_dir;       /* when found */
    bool is_root;      /* C:\ itself */
    std::string host;  /* host path; for a missing last component, where it would go */
    std::string win;   /* "C:\A\B" with the names as they are on disk (missing: as given) */
    std::string given; /* "C:\A\B" as given, "." and ".." taken out */
    std::string key;   /* upper-case form of `win`, for comparisons */
};

/* Resolves a Windows path on drive C:, accepting long names in any case and
 * the generated 8.3 aliases. */
SimPath sim_resolve(const char *win_path);
std::string sim_path_key(const std::string &win_path);

/* The 8.3 alias of each entry of a host directory, in the order of
 * `names` (which is sorted here). Names that already are 8.3 map to
 * themselves. */
bool sim_is_short_name(const std::string &name);
void sim_short_names(const std::string &host_dir, std::vector<std::string> *names,
                     std::vector<std::string> *aliases);

DWORD sim_attributes_of(const SimPath &path);
void sim_attributes_set(const SimPath &path, DWORD attributes);
void sim_attributes_forget(const std::string &win_key);
void sim_attributes_move(const std::string &old_key, const std::string &new_win);
bool sim_attributes_parse(const std::string &text, std::string *error);
std::string sim_attributes_format(void);
bool sim_is_in_use(const SimPath &path);

/* ---- The machine ------------------------------------------------------- */

struct SimAttributeLine {
    DWORD attributes;
    std::string win; /* as written */
};

struct SimFaultSetting {
    std::string function;
    int nth;
    DWORD error;
    bool for_good;
};

struct SimMachine {
    bool loaded;
    std::string dir;
    const SimFamily *family;
    std::string windows_dir;
    std::string system_dir;
    bool sleep_real;
    std::vector<std::string> in_use;
    std::vector<std::string> deny_full_access;
    std::vector<SimFaultSetting> ini_faults;
    std::vector<SimAttributeLine> attributes;
    SimNode *roots[SIM_ROOT_COUNT];
};

extern SimMachine sim;

std::string sim_machine_file(const char *name);
std::string sim_ini_format(void);
bool sim_ini_parse(const std::string &text, std::string *error);

/* Write the machine's files back (atomically). They print a warning on the
 * host's stderr when the folder cannot be written. */
bool sim_save_registry(void);
bool sim_save_attributes(void);
bool sim_save_ini(void);

bool sim_read_host_file(const std::string &path, std::string *text);
bool sim_write_host_file_atomic(const std::string &path, const std::string &text);

/* ---- Faults and errors ------------------------------------------------- */

/* Counts a call of `function`; true when an injected fault makes it fail,
 * with the error to report. */
bool sim_fault_hit(const char *function, DWORD *error);
int sim_errno_from_win32(DWORD error);
bool sim_parse_fault_line(const std::string &line, SimFaultSetting *fault);

/* ---- Handles ----------------------------------------------------------- */

extern int sim_console_handles_open;

/* Prints "sim: N registry key(s) and M file(s) left open" on the host's
 * stderr when something is; returns whether it did. */
bool sim_report_left_open(void);

/* A Windows text stream (CR LF) over the host's descriptor 0, 1 or 2, not counted as
 * a file the program opened. */
FILE *sim_text_stream_over_fd(int fd);

/* Host-side helpers. */
bool sim_ieq(const std::string &a, const std::string &b);
int sim_icmp(const std::string &a, const std::string &b);
std::string sim_upper(const std::string &s);

/* Writes all of `data` to `fd`, going on after interrupted or short writes. */
bool sim_write_all(int fd, const char *data, size_t size);

#endif
