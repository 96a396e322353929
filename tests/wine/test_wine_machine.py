#!/usr/bin/python3
"""Self-test of wine_machine.py on real Wine prefixes: each function does
what the scenario tests will rely on, and Wine behaves as they assume.

Run: /usr/bin/python3 tests/wine/test_wine_machine.py
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_machine as wm  # noqa: E402

SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
EXEFILE_COMMAND = r"HKCR\exefile\shell\open\command"


class WineMachineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.probe = wm.helper_exe("probe")

    def setUp(self):
        self.prefix = wm.new_prefix("nt")
        self.addCleanup(self.prefix.remove)

    def probe_run(self, *args, prefix=None):
        result = wm.run(prefix or self.prefix, self.probe, list(args))
        self.assertEqual(result.code, 0, result)
        return result.stdout.decode().strip()

    def test_windows_versions(self):
        # (version or family, platform id GetVersionExA reports)
        table = [("win95", 1), ("win98", 1), ("winme", 1), ("9x", 1),
                 ("nt40", 2), ("winxp64", 2), ("win10", 2), ("nt", 2)]
        for version, platform in table:
            with self.subTest(version), wm.new_prefix(version) as prefix:
                self.assertEqual(prefix.family, "9x" if platform == 1 else "nt")
                self.assertTrue(self.probe_run("version", prefix=prefix).startswith(
                    "platform %d " % platform))
                self.assertEqual(self.probe_run("sysdir", prefix=prefix), r"C:\windows\system32")

    def test_unknown_version_is_refused(self):
        with self.assertRaises(ValueError):
            wm.new_prefix("win31")

    def test_new_prefix_has_the_default_exe_command(self):
        self.assertEqual(wm.reg_query(self.prefix, EXEFILE_COMMAND), '"%1" %*')

    def test_registry_values_round_trip(self):
        key = r"HKCU\Software\tarsk4 test\sub key"
        table = [
            (None, 'C:\\WINDOWS\\wintask.exe "%1" %*', None),
            ("plain", "text with  two spaces", None),
            ("quotes and backslashes", 'a "b" \\c\\\\ d', None),
            ("non-ASCII", "caf\u00e9", None),
            ("dword", 0xDEADBEEF, None),
            ("binary", bytes([0, 1, 0xFF, 0x0A]), None),
            ("multi", ["\\??\\C:\\x.exe", "", "second"], None),
            ("empty multi", [], None),
            ("expand", "%SystemRoot%\\x.exe", "expand"),
        ]
        for name, value, kind in table:
            with self.subTest(name):
                wm.reg_set(self.prefix, key, name, value, kind)
                self.assertEqual(wm.reg_query(self.prefix, key, name), value)
        values = wm.reg_values(self.prefix, key)
        self.assertEqual(set(values), {name for name, _, _ in table})
        # Names are looked up without regard to case, as Windows does.
        self.assertEqual(wm.reg_query(self.prefix, key, "PLAIN"), "text with  two spaces")

        self.assertTrue(wm.reg_delete_value(self.prefix, key, "plain"))
        self.assertIsNone(wm.reg_query(self.prefix, key, "plain"))
        self.assertFalse(wm.reg_delete_value(self.prefix, key, "plain"))
        self.assertTrue(wm.reg_delete_value(self.prefix, key, None))
        self.assertIsNone(wm.reg_query(self.prefix, key, None))
        self.assertTrue(wm.reg_delete_key(self.prefix, r"HKCU\Software\tarsk4 test"))
        self.assertIsNone(wm.reg_values(self.prefix, key))
        self.assertIsNone(wm.reg_query(self.prefix, key, "dword"))

    def test_files(self):
        wm.put_file(self.prefix, r"C:\Windows\System\New Dir\worm.exe", b"MZ\x00worm")
        self.assertTrue(wm.file_exists(self.prefix, r"c:\windows\SYSTEM\new dir\WORM.EXE"))
        self.assertEqual(wm.read_file(self.prefix, r"C:\windows\system\new dir\worm.exe"),
                         b"MZ\x00worm")
        self.assertFalse(wm.file_exists(self.prefix, r"C:\windows\system\new dir\other.exe"))
        # The program sees the same file.
        self.assertEqual(self.probe_run("attrib", r"C:\WINDOWS\SYSTEM\NEW DIR\WORM.EXE"),
                         "attributes 20")

    def test_put_file_leaves_the_template_alone(self):
        # System DLLs are hard links into the cached template.
        winpath = r"C:\windows\system32\kernel32.dll"
        template = os.path.join(wm.template_prefix(), "drive_c", "windows", "system32",
                                "kernel32.dll")
        before = os.stat(template)
        wm.put_file(self.prefix, winpath, b"replaced")
        self.assertEqual(wm.read_file(self.prefix, winpath), b"replaced")
        after = os.stat(template)
        self.assertEqual((after.st_size, after.st_mtime_ns), (before.st_size, before.st_mtime_ns))

    def test_attributes(self):
        winpath = r"C:\windows\wintask.exe"
        wm.put_file(self.prefix, winpath, b"MZ")
        # (set, read back: Wine adds ARCHIVE to every file)
        table = [(wm.READONLY | wm.HIDDEN | wm.SYSTEM, 0x27), (wm.HIDDEN, 0x22),
                 (wm.NORMAL, 0x20), (wm.SYSTEM, 0x24)]
        for attributes, expected in table:
            with self.subTest(hex(attributes)):
                wm.set_attributes(self.prefix, winpath, attributes)
                self.assertEqual(wm.get_attributes(self.prefix, winpath), expected)
        wm.set_attributes(self.prefix, winpath, wm.READONLY)
        self.assertEqual(self.probe_run("delete", winpath), "DeleteFileA 0 5")

    def test_a_held_file_cannot_be_deleted(self):
        winpath = r"C:\windows\system\wintask.exe"
        wm.put_file(self.prefix, winpath, b"MZ")
        with wm.hold_open(self.prefix, winpath):
            self.assertEqual(self.probe_run("delete", winpath), "DeleteFileA 0 32")
            self.assertTrue(wm.file_exists(self.prefix, winpath))
        self.assertEqual(self.probe_run("delete", winpath), "DeleteFileA 1 0")
        self.assertFalse(wm.file_exists(self.prefix, winpath))

    def test_restart_carries_out_a_scheduled_deletion(self):
        winpath = r"C:\windows\system\wintask.exe"
        wm.put_file(self.prefix, winpath, b"MZ")
        with wm.hold_open(self.prefix, winpath):
            self.assertEqual(self.probe_run("movefile", winpath), "MoveFileExA 1 0")
        self.assertEqual(wm.reg_query(self.prefix, SESSION_MANAGER, "PendingFileRenameOperations"),
                         ["\\??\\" + winpath, ""])
        self.assertTrue(wm.file_exists(self.prefix, winpath))
        wm.restart(self.prefix)
        self.assertFalse(wm.file_exists(self.prefix, winpath))
        self.assertIsNone(
            wm.reg_query(self.prefix, SESSION_MANAGER, "PendingFileRenameOperations"))

    def test_restart_carries_out_wininit_ini(self):
        wm.put_file(self.prefix, r"C:\windows\new.txt", b"new contents")
        wm.put_file(self.prefix, r"C:\windows\doomed.exe", b"MZ")
        wm.put_file(self.prefix, r"C:\windows\wininit.ini",
                    b"[rename]\r\nC:\\windows\\moved.txt=C:\\windows\\new.txt\r\n"
                    b"NUL=C:\\windows\\doomed.exe\r\n")
        wm.restart(self.prefix)
        self.assertEqual(wm.read_file(self.prefix, r"C:\windows\moved.txt"), b"new contents")
        self.assertFalse(wm.file_exists(self.prefix, r"C:\windows\new.txt"))
        self.assertFalse(wm.file_exists(self.prefix, r"C:\windows\doomed.exe"))
        self.assertFalse(wm.file_exists(self.prefix, r"C:\windows\wininit.ini"))
        self.assertTrue(wm.file_exists(self.prefix, r"C:\windows\wininit.bak"))

    def test_a_new_wine_session_also_acts_as_a_restart(self):
        # Wine runs wineboot whenever its server starts: after shutdown(),
        # the next command carries out pending renames. Scenario tests that
        # look at the state before a restart must not shut down first.
        winpath = r"C:\windows\wintask.exe"
        wm.put_file(self.prefix, winpath, b"MZ")
        self.assertEqual(self.probe_run("movefile", winpath), "MoveFileExA 1 0")
        wm.shutdown(self.prefix)
        self.assertTrue(wm.file_exists(self.prefix, winpath))
        self.probe_run("version")
        self.assertFalse(wm.file_exists(self.prefix, winpath))

    def test_run_with_pipes(self):
        result = wm.run(self.prefix, self.probe, ["exit", "7", "out text"])
        self.assertEqual((result.code, result.stdout, result.stderr),
                         (7, b"out text\r\n", b"err\r\n"))
        result = wm.run(self.prefix, self.probe, ["stdin"], stdin=b"abc\ndef\n")
        self.assertEqual((result.code, result.stdout), (0, b"ABC\r\nDEF\r\n"))

    def test_keys_in_a_terminal(self):
        for key in ("q", "Y"):
            with self.subTest(key), wm.run_in_terminal(self.prefix, self.probe, ["key"]) as term:
                term.expect("press a key")
                term.send(key)
                self.assertEqual(term.expect(r"key (\S)").group(1), key.encode())
                self.assertEqual(term.wait(), 0)
                self.assertEqual(term.screen()[:2], ["press a key", "key " + key])

    def test_shutdown_ends_every_process(self):
        winpath = r"C:\windows\wintask.exe"
        wm.put_file(self.prefix, winpath, b"MZ")
        wm.hold_open(self.prefix, winpath)
        self.assertNotEqual(wm.processes(self.prefix), [])
        wm.shutdown(self.prefix)
        self.assertEqual(wm.processes(self.prefix), [])

    def test_template_is_made_once(self):
        template = wm.template_prefix()
        self.assertEqual(wm.template_prefix(), template)
        self.assertTrue(os.path.exists(os.path.join(template, "tarsk4-template-ready")))
        self.assertFalse(os.path.exists(os.path.join(self.prefix.path, "tarsk4-template-ready")))
        self.assertEqual(wm.processes(template), [])


if __name__ == "__main__":
    unittest.main()
