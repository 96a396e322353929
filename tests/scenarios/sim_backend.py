"""Plants and reads the scenario table's machines on the simulated Windows
machine, through the machine tool, and runs the native program on them."""

import os
import shutil
import subprocess
import tempfile

import console_run
import table

DIRECTORIES = {
    "95": ("C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM"),
    "98": ("C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM"),
    "me": ("C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM"),
    "nt40": ("C:\\WINNT", "C:\\WINNT\\SYSTEM32"),
    "2000": ("C:\\WINNT", "C:\\WINNT\\SYSTEM32"),
    "xp": ("C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"),
    "10": ("C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"),
}
SESSION_MANAGER = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"


class SimMachine:
    def __init__(self, program, tool, family, machine):
        self.program, self.tool, self.family = program, tool, family
        self.folder = tempfile.mkdtemp(prefix="tarsk4-scenario-")
        self.dir = os.path.join(self.folder, "machine")
        settings = machine.get("settings", {})
        windows, system = DIRECTORIES[family]
        self.paths = {"win": settings.get("windows_dir", windows), "sys": settings.get("system_dir", system)}
        self.args = machine.get("args", [])
        self._plant(machine, settings)

    def expand(self, text):
        return text.replace("{sys}", self.paths["sys"]).replace("{win}", self.paths["win"])

    def tool_run(self, *args, check=True):
        done = subprocess.run([self.tool, args[0], self.dir] + list(args[1:]), capture_output=True)
        if check and done.returncode != 0:
            raise RuntimeError(
                "tarsk4-machine %s failed: %s" % (" ".join(args), done.stderr.decode(errors="replace"))
            )
        return done

    def _plant(self, machine, settings):
        self.tool_run("create", self.family)
        self.tool_run("set", "sleep", "skip")
        for name, value in settings.items():
            self.tool_run("set", name, value)
        if "association" in machine:
            if machine["association"] is None:
                self.tool_run("reg-delete-key", table.ASSOCIATION_KEY)
            else:
                self.tool_run("reg-set", table.ASSOCIATION_KEY, "@", "sz", self.expand(machine["association"]))
        if "run_values" in machine:
            if machine["run_values"] is None:
                self.tool_run("reg-delete-key", table.RUN_KEY)
            else:
                for name, value in machine["run_values"].items():
                    self.tool_run("reg-set", table.RUN_KEY, name, "sz", self.expand(value))
        for path, content in machine.get("files", {}).items():
            path = self.expand(path)
            if content == table.WORM:
                self.tool_run("put-file", path, "--worm")
            elif content == table.FOLDER:
                self.tool_run("mkdir", path)
            else:
                self.tool_run("put-file", path, "--bytes", content.hex())
        if "wininit" in machine:
            self.tool_run("put-file", self.expand(table.WININIT), "--bytes", machine["wininit"].hex())
        for path, attributes in machine.get("attributes", {}).items():
            self.tool_run("attrib", self.expand(path), "%x" % attributes)
        for path in machine.get("in_use", []):
            self.tool_run("in-use", self.expand(path))
        for function, nth, error, for_good in machine.get("faults", []):
            self.tool_run("fault", function, str(nth), str(error), *(["for_good"] if for_good else []))

    def run(self, keys):
        env = dict(os.environ, TARSK4_MACHINE=self.dir)
        return console_run.run([self.program] + self.args, env, keys)

    def restart(self):
        self.tool_run("restart")

    # What the checks read back.
    def reg_value(self, key, name):
        """(type, bytes) of a value, or None when it or its key is missing."""
        done = self.tool_run("reg-query", key, name, "--hex", check=False)
        if done.returncode != 0:
            return None
        return parse_reg_query(done.stdout)

    def association(self):
        value = self.reg_value(table.ASSOCIATION_KEY, "@")
        return None if value is None else value[1].rstrip(b"\0").decode("latin-1")

    def run_value(self, name):
        value = self.reg_value(table.RUN_KEY, name)
        return None if value is None else value[1].rstrip(b"\0").decode("latin-1")

    def pending_operations(self):
        value = self.reg_value(SESSION_MANAGER, "PendingFileRenameOperations")
        if value is None:
            return []
        # NUL-ended strings, then one closing NUL.
        return value[1][:-1].decode("latin-1").split("\0")[:-1]

    def host_path(self, windows_path):
        path = os.path.join(self.dir, "C")
        for part in windows_path[3:].split("\\"):
            if not part:
                continue
            try:
                names = {n.lower(): n for n in os.listdir(path)}
            except OSError:
                return None
            if part.lower() not in names:
                return None
            path = os.path.join(path, names[part.lower()])
        return path

    def file_exists(self, windows_path):
        return self.host_path(windows_path) is not None

    def read_file(self, windows_path):
        path = self.host_path(windows_path)
        if path is None or os.path.isdir(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def close(self):
        shutil.rmtree(self.folder, ignore_errors=True)


def parse_reg_query(output):
    """With --hex the machine tool prints a value as hex(TYPE), a blank, and
    its bytes in hexadecimal."""
    kind, _, data = output.decode().strip().partition(" ")
    return kind, bytes.fromhex(data.replace(",", ""))
