"""Whole runs of tarsk4, one row each.

A row gives the machine before the run, the keys typed, the exact bytes of
standard output and standard error, the exit code (or RESTART: the program
asks for a restart and waits), the machine after the run and the machine
after a restart. The same rows run on the simulated machine and under Wine;
the backends plant the machine and read it back.

Paths in texts use {sys} for the system directory and {win} for the Windows
directory, as the program prints them on the machine at hand. Texts are
written with "\\n"; the program's text streams write CR LF.
"""

RESTART = "restart"
NT_FAMILY = ("nt40", "2000", "xp", "10")
WIN95_FAMILY = ("95", "98", "me")
ALL_FAMILIES = WIN95_FAMILY + NT_FAMILY

DEFAULT_COMMAND = '"%1" %*'
WORM_COMMAND = '{sys}\\WINSVRC.EXE "%1" %*'
RUN_KEY = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
ASSOCIATION_KEY = "HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command"
VXD = "{sys}\\WINSVRC.VXD"
EXE = "{sys}\\WINSVRC.EXE"
WININIT = "{win}\\WININIT.INI"
WININIT_BAK = "{win}\\WININIT.BAK"

# Contents of planted files.
WORM = "worm"  # harmless bytes forged to the worm's signature
FOLDER = "folder"  # a directory of that name

BANNER = "TARSK4 REGISTRY&FILE REPAIR UTILITY  Version 1.0\n"
QUESTION = 'Do you want to repair registry value to default ["%1" %*] ? (Y/N)\n'
NO_CONSOLE = "Error: No console to answer from; taken as N."


def association_lines(value, outcome):
    """Step 1: 'correct', 'repaired' or 'canceled'."""
    text = "1) Checking key [HKCR\\exefile\\shell\\open\\command]\n"
    text += "Registry key value=[%s]\n" % value
    if outcome == "correct":
        return text + "Registry value is correct. Nothing to repair.\n"
    text += QUESTION
    if outcome == "repaired":
        return text + "Registry value repaired.\n"
    return text + "Registry value not repaired (canceled).\n"


REG_OUTCOMES = {
    "removed": "...key found...OK (key removed)\n",
    "absent": "OK (not found)\n",
    "too big": "FAIL - cannot query key (winerror=234)\n",
    "cannot remove": "...key found...",
}


def reg_step(step, value_name, outcome):
    text = "%d) Checking registry value\n" % step
    text += "[HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
    if outcome == "no key":
        return text
    return text + "...opened......checking( %s )..." % value_name + REG_OUTCOMES[outcome]


FILE_OUTCOMES = {
    "deleted": "...opened......virus found...\nOK.. deleted.\n",
    "in use": "...opened......virus found...\nDelete file error (winerror=32)\n",
    "absent": "OK (not found)\n",
    "not recognized": "...opened......virus not recognized...\n",
    "cannot open": "...cannot open...\n",
}


def file_step(step, name, outcome):
    return "%d) Checking file\n[{sys}\\%s]\n" % (step, name) + FILE_OUTCOMES[outcome]


def worm_pass(vxd_value="absent", mod_value="absent", vxd_file="absent", exe_file="absent"):
    return (
        "Checking for Worm:Navidad\n"
        + reg_step(2, "winsvrc.vxd", vxd_value)
        + reg_step(3, "Win32BaseServiceMOD", mod_value)
        + file_step(4, "WINSVRC.VXD", vxd_file)
        + file_step(5, "WINSVRC.EXE", exe_file)
    )


def ending(errors=0, repairs=0, restart=False):
    text = "Errors: %d!\n" % errors if errors else "No errors. (Repairs done: %d)\n" % repairs
    text += "Done.\n"
    if restart:
        text += "Please reboot PC NOW to finish removing process.\n"
    return text


CLEAN_STDOUT = association_lines(DEFAULT_COMMAND, "correct") + worm_pass() + ending()
INFECTED = dict(
    association=WORM_COMMAND,
    run_values={"winsvrc.vxd": VXD, "Win32BaseServiceMOD": EXE},
    files={VXD: WORM, EXE: WORM},
)
ALL_REMOVED_PASS = worm_pass("removed", "removed", "deleted", "deleted")
WORM_GONE = dict(
    association=DEFAULT_COMMAND,
    run_values={"winsvrc.vxd": None, "Win32BaseServiceMOD": None, "SystemTray": "SysTray.Exe"},
    files={VXD: False, EXE: False},
)


def repaired_stdout(vxd_file, exe_file):
    """An infected machine whose user answers Y: both Run values go, the
    files as given; a file in use asks for the restart."""
    return (
        association_lines(WORM_COMMAND, "repaired")
        + worm_pass("removed", "removed", vxd_file, exe_file)
        + ending(repairs=4, restart="in use" in (vxd_file, exe_file))
    )


