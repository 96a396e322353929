/* The Windows entry: the repair run is the whole program. */
#include "run/tarsk4.h"

int main(int argc, char **argv) {
    return run_repair(argc, argv);
}
