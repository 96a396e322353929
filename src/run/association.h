/* The command Windows uses to start executable files: check and repair. */
#ifndef TARSK4_RUN_ASSOCIATION_H
#define TARSK4_RUN_ASSOCIATION_H

extern const char expected_exe_command[];

/* A source of key presses: returns a character, or -1 when none can be read. */
typedef int (*KeyReader)(void *context);

/* Waits for Y or N (either case) from `read_key`, ignoring every other key.
 * Returns 'Y', 'N', or -1 when the keys cannot be read. */
int wait_for_yes_no(KeyReader read_key, void *context);

/* The association step: 0 to go on, or the exit code (1 or 2) that ends the
 * run. Answers come from the console. */
int check_exe_association(void);

/* The same with another source of answers (tests). */
int check_exe_association_with(KeyReader read_key, void *context);

#endif
