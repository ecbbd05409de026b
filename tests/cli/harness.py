"""Runs the built executables natively or under wine for end-to-end tests.

The build passes STICKWRIGHT_EXE, MEDIATOOL_EXE, STICKWRIGHT_RUNNER ("wine" for
the Windows build, empty for Linux) and STICKWRIGHT_BINARY_DIR.
"""
import os
import shutil
import subprocess
import tempfile
import unittest

EXE = os.environ.get("STICKWRIGHT_EXE", "")
MEDIATOOL = os.environ.get("MEDIATOOL_EXE", "")
RUNNER = os.environ.get("STICKWRIGHT_RUNNER", "")
BINARY_DIR = os.environ.get("STICKWRIGHT_BINARY_DIR", "")
SOURCE_DIR = os.environ.get("STICKWRIGHT_SOURCE_DIR", "")
UNDER_WINE = RUNNER == "wine"

LOG_LINE = r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ (INFO |WARN |ERROR) "


def host_path(path):
    """A path as the program under test sees it."""
    path = os.path.abspath(path)
    if UNDER_WINE:
        return "Z:" + path.replace("/", "\\")
    return path


def _set_wine_localappdata(value):
    # Wine builds LOCALAPPDATA from the registry at every process start, so
    # the Unix environment cannot change it; the throw-away prefix can.
    if value is None:
        cmd = ["wine", "reg", "delete", r"HKCU\Volatile Environment", "/v", "LOCALAPPDATA", "/f"]
    else:
        cmd = ["wine", "reg", "add", r"HKCU\Volatile Environment", "/v", "LOCALAPPDATA",
               "/d", value, "/f"]
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def run(exe, args, env=None, localappdata=None, timeout=300, stdin=None):
    """Runs exe with args; localappdata is a host directory for the logs."""
    full_env = dict(os.environ)
    full_env.setdefault("WINEDEBUG", "-all")
    if env:
        for key, value in env.items():
            if value is None:
                full_env.pop(key, None)
            else:
                full_env[key] = value
    if localappdata is not None:
        if UNDER_WINE:
            _set_wine_localappdata(host_path(localappdata))
        else:
            full_env["LOCALAPPDATA"] = localappdata
    cmd = ([RUNNER] if RUNNER else []) + [exe] + list(args)
    return subprocess.run(cmd, env=full_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout, stdin=stdin if stdin is not None else subprocess.DEVNULL)


def lines(data):
    """Output bytes as text lines (carriage returns of the Windows console dropped)."""
    return data.decode("utf-8").replace("\r\n", "\n").splitlines()


class TempDirTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="stickwright-cli-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def log_dir(self, base=None):
        return os.path.join(base or self.tmp, "Ortivex", "Stickwright", "logs")
