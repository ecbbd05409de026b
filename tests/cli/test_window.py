"""The window under wine on a virtual display, driven as a user would: pick a
signed image in the real file dialog, choose the simulated drive, confirm the
erase, watch it written and verified, eject, done; restore the drive; and
the keyboard, the appearance switches and closing while a write runs.

Screenshots of each step land in the build tree (window-shots/), beside the
gallery."""
import getpass
import glob
import os
import shutil
import subprocess
import time
import unittest

import harness
import window_driver
from harness import BINARY_DIR, EXE, UNDER_WINE, host_path
from https_servers import Nginx, TestCA, wine_trust
from window_driver import Display, Window, mean_brightness

IMAGES = os.environ.get("TEST_IMAGES_DIR", "")
SECRET_KEY = os.path.join(harness.SOURCE_DIR, "keys", "dev-media-ed25519.secret")
MiB = 1 << 20


def image(name):
    return os.path.join(IMAGES, name)


def wine_downloads():
    """The Downloads folder of the prefix's user, where the window downloads to."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    return os.path.join(prefix, "drive_c", "users", getpass.getuser(), "Downloads")


def remove_downloads():
    for path in glob.glob(os.path.join(wine_downloads(), "OrtivexOS-*")):
        os.unlink(path)


same_picture = window_driver.same_picture


@unittest.skipUnless(UNDER_WINE and IMAGES and window_driver.SCREENS and window_driver.tools_present(),
                     "the Windows build under wine, with Xvfb, xdotool and ImageMagick")
class DrivenWindow(harness.TempDirTestCase):
    @classmethod
    def setUpClass(cls):
        window_driver.prepare_prefix(96)
        cls.facts = harness.determinable_facts()
        cls.display = Display()

    @classmethod
    def tearDownClass(cls):
        cls.display.close()

    def open(self, name, settings="", extra_env=None, args=()):
        self.stick = os.path.join(self.tmp, "stick.img")
        with open(self.stick, "wb") as f:
            f.write(b"\xAA" * MiB)
            f.truncate(64 * MiB)
        env = {"ORTIVEX_SIMULATED_USB": f"{host_path(self.stick)},serial=GUI{settings}",
               **self.facts, **(extra_env or {})}
        shots = os.path.join(BINARY_DIR, "window-shots", name)
        window = Window(self.display, EXE, env, self.tmp, shots=shots, args=args)
        self.addCleanup(window.close)
        return window.started()

    def pick(self, w, name="signed.iso"):
        """Select ISO, the path typed into the real file dialog."""
        w.mark()
        w.click("setup-empty", "SelectImage")
        dialog = w.find("Open")
        w.xdotool("windowfocus", "--sync", dialog)
        time.sleep(0.3)
        w.xdotool("type", "--delay", "15", host_path(image(name)))
        w.xdotool("key", "--window", dialog, "Return")
        w.wait_for_log(r"--ImageAccepted--> ImageReady")
        ready = w.wait_for_log(r"--DeviceSelected--> DeviceReady")
        # "Create bootable USB" waits for the scan that checks the drive
        # against the accepted image.
        w.log_offset = ready.end()
        w.wait_for_log(r"INFO  scan: \d+ disks")

    def test_words_that_are_not_mode_flags_open_the_window_after_its_start_lines(self):
        w = self.open("not-mode-flags", args=["--HEALTH", "--write=1", "--bench-mib", "5"])
        lines = w.log_text().splitlines()
        self.assertRegex(lines[0], harness.LOG_LINE + r"Ortivex Stickwright 1\.3\.1 "
                         r"\(build 5553\.39efadd7\) on \S.*\(build \d+")
        self.assertRegex(lines[1], harness.LOG_LINE + r"elevated=(true|false)$")
        w.key("alt+F4")
        self.assertEqual(w.proc.wait(timeout=30), 0)

    def test_a_signed_image_written_verified_ejected_and_done(self):
        w = self.open("write")
        w.screenshot("start")
        self.pick(w)
        w.screenshot("official-image")

        w.mark()
        w.click("setup-selected", "Create")
        w.wait_for_log(r"DeviceReady --\w+--> Confirming")
        w.screenshot("erase-confirmation")
        w.click("overlay-erase", "AcceptErase")
        w.wait_for_log(r"Confirming --\w+--> Preparing")
        w.wait_for_log(r"--> Complete", timeout=180)
        w.screenshot("complete", settle=2)

        w.mark()
        w.click("complete", "Eject")
        w.wait_for_log(r"(?i)eject", timeout=60)
        time.sleep(1)
        w.screenshot("ejected")
        w.mark()
        w.click("complete-ejected", "Done")
        w.wait_for_log(r"Complete --\w+--> \w+")
        w.screenshot("done")

        with open(image("signed.iso"), "rb") as f:
            written = f.read()
        with open(self.stick, "rb") as f:
            self.assertEqual(f.read(len(written)), written, "the drive holds the image")

        # Closing an idle window ends the process with exit code 0.
        w.key("alt+F4")
        self.assertEqual(w.proc.wait(timeout=30), 0)

    def test_keyboard_escape_and_tab(self):
        w = self.open("keyboard")
        self.pick(w)
        # Escape dismisses the erase confirmation.
        w.mark()
        w.click("setup-selected", "Create")
        w.wait_for_log(r"DeviceReady --\w+--> Confirming")
        w.key("Escape")
        w.wait_for_log(r"Confirming --ConfirmDismissed--> DeviceReady")
        time.sleep(0.5)

        # Tab visits every enabled element once, then wraps to the first.
        # The scripted screen offers two drives, the live one one.
        kinds = []
        for r in window_driver.regions("setup-selected"):
            if r["enabled"] and (r["action"], r["param"]) not in kinds:
                if r["action"] != "SelectDrive" or "SelectDrive" not in [k[0] for k in kinds]:
                    kinds.append((r["action"], r["param"]))
        # Each Tab moves the drawn focus: each picture is awaited until it
        # differs from the one before (the last, until it is the first again).
        shots = [w.screenshot_when("before-tab")]
        for i in range(len(kinds) + 1):
            w.key("Tab")
            if i < len(kinds):
                moved = lambda shot, before=shots[-1]: not same_picture(shot, before)
            else:
                moved = lambda shot: same_picture(shot, shots[1])
            shots.append(w.screenshot_when(f"tab-{i + 1}", moved))
        shots = shots[1:]
        for i in range(len(kinds)):
            for j in range(i):
                self.assertFalse(same_picture(shots[i], shots[j]),
                                 f"Tab {i + 1} shows the same focus as Tab {j + 1}")
        self.assertTrue(same_picture(shots[len(kinds)], shots[0]), "Tab wraps to the first")
        # From the first, Shift+Tab wraps back to the last, "Create bootable
        # USB"; Enter presses it.
        self.assertEqual(kinds[-1][0], "Create")
        w.mark()
        w.key("shift+Tab", "Return")
        w.wait_for_log(r"DeviceReady --\w+--> Confirming")
        w.key("Escape")

    def test_theme_and_language_switches(self):
        w = self.open("appearance")
        light = w.screenshot_when("light")
        w.click("setup-empty", "TogglePanel")
        w.click("overlay-appearance", "SetTheme", 2)
        w.key("Escape")
        dark = w.screenshot_when(
            "dark", lambda shot: mean_brightness(shot) < mean_brightness(light) - 0.2)
        self.assertIn("theme=dark", w.settings())
        self.assertLess(mean_brightness(dark), mean_brightness(light) - 0.2)

        w.click("setup-empty", "TogglePanel")
        w.click("overlay-appearance", "SetLanguage", 1)
        w.key("Escape")
        spanish = w.screenshot_when("spanish", lambda shot: not same_picture(shot, dark))
        self.assertIn("lang=es", w.settings())
        self.assertFalse(same_picture(dark, spanish))

    def test_closing_while_writing_shows_the_notice_and_the_window_stays(self):
        w = self.open("close-while-writing", settings=",mbps=1")
        self.pick(w)
        w.mark()
        w.click("setup-selected", "Create")
        w.wait_for_log(r"--> Confirming")
        w.click("overlay-erase", "AcceptErase")
        w.wait_for_log(r"Preparing -> Writing", timeout=60)
        # Where the notice's "Close" button will be, the card lies.
        button = window_driver.region("overlay-close-refused", "ClosePanel")
        box = (int(button["x"]) + 4, int(button["y"]) + 4, int(button["w"]) - 8,
               int(button["h"]) - 8)
        before = w.screenshot_when("writing")
        card = mean_brightness(before, box)
        w.key("alt+F4")
        notice = w.screenshot_when("close-refused", lambda p: mean_brightness(p, box) < card - 0.2)
        self.assertLess(mean_brightness(notice, box), card - 0.2, "the notice is shown")
        self.assertTrue(w.alive(), "the window stays while writing")
        w.key("Escape")
        gone = w.screenshot_when("notice-dismissed", lambda p: mean_brightness(p, box) > card - 0.2)
        self.assertGreater(mean_brightness(gone, box), card - 0.2, "Escape dismissed the notice")
        w.wait_for_log(r"--> Complete", timeout=180)
        w.screenshot("complete", settle=2)

    def test_a_failed_write_ends_on_the_failure_screen_without_input(self):
        # The drive is pulled out while it is written.
        w = self.open("failed-write", settings=",mbps=1,remove-at=2097152")
        self.pick(w)
        w.mark()
        w.click("setup-selected", "Create")
        w.wait_for_log(r"--> Confirming")
        w.click("overlay-erase", "AcceptErase")
        w.wait_for_log(r"Confirming --\w+--> Preparing")
        # The pointer leaves the window while the drive is written, so that
        # nothing but the window itself repaints it from here on.
        w.xdotool("mousemove", "0", "0")
        w.wait_for_log(r"--Errored--> Failed", timeout=120)
        # Where the failure screen has nothing, the progress screen had its
        # title and its figures: once the fade is over no trace of them is left.
        left, top = w.client_origin(1.0)
        bands = [(left + 32, top + 82, 496, 16), (left + 40, top + 360, 480, 90)]

        def settled(shot):
            return all(window_driver.spread(shot, box) < 0.01 for box in bands)

        shot = w.screenshot_when("failed", settled, timeout=60)
        for box in bands:
            self.assertLess(window_driver.spread(shot, box), 0.01,
                            f"the progress screen still shows through at {box}")

    def test_closing_during_the_scan_and_the_validation_ends_cleanly(self):
        w = self.open("close-early")
        w.key("alt+F4")  # the first scan may still be running
        self.assertEqual(w.proc.wait(timeout=30), 0)

        w = self.open("close-validating")
        w.click("setup-empty", "SelectImage")
        dialog = w.find("Open")
        w.xdotool("windowfocus", "--sync", dialog)
        w.xdotool("type", "--delay", "15", host_path(image("signed.iso")))
        w.xdotool("key", "--window", dialog, "Return")
        w.key("alt+F4")
        self.assertEqual(w.proc.wait(timeout=30), 0)
        self.assertRegex(w.log_text(), r"state Idle --\w+--> ImageSelected")

    def test_the_drive_check_runs_from_its_button_and_keeps_every_byte(self):
        w = self.open("drive-check")
        self.pick(w)
        with open(self.stick, "rb") as f:
            before = f.read()
        w.mark()
        w.click("setup-selected", "CheckDrive")
        m = w.wait_for_log(r"health check of disk 4000000000: HealthReport \{ drive: "
                           r"\"Ortivex Simulated USB\", .*\}$", timeout=120)
        self.assertIn("read: Pass(", m.group(0))
        self.assertIn("write: Pass(", m.group(0))
        w.screenshot("finished")
        with open(self.stick, "rb") as f:
            self.assertEqual(f.read(), before, "the check gives every byte back")
        # Its button closes the panel; the drive is offered as before.
        w.mark()
        w.click("overlay-drive-check-done", "CloseDriveCheck")
        w.click("setup-selected", "Create")
        w.wait_for_log(r"DeviceReady --\w+--> Confirming")
        w.key("Escape")

    def test_a_drive_restored_from_its_button_gets_one_fat32_partition(self):
        w = self.open("restore")
        self.pick(w)
        w.mark()
        w.click("setup-selected", "RestoreDrive")
        w.screenshot("restore-confirmation")
        w.click("overlay-restore", "AcceptRestore")
        w.wait_for_log(r"state DeviceReady --RestoreAccepted--> Preparing")
        done = w.wait_for_log(r"restore (OK|failed): .*$", timeout=180)
        self.assertTrue(done.group(0).startswith("restore OK: FAT32, "), done.group(0))
        w.wait_for_log(r"--> Complete")
        w.screenshot("restored", settle=2)
        with open(self.stick, "rb") as f:
            head = f.read(MiB + 512)
        self.assertEqual(head[510:512], b"\x55\xAA")
        self.assertEqual(head[446 + 4], 0x0C, "one FAT32 (LBA) partition")
        self.assertEqual(int.from_bytes(head[446 + 8:446 + 12], "little"), 2048)
        self.assertEqual(head[MiB + 82:MiB + 90], b"FAT32   ")
        # Done goes back to the setup with the image chosen before.
        w.mark()
        w.click("complete-restore", "Done")
        w.wait_for_log(r"Complete --Reset--> Idle")

    def test_the_latest_release_downloaded_into_downloads_checked_and_offered(self):
        # The release as the vendor publishes it: the signed sample image and
        # its signed descriptor, over HTTPS from a CA the prefix trusts.
        www = os.path.join(self.tmp, "www")
        downloads = os.path.join(www, "downloads")
        os.makedirs(downloads)
        shutil.copyfile(image("signed.iso"), os.path.join(downloads, "OrtivexOS-Lastest.iso"))
        made = harness.run(harness.MEDIATOOL, [
            "descriptor", host_path(os.path.join(downloads, "OrtivexOS-Lastest.iso")),
            host_path(SECRET_KEY),
            "--out", host_path(os.path.join(downloads, "OrtivexOS-Lastest.json"))])
        self.assertEqual(made.returncode, 0, made.stderr)
        version = harness.lines(made.stdout)[0].split()[0]
        ca = TestCA(os.path.join(self.tmp, "ca"))
        nginx = Nginx(www, ca.cert, ca.key, os.path.join(self.tmp, "nginx")).start()
        self.addCleanup(nginx.stop)
        trust = wine_trust(ca)
        trust.__enter__()
        self.addCleanup(trust.__exit__, None, None, None)
        local = "localhost,.localhost,127.0.0.1"
        target = os.path.join(wine_downloads(), f"OrtivexOS-{version}.iso")
        remove_downloads()
        self.addCleanup(remove_downloads)

        w = self.open("download", extra_env={"ORTIVEX_SW_DOWNLOAD_BASE": nginx.url("downloads/"),
                                             "no_proxy": local, "NO_PROXY": local})
        w.mark()
        w.click("setup-empty", "DownloadLatest")
        w.wait_for_log(r"Idle --DownloadStarted--> Downloading")
        w.wait_for_log(r"Downloading --DownloadFinished--> ImageSelected", timeout=120)
        w.wait_for_log(r"--ImageAccepted--> ImageReady")
        # The download hashed what it received: no second pass over the image.
        self.assertIn("image content already verified during download", w.log_text())
        w.screenshot("offered")
        with open(target, "rb") as got, open(image("signed.iso"), "rb") as want:
            self.assertEqual(got.read(), want.read())

    def test_at_150_percent_on_a_screen_too_short_for_it_the_whole_window_is_shown(self):
        # 1080 pixels of client area at 144 DPI do not fit the 1024 lines of
        # the display: the window is laid out smaller, all of it on screen.
        window_driver.prepare_prefix(144)
        self.addCleanup(window_driver.prepare_prefix, 96)
        w = self.open("fitted-at-144-dpi")
        _, y, width, height = w.geometry(w.id)
        _, screen_height = map(int, w.xdotool("getdisplaygeometry").split())
        self.assertGreaterEqual(y, 0)
        self.assertLessEqual(y + height, screen_height)
        self.assertLess(width, 840, "laid out below 144 DPI")
        self.assertGreater(width, 560, "but above 96")
        self.assertAlmostEqual(width / height, 560 / 720, delta=0.005)
        w.screenshot("setup")
        # Clicks land where the smaller layout drew its buttons.
        w.click("setup-empty", "SelectImage", scale=width / 560)
        dialog = w.find("Open")
        w.xdotool("key", "--window", dialog, "Escape")

    def test_a_process_without_administrator_rights_opens_on_the_failed_screen(self):
        # Wine runs every program elevated; the development build can be told
        # that the token says otherwise.
        w = self.open("unelevated", extra_env={"ORTIVEX_SIMULATED_UNELEVATED": "1"})
        self.assertIn("INFO  elevated=false", w.log_text())
        self.assertIn("INFO  state Idle -> Failed", w.log_text())
        # The failed screen's red mark stands where the setup screen has its
        # title.
        def red_mark(shot):
            red, green, blue = window_driver.mean_rgb(shot, (262, 124, 36, 36))
            return red > green + 0.3 and red > blue + 0.3

        shot = w.screenshot_when("failed", red_mark)
        red, green, blue = window_driver.mean_rgb(shot, (262, 124, 36, 36))
        self.assertGreater(red, green + 0.3, "the failed screen's red mark")
        self.assertGreater(red, blue + 0.3, "the failed screen's red mark")
        w.key("alt+F4")
        self.assertEqual(w.proc.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main()
