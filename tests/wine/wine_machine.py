"""A real Win32 machine for tests: Debian's Wine 8 (64-bit), one prefix per
test.

Every prefix is a copy of a template made once with `wineboot -i` and kept in
a cache directory (TARSK4_WINE_CACHE, default ~/.cache/tarsk4-wine), so a new
one takes a fraction of a second instead of several. The prefix's Windows
version decides the family GetVersionExA reports:

    with wine_machine.new_prefix("9x") as prefix:        # or "nt", "win98", ...
        wine_machine.reg_set(prefix, r"HKCR\\exefile\\shell\\open\\command",
                             None, '"%1" %*')
        wine_machine.put_file(prefix, r"C:\\windows\\wintask.exe", b"MZ...")
        result = wine_machine.run(prefix, exe, ["arg"])
        wine_machine.restart(prefix)                     # wineboot -r

Leaving the with-block kills the prefix's wineserver and its processes and
deletes the prefix; so does interpreter exit for any prefix still alive.
Each call names the prefix in WINEPREFIX, so tests in parallel never share a
wineserver.

Needs: Python 3 stdlib, the Debian packages wine and wine64, and
gcc-mingw-w64-x86-64-win32 for the helper programs (installed with apt-get
when missing and running as root).
"""

import atexit
import fcntl
import hashlib
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import tempfile
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
MINGW_CC = "x86_64-w64-mingw32-gcc-win32"

# Everything that must be installed, by Debian package.
PACKAGES = {WINE: "wine64", "/usr/bin/wine": "wine", WINESERVER: "wine64",
            "/usr/bin/" + MINGW_CC: "gcc-mingw-w64-x86-64-win32"}

# Wine's names for the Windows versions, and the family names tests use.
VERSIONS = ("win95", "win98", "winme", "nt40", "winxp64", "win10")
FAMILIES = {"9x": "win95", "95": "win95", "nt": "nt40", "nt4": "nt40"}
FAMILY_OF_VERSION = {"win95": "9x", "win98": "9x", "winme": "9x",
                     "nt40": "nt", "winxp64": "nt", "win10": "nt"}

# Template files that a test never writes: hard links instead of copies save
# most of the 700 MB a prefix takes. Anything a test or program may change
# (registry, .ini files, its own files) is copied.
LINKED_SUFFIXES = (".dll", ".exe", ".nls", ".sys", ".drv", ".ocx", ".cpl", ".acm", ".tlb",
                   ".ds", ".msstyles", ".icm", ".mui", ".ax")

HELPERS = {
    "holdopen": os.path.join(ROOT, "tools", "holdopen", "holdopen.c"),
    "probe": os.path.join(HERE, "probe.c"),
}

DEFAULT_TIMEOUT = 120

_live_prefixes = set()
_template = None


class WineError(Exception):
    """A Wine command failed or did not finish."""


class Result:
    """What a program did: its stdout and stderr bytes and exit code."""

    def __init__(self, stdout, stderr, code):
        self.stdout = stdout
        self.stderr = stderr
        self.code = code

    def __repr__(self):
        return "Result(code=%r, stdout=%r, stderr=%r)" % (self.code, self.stdout, self.stderr)


class Prefix:
    """One Wine prefix: a Windows machine with its own registry, C: drive and
    wineserver. A context manager; shutdown() and remove() tidy up."""

    def __init__(self, path, version):
        self.path = path
        self.version = version
        self.family = FAMILY_OF_VERSION.get(version)
        self.holders = []

    def __fspath__(self):
        return self.path

    def __repr__(self):
        return "Prefix(%r, %r)" % (self.path, self.version)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.remove()

    def remove(self):
        shutdown(self)
        shutil.rmtree(self.path, ignore_errors=True)
        _live_prefixes.discard(self)


def ensure_packages():
    """Installs the Debian packages this module needs, if any is missing."""
    missing = sorted({package for path, package in PACKAGES.items() if not os.path.exists(path)})
    if not missing:
        return
    if os.geteuid() != 0:
        raise WineError("missing Debian packages: %s" % " ".join(missing))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update"], check=True, env=env)
    subprocess.run(["apt-get", "install", "-y", "--no-install-recommends"] + missing,
                   check=True, env=env)


def cache_dir():
    path = os.environ.get("TARSK4_WINE_CACHE") or os.path.join(
        os.path.expanduser("~"), ".cache", "tarsk4-wine")
    os.makedirs(path, exist_ok=True)
    return path


