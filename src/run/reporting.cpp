#include "run/reporting.h"

#include "run/console_output.h"

RunCounters run_counters = {0, 0, 0, false, true};

void run_counters_reset(void) {
    run_counters.error_count = 0;
    run_counters.repair_count = 0;
    run_counters.step_counter = 0;
    run_counters.restart_needed = false;
    run_counters.worm_pass_enabled = true;
}

int report_error(int code, const char *format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    /* The DLL's _vsnprintf leaves a cut message unterminated. */
    message[sizeof message - 1] = '\0';
    err_printf("Error: %s", message);
    return code;
}

void print_step_number(void) {
    run_counters.step_counter++;
    out_printf("%d) ", run_counters.step_counter);
}

const char *hive_short_name(HKEY hive) {
    if (hive == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (hive == HKEY_CURRENT_USER)
        return "HKCU";
    if (hive == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (hive == HKEY_USERS)
        return "HKEY_USERS";
    return "?";
}

const char *name_or_default(const char *text) {
    return text != NULL ? text : "{default}";
}

/* The main module's file name as stored in the program; turned into the
 * display name in place the first time it is asked for. */
static char module_name[] = "tarsk4.exe";
static bool module_name_done;

const char *display_name(void) {
    if (!module_name_done) {
        for (char *c = module_name; *c != '\0'; c++) {
            if (*c == '.') {
                *c = '\0';
                break;
            }
            if (*c >= 'a' && *c <= 'z')
                *c = (char)(*c - 'a' + 'A');
        }
        module_name_done = true;
    }
    return module_name;
}
