/* Key presses from the console's own input, never from standard input. */
#ifndef TARSK4_RUN_CONSOLE_KEYS_H
#define TARSK4_RUN_CONSOLE_KEYS_H

/* Reads one key press for a question: first throws away every key already
 * waiting, then waits for a press that carries a character and returns that
 * character (1 to 255). Releases, Shift, Ctrl or Alt alone, mouse, focus,
 * menu and window events never count. The console input is in raw mode
 * (no echo, no line editing, Ctrl+C read as a key) while it waits, and its
 * earlier mode is restored before returning. Returns -1 when there is no
 * console input or reading it fails. */
int console_read_key(void *unused);

#endif
