/* tarsk4-machine: see machine_tool.h. */
#include "machine_tool.h"

int main(int argc, char **argv) {
    return machine_tool_main(argc, argv);
}
