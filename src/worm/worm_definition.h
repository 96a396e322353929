/* Worm:Navidad: its name, the registry values and files it leaves, and the
 * pass that removes them. */
#ifndef TARSK4_WORM_WORM_DEFINITION_H
#define TARSK4_WORM_WORM_DEFINITION_H

#include "worm/registry_value_check.h"
#include "worm/worm_file_check.h"

extern const char worm_name[];
extern const RegistryValueEntry worm_registry_values[2];
extern const FileSignatureEntry worm_files[2];

/* Prints the pass's heading, then checks every registry row and every file
 * row in table order; a failure never stops the pass. */
void run_worm_pass(void);

#endif