def _lock(name):
    """An exclusive lock shared by every test process on this machine."""
    handle = open(os.path.join(cache_dir(), name + ".lock"), "w")
    fcntl.flock(handle, fcntl.LOCK_EX)
    return handle


def _env(prefix_path):
    env = {key: value for key, value in os.environ.items()
           if not key.startswith("WINE") and key not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=os.fspath(prefix_path), WINEARCH="win64", WINEDEBUG="-all",
               # No Mono or Gecko installer, no desktop menu entries.
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    return env


# How long a prefix's wineserver outlives its last program. Long enough for
# any test; short enough that a test process killed before shutdown() leaves
# no server behind for long. When it does quit, the next command starts a new
# session, and Wine's boot then carries out pending renames like a restart.
SERVER_PERSISTENCE = 300


def _start_server(prefix_path):
    """Starts the prefix's wineserver to stay (see SERVER_PERSISTENCE), unless
    it runs already. Wine would start one that quits, and takes the prefix's
    services down with it, as soon as the last program ends: every command
    would then pay a boot of the prefix, about a second."""
    subprocess.run([WINESERVER, "-p%d" % SERVER_PERSISTENCE], env=_env(prefix_path), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=DEFAULT_TIMEOUT)


def _run(prefix_path, argv, stdin=None, timeout=DEFAULT_TIMEOUT):
    """Runs a command in the prefix; its output is collected until it exits,
    not until end of file: processes Wine starts on the side (services.exe
    and others, when the prefix was not booted yet) may hold the pipes."""
    _start_server(prefix_path)
    process = subprocess.Popen(argv, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               env=_env(prefix_path))
    out, err = bytearray(), bytearray()
    sinks = {process.stdout.fileno(): out, process.stderr.fileno(): err}
    pending = memoryview(stdin or b"")
    writers = [process.stdin.fileno()] if stdin else []
    deadline = time.monotonic() + timeout
    try:
        while True:
            exited = process.poll() is not None
            wait = 0 if exited else min(0.2, max(0.0, deadline - time.monotonic()))
            readable, writable, _ = select.select(list(sinks), writers, [], wait)
            for fd in readable:
                chunk = os.read(fd, 65536)
                if chunk:
                    sinks[fd] += chunk
                else:
                    del sinks[fd]
            if writable:
                try:
                    pending = pending[os.write(writers[0], pending[:65536]):]
                except BrokenPipeError:
                    pending = pending[:0]
                if not pending:
                    process.stdin.close()
                    writers = []
            if exited and not readable:
                break
            if not exited and time.monotonic() > deadline:
                process.kill()
                process.wait()
                raise WineError("%s did not finish in %s s" % (" ".join(argv), timeout))
    finally:
        for stream in (process.stdin, process.stdout, process.stderr):
            if stream is not None and not stream.closed:
                stream.close()
    return Result(bytes(out), bytes(err), process.returncode)


def _wine(prefix, args, stdin=None, check=True, timeout=DEFAULT_TIMEOUT):
    result = _run(prefix, [WINE] + list(args), stdin=stdin, timeout=timeout)
    if check and result.code != 0:
        raise WineError("wine64 %s failed (%d): %s" % (" ".join(args), result.code,
                                                       result.stderr.decode(errors="replace")))
    return result


def wine_version():
    return subprocess.run([WINE, "--version"], stdout=subprocess.PIPE, check=True,
                          universal_newlines=True).stdout.strip()


def template_prefix():
    """The prefix every test copies: made once (wineboot -i) and cached. Its
    path; never run anything in it."""
    global _template
    if _template:
        return _template
    ensure_packages()
    key = hashlib.sha256(("1 " + wine_version()).encode()).hexdigest()[:16]
    path = os.path.join(cache_dir(), "template-" + key)
    with _lock("template"):
        if not os.path.exists(os.path.join(path, "tarsk4-template-ready")):
            shutil.rmtree(path, ignore_errors=True)
            building = tempfile.mkdtemp(prefix="template-building-", dir=cache_dir())
            try:
                _wine(building, ["wineboot", "-i"], timeout=300)
                # The registry reaches the disk only when the server stops.
                _stop_server(building)
                with open(os.path.join(building, "tarsk4-template-ready"), "w") as f:
                    f.write(wine_version() + "\n")
                os.rename(building, path)
            finally:
                shutil.rmtree(building, ignore_errors=True)
    _template = path
    return path


def _copy_prefix(source, target):
    for directory, subdirs, files in os.walk(source):
        relative = os.path.relpath(directory, source)
        destination = os.path.normpath(os.path.join(target, relative))
        os.makedirs(destination, exist_ok=True)
        shutil.copystat(directory, destination)
        for name in subdirs + files:
            src = os.path.join(directory, name)
            dst = os.path.join(destination, name)
            if os.path.islink(src):
                os.symlink(os.readlink(src), dst)
                if name in subdirs:
                    subdirs.remove(name)
            elif name in files:
                if name.lower().endswith(LINKED_SUFFIXES) and relative.startswith("drive_c"):
                    os.link(src, dst)
                else:
                    shutil.copy2(src, dst)


def new_prefix(family="nt", parent=None):
    """A fresh machine copied from the template, with Windows version set.
    family: "9x" (win95), "nt" (nt40), or one of Wine's version names
    win95, win98, winme, nt40, winxp64, win10."""
    version = FAMILIES.get(family, family)
    if version not in VERSIONS:
        raise ValueError("unknown Windows family or version %r" % family)
    template = template_prefix()
    path = tempfile.mkdtemp(prefix="tarsk4-wine-%s-" % version, dir=parent)
    prefix = Prefix(path, version)
    _live_prefixes.add(prefix)
    os.rmdir(path)
    _copy_prefix(template, path)
    os.remove(os.path.join(path, "tarsk4-template-ready"))
    reg_set(prefix, r"HKCU\Software\Wine", "Version", version)
    return prefix


# Registry. Values are Python objects: str (REG_SZ), int (REG_DWORD), bytes
# (REG_BINARY), list of str (REG_MULTI_SZ); reg_set(..., kind="expand") gives
# REG_EXPAND_SZ. name None is the key's default value.

ROOT_KEYS = {"HKCR": "HKEY_CLASSES_ROOT", "HKCU": "HKEY_CURRENT_USER",
             "HKLM": "HKEY_LOCAL_MACHINE", "HKU": "HKEY_USERS", "HKCC": "HKEY_CURRENT_CONFIG"}


def full_key(key):
    """HKCR\\x -> HKEY_CLASSES_ROOT\\x."""
    head, _, rest = key.partition("\\")
    head = ROOT_KEYS.get(head.upper(), head.upper())
    return head + ("\\" + rest if rest else "")


def _reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def _reg_hex(data):
    return ",".join("%02x" % b for b in data)


def _reg_data(value, kind):
    if kind == "expand":
        return "hex(2):" + _reg_hex((value + "\0").encode("utf-16-le"))
    if isinstance(value, str):
        return _reg_string(value)
    if isinstance(value, bool) or not isinstance(value, (int, bytes, list)):
        raise TypeError("cannot store %r in the registry" % (value,))
    if isinstance(value, int):
        return "dword:%08x" % value
    if isinstance(value, bytes):
        return "hex:" + _reg_hex(value)
    return "hex(7):" + _reg_hex(("".join(s + "\0" for s in value) + "\0").encode("utf-16-le"))


def reg_import(prefix, text):
    """Imports registry text (the body of a .reg file, without its header)."""
    body = "Windows Registry Editor Version 5.00\r\n\r\n" + text.replace("\r\n", "\n").replace(
        "\n", "\r\n") + "\r\n"
    with tempfile.NamedTemporaryFile(suffix=".reg", delete=False) as f:
        f.write(b"\xff\xfe" + body.encode("utf-16-le"))
    try:
        _wine(prefix, ["regedit", "/S", f.name])
    finally:
        os.unlink(f.name)


def reg_set(prefix, key, name, value, kind=None):
    """Sets a value, creating the key as needed."""
    label = "@" if name is None else _reg_string(name)
    reg_import(prefix, "[%s]\n%s=%s\n" % (full_key(key), label, _reg_data(value, kind)))


def _parse_reg_value(data):
    if data.startswith('"'):
        return re.sub(r"\\(.)", r"\1", data[1:-1])
    if data.startswith("dword:"):
        return int(data[6:], 16)
    m = re.match(r"hex(?:\((\w+)\))?:(.*)$", data)
    if not m:
        raise WineError("cannot read registry data %r" % data)
    raw = bytes(int(b, 16) for b in m.group(2).split(",") if b)
    kind = int(m.group(1), 16) if m.group(1) else 3
    if kind in (1, 2):
        return raw.decode("utf-16-le").rstrip("\0")
    if kind == 7:
        # Each string ends with a NUL and the list with one more:
        # "a\0\0b\0\0" is ["a", "", "b"]. PendingFileRenameOperations
        # keeps empty strings (a deletion's missing target) inside the list.
        text = raw.decode("utf-16-le")
        for _ in range(2):
            if text.endswith("\0"):
                text = text[:-1]
        return text.split("\0") if text else []
    if kind == 4:
        return int.from_bytes(raw, "little")
    return raw


def reg_values(prefix, key):
    """All values of a key as {name: value} (None names the default), or
    None if the key does not exist."""
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "export.reg")
        _wine(prefix, ["regedit", "/E", out, full_key(key)])
        if not os.path.exists(out):
            return None
        with open(out, "rb") as f:
            text = f.read().decode("utf-16")
    # Join continued lines ("...,\" then "  xx,...").
    text = re.sub(r"\\\r?\n\s*", "", text)
    wanted = "[%s]" % full_key(key).lower()
    values, inside = {}, False
    for line in text.splitlines():
        if line.startswith("["):
            if inside:
                break
            inside = line.strip().lower() == wanted
            continue
        if not inside or not line.strip():
            continue
        m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
        if not m:
            raise WineError("cannot read registry line %r" % line)
        name = None if m.group(1) == "@" else re.sub(r"\\(.)", r"\1", m.group(1)[1:-1])
        values[name] = _parse_reg_value(m.group(2))
    return values


