#include "run/tarsk4.h"

#include "filesvc/crc32.h"
#include "platform.h"
#include "run/association.h"
#include "run/console_output.h"
#include "run/reporting.h"
#include "worm/worm_definition.h"

static const char authorship_notice[] = "Version 1.0";

int run_repair(int, char **) {
    console_output_init();
    crc32_build_table();
    err_printf("%s REGISTRY&FILE REPAIR UTILITY  %s\n", display_name(), authorship_notice);

    int code = check_exe_association();
    if (code != 0)
        return code;

    if (run_counters.worm_pass_enabled)
        run_worm_pass();

    if (run_counters.error_count != 0)
        out_printf("Errors: %d!\n", run_counters.error_count);
    else
        out_printf("No errors. (Repairs done: %d)\n", run_counters.repair_count);

    err_printf("Exiting...");
    err_flush();
    Sleep(2000);
    out_printf("Done.\n");
    out_flush();

    if (run_counters.restart_needed) {
        out_printf("Please reboot PC NOW to finish removing process.\n");
        /* Whoever logs the output to a file must still see the request. */
        out_flush();
        for (;;)
            Sleep(INFINITE);
    }
    return 0;
}
