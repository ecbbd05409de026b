"""Runs the built executables natively or under wine for end-to-end tests.

The build passes STICKWRIGHT_EXE, MEDIATOOL_EXE, STICKWRIGHT_RUNNER ("wine" for
the Windows build, empty for Linux) and STICKWRIGHT_BINARY_DIR.
"""
import glob
import os
import re
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
    cmd, full_env = _command(exe, args, env, localappdata)
    return subprocess.run(cmd, env=full_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout, stdin=stdin if stdin is not None else subprocess.DEVNULL)


def start(exe, args, env=None, localappdata=None):
    """Starts exe as run() does, without waiting: its output is read as it comes."""
    cmd, full_env = _command(exe, args, env, localappdata)
    return subprocess.Popen(cmd, env=full_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL)


def _command(exe, args, env, localappdata):
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
    return cmd, full_env


# The disk that development builds take wine's volumes to rest on; any number
# below the simulated drives' range.
SYSTEM_DISK = "0"
_system_partition = None


def determinable_facts():
    """Environment in which the development build can tell the system facts.

    Natively nothing is needed. Under wine the volumes do not report their
    disks and the registry has no HKLM\\SYSTEM\\Setup SystemPartition, so every
    drive would be refused as undetermined: ORTIVEX_SIMULATED_SYSTEM_DISK names
    the disk of such volumes, and the wine prefix gets SystemPartition set to
    the device wine reports for C:'s volume. Only a throw-away prefix is
    touched (WINEPREFIX set, and not the user's own ~/.wine)."""
    if not UNDER_WINE:
        return {}
    env = {"ORTIVEX_SIMULATED_SYSTEM_DISK": SYSTEM_DISK}
    _set_system_partition(env)
    return env


def _set_system_partition(env):
    global _system_partition
    if _system_partition is not None:
        return
    prefix = os.environ.get("WINEPREFIX", "")
    own = os.path.realpath(os.path.expanduser("~/.wine"))
    if not prefix or os.path.realpath(prefix) == own:
        raise RuntimeError("the system facts under wine need a throw-away WINEPREFIX "
                           "(scripts/test.sh makes one); refusing to change " + (prefix or own))
    # The program logs, once per run, each volume it takes to rest on the
    # system disk, with the device name wine gave it.
    logs = tempfile.mkdtemp(prefix="stickwright-facts-")
    try:
        result = run(EXE, ["--list-drives"], env=env, localappdata=logs)
        if result.returncode != 0:
            raise RuntimeError("--list-drives failed: " + result.stderr.decode(errors="replace"))
        device = None
        pattern = re.compile(r"ORTIVEX_SIMULATED_SYSTEM_DISK: volume \S+ \(device (\S+), "
                             r"letters (?:[A-Z]: )*C:(?: [A-Z]:)*\)")
        for log in glob.glob(os.path.join(logs, "Ortivex", "Stickwright", "logs", "*.log")):
            with open(log, encoding="utf-8", errors="replace") as f:
                for line in f:
                    m = pattern.search(line)
                    if m:
                        device = m.group(1)
        if device is None or device == "unknown":
            raise RuntimeError("wine reported no device for the volume of C:")
    finally:
        shutil.rmtree(logs, ignore_errors=True)
    subprocess.run(["wine", "reg", "add", r"HKLM\SYSTEM\Setup", "/v", "SystemPartition",
                    "/t", "REG_SZ", "/d", device, "/f"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    _system_partition = device


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