def infected(**changes):
    machine = dict(INFECTED)
    machine.update(changes)
    return machine


def row(name, **fields):
    """One run. Fields:
    families      where it applies (each family is a machine of its own)
    machine       the machine before: association (text, or None for no key),
                  run_values ({name: text}; None for no Run key), files
                  ({path: WORM, FOLDER or bytes}), attributes ({path: int}),
                  in_use [paths], wininit (bytes), args [program arguments],
                  faults [(function, nth, error, for_good)] and settings
                  {name: value} of the simulated machine
    keys          None: no console at all; otherwise a list of steps:
                  ("before", text) typed before the program starts,
                  ("answer", text) typed once it waits for a key,
                  ("stdin", bytes) standard input redirected from a file
    stdout/stderr expected texts
    exit          0, 1, 2 or RESTART
    after         checks on the machine after the run (see check_machine)
    after_restart checks after the restart
    sim_only      the reason a row cannot run under Wine, or None
    on_wine       where Wine itself departs from Windows: the reason, with its
                  source, and the fields whose Wine results differ; both
                  results are checked, each on its own implementation
    """
    base = dict(
        name=name,
        families=NT_FAMILY,
        machine={},
        keys=[],
        stdout="",
        stderr=BANNER,
        exit=0,
        after={},
        after_restart=None,
        sim_only=None,
        on_wine=None,
    )
    unknown = set(fields) - set(base)
    assert not unknown, "unknown fields %s in row %s" % (unknown, name)
    base.update(fields)
    return base


