/* The registry: a tree per predefined key, the REGEDIT4 file it lives in,
 * and the Reg* functions over it. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim_internal.h"

const char *const sim_root_names[SIM_ROOT_COUNT] = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
    "HKEY_USERS",        "HKEY_CURRENT_CONFIG",
};

static const char *const root_short_names[SIM_ROOT_COUNT] = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};

/* Access rights that change a key; a key listed under [deny_full_access]
 * refuses a handle with any of them. */
static const REGSAM write_rights = 0x0002 /* KEY_SET_VALUE */ | 0x0004 /* KEY_CREATE_SUB_KEY */ |
                                   0x0020 /* KEY_CREATE_LINK */ | 0x00010000 /* DELETE */ |
                                   0x00040000 /* WRITE_DAC */ | 0x00080000 /* WRITE_OWNER */;

/* ---- The tree ---------------------------------------------------------- */

SimNode *sim_reg_root(int root) {
    if (root < 0 || root >= SIM_ROOT_COUNT)
        return NULL;
    if (sim.roots[root] == NULL) {
        sim.roots[root] = new SimNode;
        sim.roots[root]->name = sim_root_names[root];
    }
    return sim.roots[root];
}

static void free_node(SimNode *node) {
    for (SimNode *child : node->children)
        free_node(child);
    delete node;
}

void sim_reg_clear(void) {
    for (SimNode *&root : sim.roots) {
        if (root != NULL)
            free_node(root);
        root = NULL;
    }
}

bool sim_reg_split_path(const char *full, int *root, std::string *rest) {
    const char *slash = strchr(full, '\\');
    size_t length = slash ? (size_t)(slash - full) : strlen(full);
    for (int i = 0; i < SIM_ROOT_COUNT; i++) {
        if ((strlen(sim_root_names[i]) == length &&
             strncasecmp(full, sim_root_names[i], length) == 0) ||
            (strlen(root_short_names[i]) == length &&
             strncasecmp(full, root_short_names[i], length) == 0)) {
            *root = i;
            *rest = slash ? slash + 1 : "";
            return true;
        }
    }
    return false;
}

