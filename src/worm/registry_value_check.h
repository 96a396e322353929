/* A registry value the worm leaves: check it, and delete it when present. */
#ifndef TARSK4_WORM_REGISTRY_VALUE_CHECK_H
#define TARSK4_WORM_REGISTRY_VALUE_CHECK_H

#include "platform.h"

struct RegistryValueEntry {
    HKEY hive;
    const char *subkey;
    const char *value_name;
};

/* One numbered check: deletes the value if it exists; raises repair_count
 * when it was removed, error_count when the key cannot be opened or the
 * value cannot be read or removed. */
void check_registry_value(const RegistryValueEntry *entry);

#endif
