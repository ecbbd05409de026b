"""The Windows executable's window, started under wine on a virtual X display
and driven as a user would: clicks and keys through xdotool, screenshots
through ImageMagick, and the program's log to learn what happened.

Where to click comes from the screens tool: the window's layout is fixed, so
the hit regions of a scripted screen are those of the live one (the text
widths there are measured by rule, not by DirectWrite, so only the centres
of regions are used)."""
import glob
import json
import os
import re
import shutil
import subprocess
import tempfile
import time

import harness
from harness import SOURCE_DIR

SCREENS = os.environ.get("SCREENS_EXE", "")


def tools_present():
    return all(shutil.which(t) for t in ("Xvfb", "xdotool", "import"))


class Display:
    """The X display the window is shown on: the one of the test run when
    there is one (wine's desktop lives as long as its wineserver, on the
    display it was first started with), else a virtual one of its own, with
    wine restarted on it."""

    def __init__(self):
        self.proc = None
        if os.environ.get("DISPLAY"):
            self.name = os.environ["DISPLAY"]
            return
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-noreset",
             "-nolisten", "tcp"], pass_fds=(w,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        # Every later wine process of this test (registry edits too) must see
        # the display, or wine's desktop comes up without one.
        os.environ["DISPLAY"] = self.name
        subprocess.run(["wineserver", "-k"], check=False, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], check=False, stderr=subprocess.DEVNULL)

    def close(self):
        if self.proc:
            subprocess.run(["wineserver", "-k"], check=False, stderr=subprocess.DEVNULL)
            os.environ.pop("DISPLAY", None)
            self.proc.terminate()
            self.proc.wait(timeout=10)


