#include "worm/registry_value_check.h"

#include "run/console_output.h"
#include "run/reporting.h"

void check_registry_value(const RegistryValueEntry *entry) {
    print_step_number();
    out_printf("Checking registry value\n[%s\\%s]\n", hive_short_name(entry->hive),
               name_or_default(entry->subkey));

    HKEY key;
    if (RegOpenKeyExA(entry->hive, entry->subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        run_counters.error_count++;
        report_error(-1, "Cannot open key.");
        return;
    }
    out_printf("...opened......checking( %s )...", entry->value_name);

    /* Read only to learn whether the value exists. */
    BYTE data[512];
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, entry->value_name, NULL, NULL, data, &size);
    if (status == ERROR_SUCCESS) {
        out_printf("...key found...");
        if (RegDeleteValueA(key, entry->value_name) == ERROR_SUCCESS) {
            run_counters.repair_count++;
            RegCloseKey(key);
            out_printf("OK (key removed)\n");
        } else {
            run_counters.error_count++;
            report_error(-1, "Cannot remove value!");
            RegCloseKey(key);
        }
    } else if (status == ERROR_FILE_NOT_FOUND) {
        out_printf("OK (not found)\n");
        RegCloseKey(key);
    } else {
        out_printf("FAIL - cannot query key (winerror=%d)\n", (int)status);
        run_counters.error_count++;
        RegCloseKey(key);
    }
}
