#!/usr/bin/python3
"""Tests for scripts/check-pe: small PE fixtures built now with mingw-w64,
one good and one per fault, each of which the gate must name.

Run: /usr/bin/python3 tools/pe/test_check_pe.py
Needs Debian's gcc-mingw-w64-i686-win32, gcc-mingw-w64-x86-64-win32 and
binutils-mingw-w64-i686; installs them when missing and running as root.
"""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
GATE = os.path.join(ROOT, "scripts", "check-pe")
FIXTURE = os.path.join(HERE, "fixtures", "fixture.c")
ORDINAL_DEF = os.path.join(HERE, "fixtures", "ordinal.def")
REPO_INSTRUCTIONS = os.path.join(HERE, "instructions.txt")

CC32 = "i686-w64-mingw32-gcc"
CC64 = "x86_64-w64-mingw32-gcc"
VERSION_4 = ["-Wl,--major-os-version,4", "-Wl,--minor-os-version,0",
             "-Wl,--major-subsystem-version,4", "-Wl,--minor-subsystem-version,0"]
CONSOLE_4 = ["-Wl,--subsystem,console:4.0"]

# The imports the fixtures may use. GetTickCount and user32 are left out on
# purpose.
FIXTURE_IMPORTS = """\
# DLL        function     systems  source
kernel32.dll ExitProcess  95,NT4   test
kernel32.dll GetVersion   95,NT4   test
"""


TOOLS = {CC32: "gcc-mingw-w64-i686-win32", CC64: "gcc-mingw-w64-x86-64-win32",
         "i686-w64-mingw32-dlltool": "binutils-mingw-w64-i686",
         "i686-w64-mingw32-objdump": "binutils-mingw-w64-i686"}


def ensure_tools():
    """Installs the cross tools the fixtures need, if any is missing."""
    missing = sorted({package for tool, package in TOOLS.items() if shutil.which(tool) is None})
    if not missing:
        return
    if os.geteuid() != 0:
        raise RuntimeError("missing Debian packages: " + " ".join(missing))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update"], check=True, env=env)
    subprocess.run(["apt-get", "install", "-y", "--no-install-recommends"] + missing, check=True,
                   env=env)


def case(name, fails, problem, defines=(), cflags=("-Os", "-march=i386"), link=None,
         cc=CC32, libs=("-lkernel32",), imports=FIXTURE_IMPORTS, instructions=None):
    """One fixture: how to build it, which check must fail (None: none) and a
    regular expression for the message that must name the fault."""
    return dict(name=name, fails=fails, problem=problem, defines=defines, cflags=cflags,
                link=CONSOLE_4 + VERSION_4 if link is None else link, cc=cc, libs=libs,
                imports=imports, instructions=instructions)


INSTRUCTION_CASES = [
    # (inline assembly, mnemonic objdump shows, the CPU the gate names)
    ("cmovl %ecx, %eax", "cmovl", "the Pentium Pro"),
    ("fcmovb %st(1), %st", "fcmovb", "the Pentium Pro"),
    ("fcomi %st(1), %st", "fcomi", "the Pentium Pro"),
    ("fucomip %st(1), %st", "fucomip", "the Pentium Pro"),
    ("cmpxchg %ecx, (%edx)", "cmpxchg", "the 486"),
    ("cmpxchg8b (%esi)", "cmpxchg8b", "the Pentium"),
    ("xadd %ecx, (%edx)", "xadd", "the 486"),
    ("bswap %eax", "bswap", "the 486"),
    ("cpuid", "cpuid", "a late 486 or the Pentium"),
    ("rdtsc", "rdtsc", "the Pentium"),
    ("ud2", "ud2", "the Pentium Pro"),
    ("nopl (%eax)", "nop", "the Pentium Pro (long NOP)"),
    ("movd %eax, %mm0", "movd", "an MMX/SSE CPU"),
    ("addps %xmm1, %xmm0", "addps", "an MMX/SSE CPU"),
    ("endbr32", "endbr32", "a later x86"),
]


def later_instruction(mnemonic, cpu):
    """The gate's line for an instruction the 386 lacks; mnemonic is a regular
    expression."""
    return r"(?m)^\s+%s\b.* at 0x[0-9a-f]+ needs %s$" % (mnemonic, re.escape(cpu))