def prepare_prefix(dpi=96):
    """Tahoma for DirectWrite, and the DPI the prefix reports."""
    subprocess.run([os.path.join(SOURCE_DIR, "scripts", "wine-fonts.sh"), str(dpi)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


_regions = {}


def regions(screen):
    """The hit regions of a scripted screen, by action name (in drawing order)."""
    if screen not in _regions:
        # Now and then wine fails to start a process at all (no output, no
        # error of ours); the tool is asked again before the test gives up.
        for attempt in range(3):
            done = harness.run(SCREENS, ["screen", screen])
            if done.returncode == 0 and done.stdout.strip():
                break
        _regions[screen] = json.loads(done.stdout.decode())["regions"]
    return _regions[screen]


def region(screen, action, param=None):
    for r in regions(screen):
        if r["action"] == action and (param is None or r["param"] == param):
            return r
    raise KeyError(f"{screen} has no region {action}")


class Window:
    """One run of the executable without a mode flag."""

    def __init__(self, display, exe, env, localappdata, shots=None, args=()):
        self.display = display
        self.localappdata = localappdata
        self.shots = shots
        self.shot_number = 0
        full_env = dict(os.environ)
        full_env.setdefault("WINEDEBUG", "-all")
        full_env.update(env)
        full_env["DISPLAY"] = display.name
        self.env = full_env
        if harness.UNDER_WINE:
            harness._set_wine_localappdata(harness.host_path(localappdata))
        self.proc = subprocess.Popen(["wine", exe, *args], env=full_env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.id = None
        self.log_offset = 0

    # --- what the program says -------------------------------------------
    def log_text(self):
        text = ""
        for path in sorted(glob.glob(os.path.join(self.localappdata, "Ortivex", "Stickwright",
                                                  "logs", "*.log"))):
            with open(path, encoding="utf-8", errors="replace") as f:
                text += f.read()
        return text

    def wait_for_log(self, pattern, timeout=60, after_mark=True):
        """Waits until a log line after the last mark matches; returns the match."""
        regex = re.compile(pattern, re.M)
        until = time.monotonic() + timeout
        while time.monotonic() < until:
            text = self.log_text()
            m = regex.search(text, self.log_offset if after_mark else 0)
            if m:
                return m
            if self.proc.poll() is not None:
                raise AssertionError(f"the program ended ({self.proc.returncode}) while waiting "
                                     f"for {pattern!r}; log:\n{text}")
            time.sleep(0.1)
        raise AssertionError(f"no log line {pattern!r} within {timeout} s; log:\n{self.log_text()}")

    def mark(self):
        """Later waits only look at lines written from now on."""
        self.log_offset = len(self.log_text())

    def settings(self):
        path = os.path.join(self.localappdata, "Ortivex", "Stickwright", "settings.ini")
        with open(path, encoding="utf-8") as f:
            return f.read()

    # --- the window ----------------------------------------------------------
    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, check=False).stdout.decode()

    def find(self, name="Ortivex Stickwright", timeout=30):
        until = time.monotonic() + timeout
        while time.monotonic() < until:
            ids = self.xdotool("search", "--onlyvisible", "--name", f"^{re.escape(name)}$").split()
            if ids:
                return ids[-1]
            time.sleep(0.2)
        raise AssertionError(f"no window named {name!r}")

    def geometry(self, window_id):
        out = self.xdotool("getwindowgeometry", "--shell", window_id)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def started(self):
        self.wait_for_log(r"first frame \d+ ms after process start", timeout=90, after_mark=False)
        self.id = self.find()
        # Under wine a frame presented before X has mapped the window is
        # lost; the next one (the first scan's result repaints) shows.
        until = time.monotonic() + 10
        while time.monotonic() < until:
            shot = tempfile.mktemp(suffix=".png")
            subprocess.run(["import", "-window", self.id, shot], env=self.env, check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shown = os.path.exists(shot) and mean_brightness(shot) > 0
            if os.path.exists(shot):
                os.unlink(shot)
            if shown:
                break
            time.sleep(0.2)
        return self

    def client_origin(self, scale):
        """The client area's corner in the X window: wine draws the frame
        itself, with equal borders left, right and below."""
        _, _, w, h = self.geometry(self.id)
        border = (w - round(560 * scale)) // 2
        top = h - round(720 * scale) - border
        return border, top

    def click_at(self, x_dip, y_dip, scale=1.0):
        left, top = self.client_origin(scale)
        x, y = left + round(x_dip * scale), top + round(y_dip * scale)
        self.xdotool("mousemove", "--window", self.id, str(x), str(y))
        time.sleep(0.15)
        self.xdotool("click", "--window", self.id, "1")
        time.sleep(0.3)

    def click(self, screen, action, param=None, scale=1.0):
        r = region(screen, action, param)
        self.click_at(r["x"] + r["w"] / 2, r["y"] + r["h"] / 2, scale)

    def key(self, *keys):
        """Real key presses (XTEST) into the window, given the input focus
        first: wine drops events sent to a window that does not have it."""
        self.xdotool("windowfocus", "--sync", self.id)
        for k in keys:
            self.xdotool("key", k)
            time.sleep(0.12)

    def screenshot(self, name, settle=0.6):
        """Saves the window as NN-name.png beside the gallery; returns the path.
        Under wine the frames are drawn in software, so fades are given time."""
        if not self.shots:
            target = tempfile.mktemp(suffix=".png")
        else:
            os.makedirs(self.shots, exist_ok=True)
            self.shot_number += 1
            target = os.path.join(self.shots, f"{self.shot_number:02d}-{name}.png")
        time.sleep(settle)
        subprocess.run(["import", "-window", self.id, target], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return target

    def screenshot_when(self, name, shows=lambda shot: True, timeout=60):
        """Screenshots until the picture holds still (two shots alike) and
        `shows(path)` holds; the last one is kept as name. What a test checks
        is then the window at rest, however slowly a busy machine draws it;
        the timeout only guards against a hang (the caller's assertion then
        fails on the last shot)."""
        until = time.monotonic() + timeout
        previous = None
        while True:
            shot = self.screenshot(name, settle=0.2)
            steady = previous is not None and same_picture(previous, shot)
            if previous is not None:
                os.unlink(previous)
            if (steady and shows(shot)) or time.monotonic() > until:
                return shot
            previous = shot + ".previous.png"
            os.replace(shot, previous)
            self.shot_number -= 1  # the next shot takes this one's name

    def alive(self):
        return self.proc.poll() is None

    def close(self):
        if self.alive():
            self.proc.terminate()
            try:
                self.proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def same_picture(a, b):
    """Whether two screenshots are the same to the pixel."""
    out = subprocess.run(["compare", "-metric", "AE", a, b, "null:"], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT).stdout.decode().strip()
    return out.split()[0] == "0"


def mean_brightness(png, box=None):
    """The mean of all channels of a screenshot (or of box = x, y, w, h)."""
    args = ["convert", png]
    if box:
        x, y, w, h = box
        args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    args += ["-colorspace", "Gray", "-format", "%[fx:mean]", "info:"]
    return float(subprocess.run(args, stdout=subprocess.PIPE, check=True).stdout)


def spread(png, box):
    """The standard deviation of the grey levels (0 to 1) in box = x, y, w, h:
    0 where the box is one plain colour."""
    x, y, w, h = box
    out = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-colorspace",
                          "Gray", "-format", "%[fx:standard_deviation]", "info:"],
                         stdout=subprocess.PIPE, check=True).stdout
    return float(out)


def mean_rgb(png, box):
    """The mean red, green and blue (0 to 1) of box = x, y, w, h."""
    x, y, w, h = box
    out = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-format",
                          "%[fx:mean.r] %[fx:mean.g] %[fx:mean.b]", "info:"],
                         stdout=subprocess.PIPE, check=True).stdout.split()
    return tuple(float(v) for v in out)
