"""Plants and reads the scenario table's machines in Wine prefixes (see
tests/wine/wine_machine.py), and runs the Windows program in them.

Each machine is a fresh prefix whose Windows version gives the family. The
prefix's wineserver keeps running from the planting to the after-checks: a
new server session boots the prefix, and a boot carries out pending renames
like a restart would. restart() ends every process of the prefix (the worm's
program holding its file dies with them) and boots it with wineboot -r;
close() shuts the server down and removes the prefix.
"""

import os
import subprocess
import sys
import threading
import time

import console_run
import table

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "wine"))
import wine_machine  # noqa: E402

# Table family -> Wine's Windows version. wine_machine makes prefixes of the
# versions it knows; Windows 2000 (GetVersionExA: 5.0, NT) is an NT 4.0
# prefix whose version is then set to Wine's win2k.
VERSIONS = {"95": "win95", "98": "win98", "me": "winme", "nt40": "nt40", "2000": "win2k", "xp": "winxp64", "10": "win10"}
PREFIX_VERSIONS = {"win2k": "nt40"}
SKIPPED = {}

# GetSystemDirectoryA and GetWindowsDirectoryA in every Wine prefix, in the
# case they return it.
WINDOWS_DIR = "C:\\windows"
SYSTEM_DIR = "C:\\windows\\system32"

SESSION_MANAGER = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"
# The simulated machine's clean Run key holds this value; so does ours.
BASE_RUN_VALUES = {"SystemTray": "SysTray.Exe"}

# How long to leave the program waiting at the question before each key.
KEY_DELAY = 1.0

_recording = threading.local()


class _RecordingCollector(console_run.Collector):
    """console_run's Collector, remembered per thread so that the wait for
    the question can look at the standard output collected so far."""

    def __init__(self, stream):
        super().__init__(stream)
        found = getattr(_recording, "collectors", None)
        if found is not None:
            found.append(self)


console_run.Collector = _RecordingCollector


def unsupported(family):
    """Why a family cannot run under Wine, or None."""
    return SKIPPED.get(family)


class WineMachine:
    def __init__(self, family, machine, program, tool):
        if family not in VERSIONS:
            raise ValueError("family %s: %s" % (family, SKIPPED.get(family, "unknown")))
        self.family, self.program, self.tool = family, program, tool
        self.args = machine.get("args", [])
        self.holders = []
        self._values = {}
        self.version = VERSIONS[family]
        self.prefix = wine_machine.new_prefix(PREFIX_VERSIONS.get(self.version, self.version))
        try:
            self._plant(machine)
        except BaseException:
            self.close()
            raise

    def expand(self, text):
        return text.replace("{sys}", SYSTEM_DIR).replace("{win}", WINDOWS_DIR)

    # Planting.
    def _plant(self, machine):
        if machine.get("faults") or machine.get("settings"):
            raise ValueError("faults and settings exist on the simulated machine only")
        lines = []
        if self.version != self.prefix.version:
            lines += ["[HKEY_CURRENT_USER\\Software\\Wine]", '"Version"=%s' % wine_machine._reg_string(self.version)]
        if "association" in machine and machine["association"] is None:
            lines.append("[-%s]" % table.ASSOCIATION_KEY)
        else:
            command = machine.get("association", table.DEFAULT_COMMAND)
            lines += ["[%s]" % table.ASSOCIATION_KEY, "@=%s" % wine_machine._reg_data(self.expand(command), None)]
        run_values = machine.get("run_values", {})
        lines.append("[-%s]" % table.RUN_KEY)
        if run_values is not None:
            values = dict(BASE_RUN_VALUES)
            values.update(run_values)
            lines.append("[%s]" % table.RUN_KEY)
            for name, value in values.items():
                lines.append("%s=%s" % (wine_machine._reg_string(name), wine_machine._reg_data(self.expand(value), None)))
        wine_machine.reg_import(self.prefix, "\n".join(lines) + "\n")

        for path, content in machine.get("files", {}).items():
            host = wine_machine.unix_path(self.prefix, self.expand(path))
            if content == table.FOLDER:
                os.makedirs(host, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(host), exist_ok=True)
            if os.path.lexists(host):
                os.unlink(host)
            if content == table.WORM:
                subprocess.run([self.tool, "make-worm-file", host], check=True, stdout=subprocess.DEVNULL)
            else:
                with open(host, "wb") as f:
                    f.write(content)
        if "wininit" in machine:
            wine_machine.put_file(self.prefix, self.expand(table.WININIT), machine["wininit"])
        for path, attributes in machine.get("attributes", {}).items():
            wine_machine.set_attributes(self.prefix, self.expand(path), attributes)
        for path in machine.get("in_use", []):
            self.holders.append(wine_machine.hold_open(self.prefix, self.expand(path)))

    # Running.
    def run(self, keys):
        # The server must run before the program starts, outside its process
        # group: ending the program must not end the machine.
        wine_machine._start_server(self.prefix)
        env = wine_machine._env(self.prefix)
        command = [wine_machine.WINE, self.program] + list(self.args)
        question = table.QUESTION.replace("\n", "\r\n").encode("latin-1")
        state = {"seen": None, "typed": None}
        _recording.collectors = []

        def waiting_for_key():
            collectors = _recording_list
            if not collectors or question not in collectors[0].text():
                return False
            now = time.monotonic()
            if state["seen"] is None:
                state["seen"] = now
            since = max(state["seen"], state["typed"] or 0)
            if now - since < KEY_DELAY:
                return False
            state["typed"] = now
            return True

        _recording_list = _recording.collectors
        try:
            stdout, stderr, result, problems = console_run.run(
                command, env, keys, timeout=60.0, waiting_for_key=waiting_for_key
            )
        finally:
            _recording.collectors = None
        # Nothing of the run may be left but the server and its services.
        leftover = self._program_processes()
        if leftover:
            problems.append("processes of the program still running: %s" % leftover)
            for pid in leftover:
                try:
                    os.kill(pid, 9)
                except OSError:
                    pass
        return stdout, stderr, result, problems

    def _program_processes(self):
        name = os.path.basename(self.program).lower().encode()
        found = []
        for pid in wine_machine.processes(self.prefix):
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    cmdline = f.read().lower()
            except OSError:
                continue
            if name in cmdline:
                found.append(pid)
        return found

    def restart(self):
        for holder in self.holders:
            holder.kill()
        self.holders = []
        self._values = {}
        wine_machine.restart(self.prefix)

    # What the checks read back.
    def _key(self, key):
        if key not in self._values:
            self._values[key] = wine_machine.reg_values(self.prefix, key)
        return self._values[key]

    def _value(self, key, name):
        values = self._key(key)
        if values is None:
            return None
        for candidate, value in values.items():
            if candidate is None and name is None:
                return value
            if candidate is not None and name is not None and candidate.lower() == name.lower():
                return value
        return None

    def association(self):
        return self._value(table.ASSOCIATION_KEY, None)

    def run_value(self, name):
        return self._value(table.RUN_KEY, name)

    def pending_operations(self):
        value = self._value(SESSION_MANAGER, "PendingFileRenameOperations")
        return [] if value is None else value

    def file_exists(self, windows_path):
        return wine_machine.file_exists(self.prefix, windows_path)

    def read_file(self, windows_path):
        path = wine_machine.unix_path(self.prefix, windows_path)
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def close(self):
        for holder in self.holders:
            holder.kill()
        self.holders = []
        self.prefix.remove()
