#include "worm/worm_definition.h"

#include "run/console_output.h"

const char worm_name[] = "Worm:Navidad";

static const char run_key[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

const RegistryValueEntry worm_registry_values[2] = {
    {HKEY_LOCAL_MACHINE, run_key, "winsvrc.vxd"},
    {HKEY_LOCAL_MACHINE, run_key, "Win32BaseServiceMOD"},
};

/* Both files carry the same signature over their first 32 KiB. */
const FileSignatureEntry worm_files[2] = {
    {SystemDirectory, "WINSVRC.VXD", 0, 0x8000, 0xEDE3E41D},
    {SystemDirectory, "WINSVRC.EXE", 0, 0x8000, 0xEDE3E41D},
};

void run_worm_pass(void) {
    out_printf("Checking for %s\n", worm_name);
    for (const RegistryValueEntry &entry : worm_registry_values)
        check_registry_value(&entry);
    for (const FileSignatureEntry &entry : worm_files)
        check_worm_file(&entry);
}