static std::vector<std::string> split_key_path(const char *path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char *p = path ? path : ""; *p; p++) {
        if (*p == '\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += *p;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

static SimNode *find_child(SimNode *node, const std::string &name) {
    for (SimNode *child : node->children)
        if (sim_ieq(child->name, name))
            return child;
    return NULL;
}

SimNode *sim_reg_find(SimNode *from, const char *path) {
    SimNode *node = from;
    for (const std::string &part : split_key_path(path)) {
        node = find_child(node, part);
        if (node == NULL)
            return NULL;
    }
    return node;
}

static bool node_less(const SimNode *a, const SimNode *b) {
    return sim_icmp(a->name, b->name) < 0;
}

SimNode *sim_reg_create(SimNode *from, const char *path) {
    SimNode *node = from;
    for (const std::string &part : split_key_path(path)) {
        SimNode *child = find_child(node, part);
        if (child == NULL) {
            child = new SimNode;
            child->name = part;
            node->children.insert(
                std::upper_bound(node->children.begin(), node->children.end(), child, node_less),
                child);
        }
        node = child;
    }
    return node;
}

bool sim_reg_delete_key(int root, const char *path) {
    std::vector<std::string> parts = split_key_path(path);
    if (parts.empty())
        return false;
    std::string last = parts.back();
    parts.pop_back();
    SimNode *parent = sim_reg_root(root);
    for (const std::string &part : parts) {
        parent = find_child(parent, part);
        if (parent == NULL)
            return false;
    }
    for (size_t i = 0; i < parent->children.size(); i++) {
        if (sim_ieq(parent->children[i]->name, last)) {
            free_node(parent->children[i]);
            parent->children.erase(parent->children.begin() + (long)i);
            return true;
        }
    }
    return false;
}

SimValue *sim_reg_find_value(SimNode *node, const char *name) {
    std::string wanted = name ? name : "";
    for (SimValue &value : node->values)
        if (sim_ieq(value.name, wanted))
            return &value;
    return NULL;
}

void sim_reg_set_value(SimNode *node, const char *name, DWORD type, const BYTE *data, size_t size) {
    SimValue *value = sim_reg_find_value(node, name);
    if (value == NULL) {
        node->values.push_back(SimValue());
        value = &node->values.back();
        value->name = name ? name : "";
    }
    value->type = type;
    value->data.assign(data, data + size);
}

bool sim_reg_delete_value(SimNode *node, const char *name) {
    std::string wanted = name ? name : "";
    for (size_t i = 0; i < node->values.size(); i++) {
        if (sim_ieq(node->values[i].name, wanted)) {
            node->values.erase(node->values.begin() + (long)i);
            return true;
        }
    }
    return false;
}

/* ---- REGEDIT4 ---------------------------------------------------------- */

bool sim_bytes_are_string(const std::vector<BYTE> &data) {
    if (data.empty() || data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < data.size(); i++)
        if (data[i] < 0x20)
            return false;
    return true;
}

static std::string quote(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

static void append_hex(std::string *line, const std::vector<BYTE> &data, std::string *out) {
    for (size_t i = 0; i < data.size(); i++) {
        char byte[4];
        snprintf(byte, sizeof byte, "%02x", data[i]);
        *line += byte;
        if (i + 1 < data.size()) {
            *line += ',';
            /* regedit's own width: continue long lines with a backslash. */
            if (line->size() >= 76) {
                *out += *line + "\\\n";
                *line = "  ";
            }
        }
    }
}

static void format_value(const SimValue &value, std::string *out) {
    std::string line = value.name.empty() ? "@=" : quote(value.name) + "=";
    if (value.type == REG_SZ && sim_bytes_are_string(value.data)) {
        line += quote(std::string((const char *)value.data.data(), value.data.size() - 1));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        char number[16];
        unsigned long v = (unsigned long)value.data[0] | (unsigned long)value.data[1] << 8 |
                          (unsigned long)value.data[2] << 16 | (unsigned long)value.data[3] << 24;
        snprintf(number, sizeof number, "dword:%08lx", v);
        line += number;
    } else {
        char prefix[24];
        if (value.type == REG_BINARY)
            snprintf(prefix, sizeof prefix, "hex:");
        else
            snprintf(prefix, sizeof prefix, "hex(%lx):", (unsigned long)value.type);
        line += prefix;
        append_hex(&line, value.data, out);
    }
    *out += line + "\n";
}

static bool value_less(const SimValue &a, const SimValue &b) {
    return sim_icmp(a.name, b.name) < 0;
}

static void format_node(const SimNode *node, const std::string &path, bool sorted, bool is_root,
                        std::string *out) {
    if (!is_root || !node->values.empty()) {
        *out += "[" + path + "]\n";
        std::vector<SimValue> values = node->values;
        if (sorted)
            std::stable_sort(values.begin(), values.end(), value_less);
        for (const SimValue &value : values)
            format_value(value, out);
        *out += "\n";
    }
    for (const SimNode *child : node->children)
        format_node(child, path + "\\" + child->name, sorted, false, out);
}

std::string sim_reg_format(bool sorted) {
    std::string out = "REGEDIT4\n\n";
    for (int i = 0; i < SIM_ROOT_COUNT; i++)
        if (sim.roots[i] != NULL)
            format_node(sim.roots[i], sim_root_names[i], sorted, true, &out);
    return out;
}

static int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* Reads `"text"` at `*p` with \\ and \" escapes; leaves *p after it. */
static bool parse_quoted(const char **p, std::string *text) {
    const char *s = *p;
    if (*s != '"')
        return false;
    s++;
    text->clear();
    while (*s && *s != '"') {
        if (*s == '\\' && (s[1] == '\\' || s[1] == '"'))
            s++;
        *text += *s++;
    }
    if (*s != '"')
        return false;
    *p = s + 1;
    return true;
}

static bool parse_hex_bytes(const char *s, std::vector<BYTE> *data) {
    data->clear();
    while (*s) {
        while (*s == ' ' || *s == '\t')
            s++;
        if (*s == '\0')
            break;
        int high = hex_digit(s[0]);
        if (high < 0)
            return false;
        int value = high;
        s++;
        if (hex_digit(*s) >= 0)
            value = value * 16 + hex_digit(*s++);
        data->push_back((BYTE)value);
        while (*s == ' ' || *s == '\t')
            s++;
        if (*s == ',')
            s++;
        else if (*s != '\0')
            return false;
    }
    return true;
}

static bool parse_data(const char *s, DWORD *type, std::vector<BYTE> *data) {
    if (*s == '"') {
        std::string text;
        if (!parse_quoted(&s, &text))
            return false;
        while (*s == ' ' || *s == '\t')
            s++;
        if (*s != '\0')
            return false;
        *type = REG_SZ;
        data->assign(text.begin(), text.end());
        data->push_back(0);
        return true;
    }
    if (strncasecmp(s, "dword:", 6) == 0) {
        s += 6;
        unsigned long v = 0;
        int digits = 0;
        for (; hex_digit(*s) >= 0; s++, digits++)
            v = v * 16 + (unsigned long)hex_digit(*s);
        if (digits < 1 || digits > 8 || *s != '\0')
            return false;
        *type = REG_DWORD;
        data->clear();
        for (int i = 0; i < 4; i++)
            data->push_back((BYTE)(v >> (8 * i)));
        return true;
    }
    if (strncasecmp(s, "hex:", 4) == 0) {
        *type = REG_BINARY;
        return parse_hex_bytes(s + 4, data);
    }
    if (strncasecmp(s, "hex(", 4) == 0) {
        s += 4;
        unsigned long t = 0;
        int digits = 0;
        for (; hex_digit(*s) >= 0; s++, digits++)
            t = t * 16 + (unsigned long)hex_digit(*s);
        if (digits < 1 || digits > 8 || s[0] != ')' || s[1] != ':')
            return false;
        *type = (DWORD)t;
        return parse_hex_bytes(s + 2, data);
    }
    return false;
}

static std::string rtrim(const std::string &s) {
    size_t end = s.size();
    while (end > 0 && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r'))
        end--;
    return s.substr(0, end);
}

static std::string ltrim(const std::string &s) {
    size_t begin = 0;
    while (begin < s.size() && (s[begin] == ' ' || s[begin] == '\t'))
        begin++;
    return s.substr(begin);
}

static bool line_error(std::string *error, int line, const char *what) {
    char message[160];
    snprintf(message, sizeof message, "registry.reg line %d: %s", line, what);
    *error = message;
    return false;
}

bool sim_reg_parse(const std::string &input, std::string *error) {
    std::vector<std::string> lines;
    size_t pos = 0;
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(rtrim(text.substr(pos, end - pos)));
        pos = end + 1;
    }
    size_t first = 0;
    while (first < lines.size() && lines[first].empty())
        first++;
    if (first >= lines.size() || lines[first] != "REGEDIT4")
        return line_error(error, (int)first + 1, "the file must begin with REGEDIT4");

    sim_reg_clear();
    SimNode *current = NULL;
    for (size_t i = first + 1; i < lines.size(); i++) {
        int number = (int)i + 1;
        std::string line = ltrim(lines[i]);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']')
                return line_error(error, number, "a key name lacks its closing ']'");
            bool remove = line.size() > 1 && line[1] == '-';
            std::string path = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
            int root;
            std::string rest;
            if (!sim_reg_split_path(path.c_str(), &root, &rest))
                return line_error(error, number, "unknown root key");
            if (remove) {
                sim_reg_delete_key(root, rest.c_str());
                current = NULL;
            } else {
                current = sim_reg_create(sim_reg_root(root), rest.c_str());
            }
            continue;
        }
        /* A hex value may go on over lines that end in a backslash. */
        while (line.back() == '\\' && line.find("=hex") != std::string::npos &&
               i + 1 < lines.size()) {
            line.pop_back();
            line += ltrim(lines[++i]);
        }
        if (current == NULL)
            return line_error(error, number, "a value outside any key");
        const char *p = line.c_str();
        std::string name;
        if (*p == '@') {
            p++;
        } else if (!parse_quoted(&p, &name)) {
            return line_error(error, number, "expected \"name\"=data or @=data");
        }
        while (*p == ' ' || *p == '\t')
            p++;
        if (*p != '=')
            return line_error(error, number, "expected '=' after the value name");
        p++;
        while (*p == ' ' || *p == '\t')
            p++;
        if (strcmp(p, "-") == 0) {
            sim_reg_delete_value(current, name.c_str());
            continue;
        }
        DWORD type;
        std::vector<BYTE> data;
        if (!parse_data(p, &type, &data))
            return line_error(error, number, "cannot read the value's data");
        sim_reg_set_value(current, name.c_str(), type, data.data(), data.size());
    }
    return true;
}

/* ---- Handles ----------------------------------------------------------- */

struct SimKey {
    int root;
    std::string path; /* below the root */
    REGSAM access;
};

/* Never destroyed: keys the program leaves open stay reachable to the end,
 * after static destructors have run. */
static std::vector<SimKey *> &open_keys = *new std::vector<SimKey *>;

int sim_open_key_count(void) {
    return (int)open_keys.size();
}

static int predefined_root(HKEY key) {
    static const HKEY roots[SIM_ROOT_COUNT] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
                                               HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG};
    for (int i = 0; i < SIM_ROOT_COUNT; i++)
        if (key == roots[i])
            return i;
    return -1;
}

