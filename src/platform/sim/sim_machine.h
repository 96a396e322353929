/* The simulated Windows machine behind sim_windows.h.
 *
 * A machine is a folder a person can read and edit:
 *   machine.ini   family, version, directories, files in use, keys that
 *                 refuse full access, whether Sleep waits, injected faults
 *   registry.reg  the registry as a REGEDIT4 file, written back atomically
 *                 (temporary file, then rename) after every change
 *   attributes    one line per file whose attributes are not plain archive:
 *                 hexadecimal attributes, a blank, the Windows path
 *   C/            drive C:, looked up without regard to letter case
 *
 * This header is the machine's control panel for the native entry point,
 * the machine tool and the tests; the program itself never includes it.
 */
#ifndef TARSK4_SIM_MACHINE_H
#define TARSK4_SIM_MACHINE_H

#include <stddef.h>

#include "sim_windows.h"

/* Loads the machine in `dir`. On failure returns false and writes a
 * sentence for the user into `error` (never more than `error_size` bytes). */
bool sim_machine_load(const char *dir, char *error, size_t error_size);

/* Loads the machine named by the environment variable TARSK4_MACHINE, and
 * makes stdout and stderr Windows text streams (CR LF). On failure prints
 * the reason on the host's stderr and returns false. */
bool sim_boot(void);

/* Forgets the loaded machine (closes nothing the program left open: that is
 * counted below). */
void sim_machine_unload(void);

/* Creates a clean machine folder of a family: "95", "98", "me", "nt40",
 * "2000", "xp" or "10". */
bool sim_machine_create(const char *dir, const char *family, char *error, size_t error_size);

/* Fault injection: the `nth` call (1 = the next one) of the platform function
 * named `function` (a Win32 name, or "fopen", "fread", "fwrite", "fclose",
 * "remove", "rename") fails with `error`; with `for_good`, every call from
 * the nth on fails. Faults can also be listed in machine.ini. */
void sim_fault_add(const char *function, int nth, DWORD error, bool for_good);
void sim_faults_clear(void);

/* Registry keys and files the program opened and has not closed yet. */
int sim_open_key_count(void);
int sim_open_file_count(void);

#endif
