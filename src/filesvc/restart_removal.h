/* Removal of a file at the next start of Windows, for files that cannot be
 * deleted while Windows runs. */
#ifndef TARSK4_FILESVC_RESTART_REMOVAL_H
#define TARSK4_FILESVC_RESTART_REMOVAL_H

/* Hands `source` to Windows for removal at the next restart, or for a move
 * to `destination` when that is given. The NT family takes it through
 * MoveFileExA; the 95 family through the [rename] section of WININIT.INI in
 * the Windows directory. Returns non-zero when the request was recorded. */
int schedule_removal_at_restart(const char *source, const char *destination);

/* The 95 family's way: adds the line "destination=source" ("NUL" for an
 * absent name) as the first entry of the [rename] section of the file
 * `ini_path`, creating the section or the file as needed, by writing the new
 * content to `new_path` and putting it in the old one's place. The user's
 * lines are never lost: when the old file cannot be read or the new one
 * cannot be written completely, the old file stays as it was, the new one is
 * removed and nothing is scheduled (returns 0). */
int add_wininit_rename_entry(const char *ini_path, const char *new_path, const char *destination,
                             const char *source);

/* True when every component of `path` after the drive is in 8.3 form, so
 * that the 95 family's start-up, which knows no long names, can use it. */
bool is_short_path(const char *path);

#endif