/* Looks a handle up without touching memory it may not point to. */
static bool handle_info(HKEY key, int *root, std::string *path, REGSAM *access) {
    int predefined = predefined_root(key);
    if (predefined >= 0) {
        *root = predefined;
        path->clear();
        *access = KEY_ALL_ACCESS;
        return true;
    }
    for (SimKey *open : open_keys) {
        if ((HKEY)open == key) {
            *root = open->root;
            *path = open->path;
            *access = open->access;
            return true;
        }
    }
    return false;
}

static std::string join_path(const std::string &a, const char *b) {
    if (b == NULL || b[0] == '\0')
        return a;
    if (a.empty())
        return b;
    return a + "\\" + b;
}

static std::string normal_key_path(int root, const std::string &rest) {
    std::string normal = sim_root_names[root];
    for (const std::string &part : split_key_path(rest.c_str()))
        normal += "\\" + part;
    return normal;
}

static bool key_is_denied(int root, const std::string &path) {
    std::string wanted = normal_key_path(root, path);
    for (const std::string &entry : sim.deny_full_access) {
        int entry_root;
        std::string rest;
        if (sim_reg_split_path(entry.c_str(), &entry_root, &rest) && entry_root == root &&
            sim_ieq(normal_key_path(root, rest), wanted))
            return true;
    }
    return false;
}

