#include "run/association.h"

#include "platform.h"
#include "run/console_keys.h"
#include "run/console_output.h"
#include "run/reporting.h"
#include "run/text_search.h"

const char expected_exe_command[] = "\"%1\" %*";

static const char association_subkey[] = "exefile\\shell\\open\\command";
static const char worm_marker[] = "winsvrc";

int wait_for_yes_no(KeyReader read_key, void *context) {
    for (;;) {
        int key = read_key(context);
        if (key < 0)
            return -1;
        if (key >= 'a' && key <= 'z')
            key = key - 'a' + 'A';
        if (key == 'Y' || key == 'N')
            return key;
    }
}

int check_exe_association(void) {
    return check_exe_association_with(console_read_key, NULL);
}

int check_exe_association_with(KeyReader read_key, void *context) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, association_subkey, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return report_error(1, "Cannot open registry key.");

    print_step_number();
    out_printf("Checking key [%s\\%s]\n", hive_short_name(HKEY_CLASSES_ROOT),
               name_or_default(association_subkey));

    /* One byte more than the registry is told about, so that a value stored
     * without its terminator still ends inside the buffer. */
    char value[200 + 1];
    LONG size = 200;
    if (RegQueryValueA(key, NULL, value, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return report_error(2, "Cannot query registry key value");
    }
    value[(size > 0 && size <= 200) ? size : 0] = '\0';
    out_printf("Registry key value=[%s]\n", value);

    const char *result;
    if (strcmp(value, expected_exe_command) == 0) {
        result = "Registry value is correct. Nothing to repair.\n";
    } else {
        out_printf("Do you want to repair registry value to default [%s] ? (Y/N)\n",
                   expected_exe_command);
        /* Whoever logs the output to a file must still see the question. */
        out_flush();
        int answer = wait_for_yes_no(read_key, context);
        if (answer < 0) {
            /* Nobody can answer: nothing is changed without consent. */
            report_error(0, "No console to answer from; taken as N.");
            answer = 'N';
        }
        if (answer == 'Y') {
            if (RegSetValueA(key, NULL, REG_SZ, expected_exe_command,
                             (DWORD)strlen(expected_exe_command)) != ERROR_SUCCESS) {
                RegCloseKey(key);
                return report_error(2, "Cannot write to registry!");
            }
            result = "Registry value repaired.\n";
        } else {
            if (contains_ignore_case(value, worm_marker) >= 0)
                run_counters.worm_pass_enabled = false;
            result = "Registry value not repaired (canceled).\n";
        }
    }
    out_printf("%s", result);
    RegCloseKey(key);
    return 0;
}
