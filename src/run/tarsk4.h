/* The repair run: banner, association step, worm pass, summary, pause, and
 * the restart request. */
#ifndef TARSK4_RUN_TARSK4_H
#define TARSK4_RUN_TARSK4_H

/* Runs the whole repair once and returns the exit code (0, 1 or 2). The
 * arguments are not looked at. When a removal was scheduled for the next
 * restart, it asks for the restart and never returns. */
int run_repair(int argc, char **argv);

#endif