/* Generic rights stand for the key rights they map to. */
static REGSAM map_generic(REGSAM access) {
    if (access & 0x80000000u)
        access |= KEY_READ;
    if (access & 0x40000000u)
        access |= 0x20006; /* KEY_WRITE */
    if (access & 0x10000000u)
        access |= KEY_ALL_ACCESS;
    return access & ~0xF0000000u;
}

LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY result) {
    (void)options;
    DWORD fault;
    if (sim_fault_hit("RegOpenKeyExA", &fault)) {
        if (result)
            *result = NULL;
        return (LONG)fault;
    }
    if (result == NULL)
        return ERROR_INVALID_PARAMETER;
    *result = NULL;
    int root;
    std::string path;
    REGSAM held;
    if (!handle_info(key, &root, &path, &held))
        return ERROR_INVALID_HANDLE;
    std::string full = join_path(path, sub_key);
    SimNode *node = sim_reg_find(sim_reg_root(root), full.c_str());
    if (node == NULL)
        return ERROR_FILE_NOT_FOUND;
    REGSAM wanted = map_generic(access);
    if ((access & 0x02000000u) != 0) /* MAXIMUM_ALLOWED */
        wanted |= key_is_denied(root, full) ? KEY_READ : KEY_ALL_ACCESS;
    else if ((wanted & write_rights) != 0 && key_is_denied(root, full))
        return ERROR_ACCESS_DENIED;
    SimKey *opened = new SimKey;
    opened->root = root;
    opened->path = full;
    opened->access = wanted;
    open_keys.push_back(opened);
    *result = (HKEY)opened;
    return ERROR_SUCCESS;
}

static void save_after_change(void) {
    if (sim.loaded)
        sim_save_registry();
}