def reg_query(prefix, key, name=None):
    """One value (see reg_values), or None if the key or value is missing."""
    values = reg_values(prefix, key)
    if values is None:
        return None
    for candidate, value in values.items():
        if (candidate is None and name is None) or (
                candidate is not None and name is not None and candidate.lower() == name.lower()):
            return value
    return None


def reg_delete_value(prefix, key, name=None):
    """Deletes one value; True if it was there."""
    which = ["/ve"] if name is None else ["/v", name]
    return _wine(prefix, ["reg", "delete", full_key(key)] + which + ["/f"], check=False).code == 0


def reg_delete_key(prefix, key):
    """Deletes a key and everything under it; True if it was there."""
    return _wine(prefix, ["reg", "delete", full_key(key), "/f"], check=False).code == 0


# Files, by Windows path on drive C: (Z: and other drives are refused).

def unix_path(prefix, winpath):
    """The host path of C:\\..., without looking at case."""
    m = re.match(r"^[cC]:[\\/]?(.*)$", winpath)
    if not m:
        raise ValueError("only paths on C: are supported: %r" % winpath)
    path = os.path.join(os.fspath(prefix), "drive_c")
    for part in [p for p in re.split(r"[\\/]+", m.group(1)) if p]:
        match = part
        if os.path.isdir(path):
            for name in os.listdir(path):
                if name.lower() == part.lower():
                    match = name
                    break
        path = os.path.join(path, match)
    return path


