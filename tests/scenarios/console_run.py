"""Runs a console program the way a person would, for the scenario tests.

The program gets a pseudo-terminal as its controlling terminal (its console
input), and pipes for standard output and standard error, so that both are
captured byte for byte. Keys are typed into the terminal only once the
program waits for one: the terminal is in raw mode and the program sleeps.
"""

import fcntl
import os
import signal
import struct
import subprocess
import termios
import threading
import time

REBOOT_REQUEST = b"Please reboot PC NOW to finish removing process.\r\n"
RESTART = "restart"


class Collector(threading.Thread):
    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream = stream
        self.data = b""
        self.lock = threading.Lock()

    def run(self):
        while True:
            chunk = self.stream.read1(4096) if hasattr(self.stream, "read1") else self.stream.read(4096)
            if not chunk:
                return
            with self.lock:
                self.data += chunk

    def text(self):
        with self.lock:
            return self.data


def _process_state(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return "?"


def _waiting_bytes(fd):
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]


def _wait_until(condition, deadline, step=0.01):
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return False


def run(command, env, keys, timeout=30.0, restart_grace=0.5, waiting_for_key=None):
    """Runs `command`; `keys` is None (no console at all) or a list of
    ("before", text), ("answer", text) and ("stdin", bytes) steps.
    Returns (stdout bytes, stderr bytes, exit code or RESTART, problems)."""
    problems = []
    master = slave = None
    stdin = subprocess.DEVNULL
    stdin_file = None
    if keys is not None:
        master, slave = os.openpty()
        stdin = slave
        for kind, value in keys:
            if kind == "stdin":
                path = _temp_input(value)
                stdin_file = open(path, "rb")
                os.unlink(path)
                stdin = stdin_file
        tty_name = os.ttyname(slave)

        def take_terminal():
            os.setsid()
            os.close(os.open(tty_name, os.O_RDWR))  # becomes the controlling terminal

        preexec = take_terminal
    else:
        preexec = os.setsid

    if master is not None:
        for kind, value in keys:
            if kind == "before":
                os.write(master, value.encode("latin-1"))

    process = subprocess.Popen(
        command, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, preexec_fn=preexec
    )
    out, err = Collector(process.stdout), Collector(process.stderr)
    out.start()
    err.start()
    deadline = time.monotonic() + timeout

    if waiting_for_key is None:

        def waiting_for_key():
            raw = not (termios.tcgetattr(master)[3] & termios.ICANON)
            return raw and _process_state(process.pid) == "S" and _waiting_bytes(slave) == 0

    for kind, value in keys or []:
        if kind != "answer":
            continue
        if not _wait_until(lambda: waiting_for_key() or process.poll() is not None, deadline):
            problems.append("the program never waited for the key %r" % value)
            break
        if process.poll() is not None:
            problems.append("the program ended before the key %r" % value)
            break
        time.sleep(0.05)  # lets a wait that just began settle
        os.write(master, value.encode("latin-1"))
        # The key is taken once the terminal has handed it over.
        _wait_until(lambda: _waiting_bytes(slave) == 0 or process.poll() is not None, deadline)

    result = None
    while time.monotonic() < deadline:
        if process.poll() is not None:
            result = process.returncode
            break
        if REBOOT_REQUEST in out.text():
            time.sleep(restart_grace)
            if process.poll() is None:
                result = RESTART
                os.killpg(process.pid, signal.SIGINT)
            else:
                result = process.returncode
            break
        time.sleep(0.01)
    if result is None:
        problems.append("the program did not end within %.0f s" % timeout)
        os.killpg(process.pid, signal.SIGKILL)
    process.wait()
    out.join(5)
    err.join(5)
    for fd in (master, slave):
        if fd is not None:
            os.close(fd)
    if stdin_file is not None:
        stdin_file.close()
    return out.text(), err.text(), result, problems


def _temp_input(data):
    import tempfile

    handle, path = tempfile.mkstemp(prefix="tarsk4-stdin-")
    os.write(handle, data)
    os.close(handle)
    return path