static LONG copy_out(const std::vector<BYTE> &bytes, BYTE *data, DWORD *size) {
    DWORD needed = (DWORD)bytes.size();
    if (data == NULL) {
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed > 0)
        memcpy(data, bytes.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegQueryValueA(HKEY key, LPCSTR sub_key, LPSTR data, PLONG data_size) {
    DWORD fault;
    if (sim_fault_hit("RegQueryValueA", &fault))
        return (LONG)fault;
    if (data != NULL && data_size == NULL)
        return ERROR_INVALID_PARAMETER;
    int root;
    std::string path;
    REGSAM held;
    if (!handle_info(key, &root, &path, &held))
        return ERROR_INVALID_HANDLE;
    bool has_sub_key = sub_key != NULL && sub_key[0] != '\0';
    if (!has_sub_key && (held & KEY_QUERY_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    SimNode *node = sim_reg_find(sim_reg_root(root), join_path(path, sub_key).c_str());
    if (node == NULL)
        return ERROR_FILE_NOT_FOUND;
    const SimValue *value = sim_reg_find_value(node, "");
    /* A key without a default value reads as an empty string. */
    std::vector<BYTE> bytes = value ? value->data : std::vector<BYTE>(1, 0);
    DWORD size = data_size ? (DWORD)(*data_size < 0 ? 0 : *data_size) : 0;
    LONG status = copy_out(bytes, (BYTE *)data, &size);
    if (data_size)
        *data_size = (LONG)size;
    return status;
}

/* The key behind an open handle, when the handle was opened with `needed`
 * access and the key still exists. */
static LONG held_key_node(HKEY key, REGSAM needed, SimNode **node) {
    int root;
    std::string path;
    REGSAM held;
    if (!handle_info(key, &root, &path, &held))
        return ERROR_INVALID_HANDLE;
    if ((held & needed) == 0)
        return ERROR_ACCESS_DENIED;
    *node = sim_reg_find(sim_reg_root(root), path.c_str());
    return *node != NULL ? ERROR_SUCCESS : 1018; /* ERROR_KEY_DELETED */
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD data_size) {
    DWORD fault;
    if (sim_fault_hit("RegQueryValueExA", &fault))
        return (LONG)fault;
    if (reserved != NULL || (data != NULL && data_size == NULL))
        return ERROR_INVALID_PARAMETER;
    SimNode *node;
    LONG status = held_key_node(key, KEY_QUERY_VALUE, &node);
    if (status != ERROR_SUCCESS)
        return status;
    const SimValue *value = sim_reg_find_value(node, name);
    if (value == NULL)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = value->type;
    return copy_out(value->data, data, data_size);
}

LONG RegSetValueA(HKEY key, LPCSTR sub_key, DWORD type, LPCSTR data, DWORD data_size) {
    (void)data_size; /* the string's own length counts */
    DWORD fault;
    if (sim_fault_hit("RegSetValueA", &fault))
        return (LONG)fault;
    if (type != REG_SZ || data == NULL)
        return ERROR_INVALID_PARAMETER;
    int root;
    std::string path;
    REGSAM held;
    if (!handle_info(key, &root, &path, &held))
        return ERROR_INVALID_HANDLE;
    std::string full = join_path(path, sub_key);
    SimNode *node = sim_reg_find(sim_reg_root(root), full.c_str());
    if (sub_key != NULL && sub_key[0] != '\0') {
        if (node == NULL && (held & 0x0004 /* KEY_CREATE_SUB_KEY */) == 0)
            return ERROR_ACCESS_DENIED;
        if (node != NULL && key_is_denied(root, full))
            return ERROR_ACCESS_DENIED;
        if (node == NULL)
            node = sim_reg_create(sim_reg_root(root), full.c_str());
    } else {
        if ((held & KEY_SET_VALUE) == 0)
            return ERROR_ACCESS_DENIED;
        if (node == NULL)
            return 1018; /* ERROR_KEY_DELETED */
    }
    sim_reg_set_value(node, "", REG_SZ, (const BYTE *)data, strlen(data) + 1);
    save_after_change();
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data,
                    DWORD data_size) {
    (void)reserved;
    DWORD fault;
    if (sim_fault_hit("RegSetValueExA", &fault))
        return (LONG)fault;
    SimNode *node;
    LONG status = held_key_node(key, KEY_SET_VALUE, &node);
    if (status != ERROR_SUCCESS)
        return status;
    if (data == NULL && data_size != 0)
        return 998; /* ERROR_NOACCESS */
    sim_reg_set_value(node, name, type, data, data_size);
    save_after_change();
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
    DWORD fault;
    if (sim_fault_hit("RegDeleteValueA", &fault))
        return (LONG)fault;
    SimNode *node;
    LONG status = held_key_node(key, KEY_SET_VALUE, &node);
    if (status != ERROR_SUCCESS)
        return status;
    if (!sim_reg_delete_value(node, name))
        return ERROR_FILE_NOT_FOUND;
    save_after_change();
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    DWORD fault;
    if (sim_fault_hit("RegCloseKey", &fault))
        return (LONG)fault;
    if (predefined_root(key) >= 0)
        return ERROR_SUCCESS;
    for (size_t i = 0; i < open_keys.size(); i++) {
        if ((HKEY)open_keys[i] == key) {
            delete open_keys[i];
            open_keys.erase(open_keys.begin() + (long)i);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_HANDLE;
}
