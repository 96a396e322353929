/* The native program: the repair run on the simulated machine named by
 * TARSK4_MACHINE. */
#include <stdio.h>

#include "run/tarsk4.h"
#include "sim_machine.h"

/* What sysexits.h calls EX_SOFTWARE: the run itself was fine, but it left
 * handles open, which the tests treat as a fault of the program. */
static const int exit_left_open = 70;

int main(int argc, char **argv) {
    if (!sim_boot())
        return 3;
    int code = run_repair(argc, argv);
    fflush(stdout);
    fflush(stderr);
    if (sim_open_key_count() != 0 || sim_open_file_count() != 0) {
        dprintf(2, "sim: %d registry key(s) and %d file(s) left open\n", sim_open_key_count(),
                sim_open_file_count());
        return exit_left_open;
    }
    return code;
}
