#!/usr/bin/env python3
"""Runs the scenario table: every row, on every family it applies to, on a
fresh machine each time. Prints a line per run, then the totals."""

import argparse
import concurrent.futures
import sys

import console_run
import table


def crlf(text):
    return text.replace("\n", "\r\n").encode("latin-1")


def pending_entries(machine, paths):
    """PendingFileRenameOperations as Windows writes it for deletions."""
    entries = []
    for path in paths:
        entries += ["\\??\\" + machine.expand(path), ""]
    return entries


def check_machine(machine, checks, when):
    problems = []

    def differ(what, want, got):
        problems.append("%s: %s is %r, expected %r" % (when, what, got, want))

    if "association" in checks:
        got = machine.association()
        if got != machine.expand(checks["association"]):
            differ("the association", machine.expand(checks["association"]), got)
    for name, want in checks.get("run_values", {}).items():
        want = None if want is None else machine.expand(want)
        got = machine.run_value(name)
        if got != want:
            differ("Run value %r" % name, want, got)
    for path, want in checks.get("files", {}).items():
        got = machine.file_exists(machine.expand(path))
        if got != want:
            differ(machine.expand(path) + " exists", want, got)
    for field, path in (("wininit", table.WININIT), ("wininit_bak", table.WININIT_BAK)):
        if field in checks:
            want = checks[field]
            if want is not None:
                want = machine.expand(want.decode("latin-1")).encode("latin-1")
            got = machine.read_file(machine.expand(path))
            if got != want:
                differ(machine.expand(path), want, got)
    if "pending" in checks:
        want = pending_entries(machine, checks["pending"])
        got = machine.pending_operations()
        if got != want:
            differ("PendingFileRenameOperations", want, got)
    return problems


def run_row(make_machine, row, family):
    machine = make_machine(family, row["machine"])
    try:
        stdout, stderr, result, problems = machine.run(row["keys"])
        want_out = crlf(machine.expand(row["stdout"]))
        want_err = crlf(machine.expand(row["stderr"]))
        if stdout != want_out:
            problems.append("stdout differs:\n  got      %r\n  expected %r" % (stdout, want_out))
        if stderr != want_err:
            problems.append("stderr differs:\n  got      %r\n  expected %r" % (stderr, want_err))
        if result != row["exit"]:
            problems.append("ended with %r, expected %r" % (result, row["exit"]))
        problems += check_machine(machine, row["after"], "after the run")
        if row["after_restart"] is not None:
            machine.restart()
            problems += check_machine(machine, row["after_restart"], "after the restart")
        return problems
    finally:
        machine.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--backend", choices=["sim", "wine"], default="sim")
    parser.add_argument("--program", required=True)
    parser.add_argument("--tool", help="the machine tool (sim backend; wine backend: forges the worm's files)")
    parser.add_argument("--row", action="append", help="run only rows whose name contains this")
    parser.add_argument("--family", action="append", help="run only these families")
    parser.add_argument("--jobs", type=int, default=2, help="runs at a time (wine backend)")
    options = parser.parse_args()

    runs, skipped = [], []
    for row in table.ROWS:
        if options.row and not any(part in row["name"] for part in options.row):
            continue
        for family in row["families"]:
            if options.family and family not in options.family:
                continue
            label = "%s [%s]" % (row["name"], family)
            reason = None
            if options.backend == "wine":
                import wine_backend

                reason = row["sim_only"] or wine_backend.unsupported(family)
            if reason:
                skipped.append((label, reason))
            elif options.backend == "wine" and row["on_wine"]:
                wine_row = dict(row)
                wine_row.update(row["on_wine"])
                runs.append((wine_row, family, label + " (Wine's own result: %s)" % row["on_wine"]["reason"]))
            else:
                runs.append((row, family, label))

    if options.backend == "wine":
        import wine_backend

        def make_machine(family, description):
            return wine_backend.WineMachine(family, description, options.program, options.tool)

        jobs = max(1, options.jobs)
    else:
        import sim_backend

        def make_machine(family, description):
            return sim_backend.SimMachine(options.program, options.tool, family, description)

        jobs = 1

    for label, reason in skipped:
        print("skip %s: %s" % (label, reason))
    sys.stdout.flush()

    def one(run):
        row, family, label = run
        try:
            return label, run_row(make_machine, row, family)
        except Exception as error:  # a machine that could not be made or read
            return label, ["%s: %s" % (type(error).__name__, error)]

    passed = failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for label, problems in pool.map(one, runs):
            if problems:
                failed += 1
                print("FAIL", label)
                for problem in problems:
                    print("    " + problem)
            else:
                passed += 1
                print("ok  ", label)
            sys.stdout.flush()
    print("scenarios: %d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