def put_file(prefix, winpath, data):
    """Writes a file (replacing, never writing through, an existing one, which
    may be a hard link into the template), making directories as needed."""
    path = unix_path(prefix, winpath)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.lexists(path):
        os.unlink(path)
    with open(path, "wb") as f:
        f.write(data)


def read_file(prefix, winpath):
    with open(unix_path(prefix, winpath), "rb") as f:
        return f.read()


def file_exists(prefix, winpath):
    return os.path.exists(unix_path(prefix, winpath))


READONLY, HIDDEN, SYSTEM, ARCHIVE, NORMAL = 0x1, 0x2, 0x4, 0x20, 0x80


def set_attributes(prefix, winpath, attributes):
    """SetFileAttributesA(winpath, attributes), e.g. READONLY | HIDDEN |
    SYSTEM. (Wine's attrib.exe takes one flag per call, and cannot clear
    ARCHIVE.)"""
    out = run(prefix, helper_exe("probe"), ["setattr", winpath, "%x" % attributes]).stdout
    if not out.startswith(b"SetFileAttributesA 1"):
        raise WineError("SetFileAttributesA %s: %r" % (winpath, out))


def get_attributes(prefix, winpath):
    """GetFileAttributesA, as the probe program sees it."""
    out = run(prefix, helper_exe("probe"), ["attrib", winpath]).stdout.decode()
    return int(out.split()[1], 16)


# Helper programs, built with mingw-w64 on first use and cached by source.