ROWS = [
    row(
        "clean machine",
        families=ALL_FAMILIES,
        stdout=CLEAN_STDOUT,
        stderr=BANNER + "Exiting...",
        after=dict(association=DEFAULT_COMMAND, files={VXD: False, EXE: False}, wininit=None),
    ),
    row(
        "arguments are ignored",
        families=("nt40", "95"),
        machine=dict(args=["/?", "--remove", "C:\\WINDOWS"]),
        stdout=CLEAN_STDOUT,
        stderr=BANNER + "Exiting...",
    ),
    row(
        "infected NT, the worm's program running",
        families=NT_FAMILY,
        machine=infected(in_use=[EXE]),
        keys=[("answer", "y")],
        stdout=repaired_stdout("deleted", "in use"),
        stderr=BANNER + "Exiting...",
        exit=RESTART,
        after=dict(WORM_GONE, files={VXD: False, EXE: True}, pending=[EXE], wininit=None),
        after_restart=dict(files={EXE: False}, pending=[]),
    ),
    row(
        "infected 95, the worm's program running",
        families=WIN95_FAMILY,
        machine=infected(in_use=[EXE]),
        keys=[("answer", "Y")],
        stdout=repaired_stdout("deleted", "in use"),
        stderr=BANNER + "Exiting...",
        exit=RESTART,
        after=dict(
            WORM_GONE,
            files={VXD: False, EXE: True},
            wininit=b"[rename]\r\nNUL=" + EXE.encode() + b"\r\n",
        ),
        after_restart=dict(
            files={EXE: False, WININIT: False},
            wininit_bak=b"[rename]\r\nNUL=" + EXE.encode() + b"\r\n",
        ),
    ),
    row(
        "infected 95 with a WININIT.INI of its own",
        families=WIN95_FAMILY,
        machine=infected(
            in_use=[EXE],
            wininit=b"[Boot]\r\nshell=Explorer.exe\r\n[Rename]\r\nNUL=C:\\OLDTEMP.TMP\r\n\r\n[Other]\r\nx=1",
        ),
        keys=[("answer", "y")],
        stdout=repaired_stdout("deleted", "in use"),
        stderr=BANNER + "Exiting...",
        exit=RESTART,
        after=dict(
            WORM_GONE,
            files={VXD: False, EXE: True},
            wininit=b"[Boot]\r\nshell=Explorer.exe\r\n[Rename]\r\nNUL="
            + EXE.encode()
            + b"\r\nNUL=C:\\OLDTEMP.TMP\r\n\r\n[Other]\r\nx=1",
        ),
        after_restart=dict(files={EXE: False}),
    ),
    row(
        "both files in use on NT",
        families=NT_FAMILY,
        machine=infected(in_use=[VXD, EXE]),
        keys=[("answer", "y")],
        stdout=repaired_stdout("in use", "in use"),
        stderr=BANNER + "Exiting...",
        exit=RESTART,
        after=dict(WORM_GONE, files={VXD: True, EXE: True}, pending=[VXD, EXE]),
        after_restart=dict(files={VXD: False, EXE: False}, pending=[]),
    ),
    row(
        "both files in use on 95: entries in reverse order",
        families=WIN95_FAMILY,
        machine=infected(in_use=[VXD, EXE]),
        keys=[("answer", "y")],
        stdout=repaired_stdout("in use", "in use"),
        stderr=BANNER + "Exiting...",
        exit=RESTART,
        after=dict(
            WORM_GONE,
            files={VXD: True, EXE: True},
            wininit=b"[rename]\r\nNUL=" + EXE.encode() + b"\r\nNUL=" + VXD.encode() + b"\r\n",
        ),
        after_restart=dict(files={VXD: False, EXE: False}),
    ),
    row(
        "files of the worm's names with other contents stay",
        families=("nt40", "95"),
        machine=infected(association=DEFAULT_COMMAND, files={VXD: b"MZ not the worm", EXE: b"x" * 40000}),
        stdout=association_lines(DEFAULT_COMMAND, "correct")
        + worm_pass("removed", "removed", "not recognized", "not recognized")
        + ending(repairs=2),
        stderr=BANNER + "Exiting...",
        after=dict(run_values={"winsvrc.vxd": None, "Win32BaseServiceMOD": None}, files={VXD: True, EXE: True}),
    ),
    row(
        "a folder named like the worm's file",
        families=("nt40", "95"),
        machine=dict(files={EXE: FOLDER}),
        stdout=association_lines(DEFAULT_COMMAND, "correct")
        + worm_pass(exe_file="cannot open")
        + ending(errors=1),
        stderr=BANNER + "Exiting...",
        after=dict(files={EXE: True}),
    ),
    row(
        "read-only hidden system worm files are deleted",
        families=("nt40", "95"),
        machine=dict(files={VXD: WORM, EXE: WORM}, attributes={VXD: 0x07, EXE: 0x03}),
        stdout=association_lines(DEFAULT_COMMAND, "correct")
        + worm_pass(vxd_file="deleted", exe_file="deleted")
        + ending(repairs=2),
        stderr=BANNER + "Exiting...",
        after=dict(files={VXD: False, EXE: False}),
    ),
    row(
        "a Run value too big to read",
        families=("nt40", "95"),
        machine=dict(run_values={"winsvrc.vxd": "C:\\" + "X" * 600, "SystemTray": "SysTray.Exe"}),
        stdout=association_lines(DEFAULT_COMMAND, "correct")
        + worm_pass(vxd_value="too big")
        + ending(errors=1),
        stderr=BANNER + "Exiting...",
        after=dict(run_values={"winsvrc.vxd": "C:\\" + "X" * 600}),
    ),
    row(
        "no Run key at all",
        families=("nt40", "95"),
        machine=dict(run_values=None),
        stdout=association_lines(DEFAULT_COMMAND, "correct")
        + worm_pass("no key", "no key")
        + ending(errors=2),
        stderr=BANNER + "Error: Cannot open key.Error: Cannot open key.Exiting...",
    ),
    row(
        "no association key: exit 1",
        families=("nt40", "95"),
        machine=infected(association=None),
        stdout="",
        stderr=BANNER + "Error: Cannot open registry key.",
        exit=1,
        after=dict(run_values={"winsvrc.vxd": VXD}, files={VXD: True, EXE: True}),
    ),
    row(
        "association value too long: exit 2",
        families=("nt40", "95"),
        machine=infected(association="C:\\" + "A" * 197),
        stdout="1) Checking key [HKCR\\exefile\\shell\\open\\command]\n",
        stderr=BANNER + "Error: Cannot query registry key value",
        exit=2,
        after=dict(association="C:\\" + "A" * 197, run_values={"winsvrc.vxd": VXD}, files={EXE: True}),
    ),
    row(
        "the longest association value that fits",
        families=("nt40",),
        machine=dict(association="C:\\" + "A" * 196),
        keys=[("answer", "n")],
        stdout=association_lines("C:\\" + "A" * 196, "canceled") + worm_pass() + ending(),
        stderr=BANNER + "Exiting...",
        after=dict(association="C:\\" + "A" * 196),
    ),
    row(
        "answer N with the worm named switches the pass off",
        families=("nt40", "95"),
        machine=infected(association="C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE %1"),
        keys=[("answer", "n")],
        stdout=association_lines("C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE %1", "canceled") + ending(),
        stderr=BANNER + "Exiting...",
        after=dict(
            association="C:\\WINDOWS\\SYSTEM\\WINSVRC.EXE %1",
            run_values={"winsvrc.vxd": VXD, "Win32BaseServiceMOD": EXE},
            files={VXD: True, EXE: True},
        ),
    ),
    row(
        "answer N without the worm named keeps the pass",
        families=("nt40",),
        machine=infected(association="notepad.exe %1"),
        keys=[("answer", "N")],
        stdout=association_lines("notepad.exe %1", "canceled") + ALL_REMOVED_PASS + ending(repairs=4),
        stderr=BANNER + "Exiting...",
        after=dict(WORM_GONE, association="notepad.exe %1"),
    ),
    row(
        "other keys and Ctrl+C do not answer",
        families=("nt40",),
        machine=infected(),
        keys=[("answer", "x"), ("answer", "\r"), ("answer", "\x03"), ("answer", "\x1b[A"), ("answer", "y")],
        stdout=repaired_stdout("deleted", "deleted"),
        stderr=BANNER + "Exiting...",
        after=WORM_GONE,
        sim_only="Wine's console ends the program on Ctrl+C even in raw mode",
    ),
    row(
        "keys typed before the question are thrown away",
        families=("nt40",),
        machine=infected(),
        keys=[("before", "yyy"), ("answer", "n")],
        stdout=association_lines(WORM_COMMAND, "canceled") + ending(),
        stderr=BANNER + "Exiting...",
        after=dict(association=WORM_COMMAND, files={VXD: True, EXE: True}),
        on_wine=dict(
            reason="Wine departs from Windows: its console turns typed bytes into key events only"
            " while a read is pending, so keys typed early answer the question (measured with Debian's"
            " Wine 8); Windows queues them as input events (ReadConsoleInput, GetNumberOfConsoleInputEvents)",
            keys=[("before", "yyy")],
            stdout=repaired_stdout("deleted", "deleted"),
            after=WORM_GONE,
        ),
    ),
    row(
        "standard input holding Y does not answer",
        families=("nt40",),
        machine=infected(),
        keys=[("stdin", b"Y\r\nY\r\n"), ("answer", "n")],
        stdout=association_lines(WORM_COMMAND, "canceled") + ending(),
        stderr=BANNER + "Exiting...",
        after=dict(association=WORM_COMMAND, files={VXD: True, EXE: True}),
        on_wine=dict(
            reason="Wine departs from Windows: with standard input redirected from a file, wine64 gives"
            " the program no console input, so it reports that and takes N (measured with Debian's Wine 8);"
            " Windows still reads CONIN$ from the console window",
            keys=[("stdin", b"Y\r\nY\r\n")],
            stderr=BANNER + NO_CONSOLE + "Exiting...",
        ),
    ),
    row(
        "no console to answer from: taken as N",
        families=("nt40",),
        machine=infected(),
        keys=None,
        stdout=association_lines(WORM_COMMAND, "canceled") + ending(),
        stderr=BANNER + NO_CONSOLE + "Exiting...",
        after=dict(association=WORM_COMMAND, run_values={"winsvrc.vxd": VXD}, files={VXD: True, EXE: True}),
    ),
    row(
        "a Run value that cannot be removed",
        families=("nt40",),
        machine=dict(INFECTED, association=DEFAULT_COMMAND, faults=[("RegDeleteValueA", 1, 5, False)]),
        stdout=association_lines(DEFAULT_COMMAND, "correct")
        + worm_pass("cannot remove", "removed", "deleted", "deleted")
        + ending(errors=1),
        stderr=BANNER + "Error: Cannot remove value!Exiting...",
        after=dict(run_values={"winsvrc.vxd": VXD, "Win32BaseServiceMOD": None}, files={VXD: False, EXE: False}),
        sim_only="needs an injected failure",
    ),
    row(
        "association cannot be written: exit 2",
        families=("nt40",),
        machine=dict(INFECTED, faults=[("RegSetValueA", 1, 5, False)]),
        keys=[("answer", "y")],
        stdout="1) Checking key [HKCR\\exefile\\shell\\open\\command]\n"
        + "Registry key value=[%s]\n" % WORM_COMMAND
        + QUESTION,
        stderr=BANNER + "Error: Cannot write to registry!",
        exit=2,
        after=dict(association=WORM_COMMAND, files={VXD: True, EXE: True}),
        sim_only="needs an injected failure",
    ),
    row(
        "a system directory too long for a file path",
        families=("nt40",),
        machine=dict(settings={"system_dir": "C:\\" + "D" * 250}),
        stdout=association_lines(DEFAULT_COMMAND, "correct")
        + "Checking for Worm:Navidad\n"
        + reg_step(2, "winsvrc.vxd", "absent")
        + reg_step(3, "Win32BaseServiceMOD", "absent")
        + "4) 5) "
        + ending(errors=2),
        stderr=BANNER + "Error: File path too long.Error: File path too long.Exiting...",
        sim_only="the system directory of Wine cannot be moved",
    ),
]