CASES = [
    case("good", None, None),
    case("x86_64 image", "PE32 format", r"magic 0x20b, not 0x10b", cc=CC64, cflags=("-Os",)),
    case("GUI subsystem", "console subsystem", r"subsystem is 2, not 3",
         link=["-Wl,--subsystem,windows:4.0"] + VERSION_4),
    case("subsystem version 6.0", "subsystem version 4.0", r"subsystem version is 6\.0",
         link=CONSOLE_4 + VERSION_4 + ["-Wl,--major-subsystem-version,6"]),
    case("OS version 5.1", "OS version 4.0", r"OS version is 5\.1",
         link=CONSOLE_4 + VERSION_4 + ["-Wl,--major-os-version,5", "-Wl,--minor-os-version,1"]),
    case("TLS directory", "no TLS directory", r"TLS directory at RVA 0x[0-9a-f]+",
         defines=["FIXTURE_TLS"]),
    case("compiled for the i686", "386 instructions only",
         later_instruction(r"cmov\w+", "the Pentium Pro"),
         defines=["FIXTURE_SELECT"], cflags=("-O2", "-march=i686")),
    case("import missing from the list", "imports reviewed",
         r"(?i)kernel32\.dll!GetTickCount: not in ", defines=["FIXTURE_UNLISTED_IMPORT"]),
    case("import from user32", "imports reviewed",
         r"(?i)user32\.dll!MessageBeep: the program may import only",
         defines=["FIXTURE_OTHER_DLL"], libs=("-lkernel32", "-luser32")),
    case("import by ordinal", "imports reviewed", r"(?i)kernel32\.dll!#99: import by ordinal",
         defines=["FIXTURE_ORDINAL"], libs=("-lkernel32", "ORDINAL_LIB")),
    case("386 instruction nobody reviewed", "instructions reviewed",
         r"(?m)^\s+aaa at 0x[0-9a-f]+, not in ", defines=['FIXTURE_INSN="aaa"']),
] + [
    case("instruction " + mnemonic, "386 instructions only",
         later_instruction(re.escape(mnemonic), cpu),
         defines=['FIXTURE_INSN="%s"' % asm])
    for asm, mnemonic, cpu in INSTRUCTION_CASES
]


class CheckPeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        ensure_tools()
        cls.dir = tempfile.mkdtemp(prefix="check-pe-test-")
        cls.imports = cls.write("imports.txt", FIXTURE_IMPORTS)
        cls.ordinal_lib = os.path.join(cls.dir, "libordinal.a")
        subprocess.run(["i686-w64-mingw32-dlltool", "-d", ORDINAL_DEF, "-l", cls.ordinal_lib],
                       check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def write(cls, name, text):
        path = os.path.join(cls.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def build(self, c):
        exe = os.path.join(self.dir, c["name"].replace(" ", "_") + ".exe")
        libs = [self.ordinal_lib if lib == "ORDINAL_LIB" else lib for lib in c["libs"]]
        command = ([c["cc"], "-nostdlib", "-fno-asynchronous-unwind-tables"] +
                   list(c["cflags"]) + ["-D" + d for d in c["defines"]] +
                   ["-o", exe, FIXTURE] + libs + c["link"])
        subprocess.run(command, check=True)
        return exe

    def gate(self, exe, imports=None, instructions=REPO_INSTRUCTIONS):
        run = subprocess.run(
            ["/usr/bin/python3", GATE, "--imports", imports or self.imports,
             "--instructions", instructions, exe],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
        return run.returncode, run.stdout + run.stderr

    def failed_checks(self, output):
        return [line.split()[:-1] for line in output.splitlines()
                if line.startswith("  ") and line.rstrip().endswith("FAIL")]

    def test_fixtures(self):
        for c in CASES:
            with self.subTest(c["name"]):
                code, output = self.gate(self.build(c))
                failed = [" ".join(words) for words in self.failed_checks(output)]
                if c["fails"] is None:
                    self.assertEqual(code, 0, output)
                    self.assertEqual(failed, [], output)
                    self.assertIn("all checks passed", output)
                else:
                    self.assertEqual(code, 1, output)
                    self.assertIn(c["fails"], failed, output)
                    self.assertRegex(output, c["problem"])
                    self.assertNotIn("all checks passed", output)

    def test_bad_lists_are_refused(self):
        exe = self.build(CASES[0])
        lists = [
            # (imports, instructions, message)
            (FIXTURE_IMPORTS + "kernel32.dll GetTickCount 95 test\n", None,
             "not known to exist on NT4"),
            (FIXTURE_IMPORTS + "kernel32.dll GetTickCount NT4 test\n", None,
             "not known to exist on 95"),
            (FIXTURE_IMPORTS + "user32.dll MessageBeep 95,NT4 test\n", None,
             "not a DLL the program may import from"),
            (FIXTURE_IMPORTS + "kernel32.dll GetTickCount\n", None, "want 'DLL FUNCTION"),
            (None, "mov 8086\ncmovne P6\n", "cmovne needs the Pentium Pro, not a 386"),
            (None, "bswap 486\n", "bswap needs the 486, not a 386"),
        ]
        for imports, instructions, message in lists:
            with self.subTest(message):
                imports_path = self.write("bad-imports.txt", imports or FIXTURE_IMPORTS)
                instructions_path = (self.write("bad-instructions.txt", instructions)
                                     if instructions else REPO_INSTRUCTIONS)
                code, output = self.gate(exe, imports_path, instructions_path)
                self.assertEqual(code, 2, output)
                self.assertIn(message, output)

    def test_not_a_pe_file(self):
        for name, data in (("text", b"just text\n"), ("empty", b""),
                           ("mz only", b"MZ" + b"\0" * 62)):
            with self.subTest(name):
                path = os.path.join(self.dir, "not-pe.bin")
                with open(path, "wb") as f:
                    f.write(data)
                code, output = self.gate(path)
                self.assertEqual(code, 1, output)
                self.assertIn("check-pe: FAILED", output)
                self.assertNotIn("Traceback", output)


if __name__ == "__main__":
    unittest.main()