def helper_exe(name):
    """Host path of a built helper program: "holdopen" or "probe"."""
    ensure_packages()
    source = HELPERS[name]
    with open(source, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()[:16]
    exe = os.path.join(cache_dir(), "%s-%s.exe" % (name, digest))
    with _lock("helpers"):
        if not os.path.exists(exe):
            building = exe + ".building"
            subprocess.run([MINGW_CC, "-Wall", "-Wextra", "-Os", "-s", "-o", building, source],
                           check=True)
            os.rename(building, exe)
    return exe


class Holder:
    """A file held open by holdopen.exe in the prefix, until release()."""

    def __init__(self, prefix, winpath):
        self.prefix = prefix
        self.winpath = winpath
        _start_server(prefix)
        self.process = subprocess.Popen([WINE, helper_exe("holdopen"), winpath],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=_env(prefix))
        line = _readline(self.process.stdout, DEFAULT_TIMEOUT)
        if line.strip() != b"ready":
            self.kill()
            raise WineError("holdopen %s: %r" % (winpath, line))
        prefix.holders.append(self)

    def release(self):
        """Lets go of the file and waits for the helper to end."""
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"\n")
                self.process.stdin.close()
            except OSError:
                pass
            try:
                self.process.wait(DEFAULT_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.kill()
        self.process.stdout.close()
        if self in self.prefix.holders:
            self.prefix.holders.remove(self)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()


def _readline(stream, timeout):
    line = b""
    deadline = time.monotonic() + timeout
    while not line.endswith(b"\n"):
        ready, _, _ = select.select([stream], [], [], max(0, deadline - time.monotonic()))
        if not ready:
            break
        chunk = os.read(stream.fileno(), 1)
        if not chunk:
            break
        line += chunk
    return line


def hold_open(prefix, winpath):
    """Holds a file open without FILE_SHARE_DELETE, as a running program
    holds its own executable. Returns a Holder; release() or leaving its
    with-block lets go."""
    return Holder(prefix, winpath)


# Running programs.

def run(prefix, exe, args=(), stdin=None, timeout=DEFAULT_TIMEOUT):
    """Runs a Windows program (a host path or a C:\\ path) with pipes: the
    bytes stdin (None: no input) go in; returns Result(stdout, stderr,
    code)."""
    return _run(prefix, [WINE, str(exe)] + list(args), stdin=stdin, timeout=timeout)


class Terminal:
    """A program running in a pseudo-terminal, as a user at a console sees
    it: send() types, expect() reads until a pattern shows."""

    def __init__(self, prefix, exe, args, rows=25, columns=80):
        _start_server(prefix)
        self.master, slave = pty.openpty()
        # A console-sized window: Wine's console draws for it.
        fcntl.ioctl(slave, termios.TIOCSWINSZ,
                    (rows).to_bytes(2, "little") + (columns).to_bytes(2, "little") + bytes(4))
        # Keys go to the program as typed, not echoed by the terminal driver
        # before Wine's console takes the terminal over.
        attributes = termios.tcgetattr(slave)
        attributes[3] &= ~(termios.ECHO | termios.ICANON)
        termios.tcsetattr(slave, termios.TCSANOW, attributes)
        self.process = subprocess.Popen([WINE, str(exe)] + list(args), stdin=slave, stdout=slave,
                                        stderr=slave, env=_env(prefix), start_new_session=True,
                                        close_fds=True)
        os.close(slave)
        self.rows, self.columns = rows, columns
        self.output = b""

    def send(self, keys):
        """Types keys (bytes or str)."""
        os.write(self.master, keys.encode() if isinstance(keys, str) else keys)

    def _pump(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return False
        try:
            chunk = os.read(self.master, 4096)
        except OSError:
            return False
        self.output += chunk
        return bool(chunk)

    def expect(self, pattern, timeout=DEFAULT_TIMEOUT):
        """Reads until the output (escape sequences removed) matches a regular
        expression; returns the match, or raises WineError."""
        deadline = time.monotonic() + timeout
        regex = re.compile(pattern.encode() if isinstance(pattern, str) else pattern)
        while True:
            m = regex.search(self.text())
            if m:
                return m
            left = deadline - time.monotonic()
            if left <= 0 or not self._pump(left) and self.process.poll() is not None:
                raise WineError("%r not seen; output so far: %r" % (pattern, self.text()))

    def text(self):
        """The output so far as plain text: Wine's console moves the cursor
        over blanks (ESC [ n C) instead of printing spaces; those become
        spaces, other escape sequences go, and CR CR LF becomes LF."""
        text = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or b"1"), self.output)
        text = re.sub(rb"\x1b\[[0-9;?]*[ -/]*[@-~]|\x1b\][^\x07]*\x07|\x1b[()][0-9A-Za-z]",
                      b"", text)
        return re.sub(rb"\r+\n", b"\n", text)

    def screen(self):
        """What the terminal shows now, as a list of lines (trailing blanks
        removed): the output replayed on a rows x columns screen."""
        grid = [[" "] * self.columns for _ in range(self.rows)]
        row = column = 0
        for m in re.finditer(rb"\x1b\[([0-9;?]*)([ -/]*[@-~])|\x1b\][^\x07]*\x07|"
                             rb"\x1b[()][0-9A-Za-z]|[\x00-\xff]", self.output):
            if m.group(2):
                numbers = [int(n) for n in m.group(1).lstrip(b"?").split(b";") if n]
                count = numbers[0] if numbers else 1
                final = m.group(2)[-1:]
                if final == b"C":
                    column = min(self.columns - 1, column + count)
                elif final == b"D":
                    column = max(0, column - count)
                elif final == b"A":
                    row = max(0, row - count)
                elif final == b"B":
                    row = min(self.rows - 1, row + count)
                elif final in (b"H", b"f"):
                    row = min(self.rows, numbers[0] if numbers else 1) - 1
                    column = min(self.columns, numbers[1] if len(numbers) > 1 else 1) - 1
                elif final == b"K":
                    for i in range(column, self.columns):
                        grid[row][i] = " "
                elif final == b"J" and numbers and numbers[0] == 2:
                    grid = [[" "] * self.columns for _ in range(self.rows)]
                continue
            char = m.group(0)
            if char.startswith(b"\x1b"):
                continue
            if char == b"\r":
                column = 0
            elif char == b"\n":
                row += 1
                if row == self.rows:
                    grid = grid[1:] + [[" "] * self.columns]
                    row -= 1
            elif char == b"\b":
                column = max(0, column - 1)
            elif char >= b" ":
                if column == self.columns:
                    column = 0
                    row += 1
                    if row == self.rows:
                        grid = grid[1:] + [[" "] * self.columns]
                        row -= 1
                grid[row][column] = char.decode("latin-1")
                column += 1
        return ["".join(line).rstrip() for line in grid]

    def wait(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the program to end, reading its output; its exit code."""
        deadline = time.monotonic() + timeout
        while self.process.poll() is None:
            left = deadline - time.monotonic()
            if left <= 0:
                self.close()
                raise WineError("program did not end; output: %r" % self.text())
            self._pump(min(left, 0.2))
        while self._pump(0):
            pass
        return self.process.returncode

    def close(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        if self.master is not None:
            os.close(self.master)
            self.master = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def run_in_terminal(prefix, exe, args=()):
    """Starts a program in a pseudo-terminal; see Terminal."""
    return Terminal(prefix, exe, args)


# The machine itself.

def restart(prefix, timeout=DEFAULT_TIMEOUT):
    """What a restart does to the disk: every process of the prefix ends, then
    wineboot -r carries out PendingFileRenameOperations and wininit.ini."""
    shutdown(prefix)
    _wine(prefix, ["wineboot", "-r"], timeout=timeout)


def _stop_server(prefix_path):
    env = _env(prefix_path)
    subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=DEFAULT_TIMEOUT)
    subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=DEFAULT_TIMEOUT)


def shutdown(prefix):
    """Kills the prefix's wineserver and every process in it; the registry is
    saved to the prefix's files on the way."""
    for holder in list(getattr(prefix, "holders", [])):
        holder.kill()
        holder.process.stdin.close()
        holder.process.stdout.close()
        prefix.holders.remove(holder)
    if os.path.isdir(os.fspath(prefix)):
        _stop_server(prefix)


def processes(prefix):
    """Process ids of everything still running for the prefix: its
    wineserver, services and programs (found by WINEPREFIX)."""
    wanted = b"WINEPREFIX=" + os.fsencode(os.fspath(prefix)) + b"\0"
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if b"\0" + wanted in b"\0" + f.read():
                    found.append(int(name))
        except OSError:
            continue
    return found


@atexit.register
def _shutdown_all():
    for prefix in list(_live_prefixes):
        prefix.remove()
