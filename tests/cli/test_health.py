"""--health end to end on simulated sticks, natively and under wine (where
the development build is told which disk wine's volumes rest on): a healthy
stick keeps every byte, a write-protected one is not healthy, an unreadable
one says why, and without a test drive nothing is checked."""
import glob
import hashlib
import os
import re
import unittest

import harness
from harness import EXE, UNDER_WINE, host_path, lines, run

SPEED = r"[0-9][0-9.e+-]*"
HEALTH_LINE = re.compile(
    r"^health \((\d+\.\d) s\): healthy=(true|false) HealthReport \{ drive: \"Ortivex Simulated USB\", "
    r"file_write: (.*), read: (.*), write: (.*), error: (None|Some\(\".*\"\)) \}$")
# The system's code for a failed transfer: EIO natively, ERROR_IO_DEVICE under wine.
IO_ERROR = 1117 if UNDER_WINE else 5


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class Health(harness.TempDirTestCase):
    def setUp(self):
        super().setUp()
        self.stick = os.path.join(self.tmp, "stick.img")
        with open(self.stick, "wb") as f:
            f.write(os.urandom(16 << 20))
        self.before = digest(self.stick)

    def health(self, settings="", serial="HEALTHY", facts=True):
        env = dict(harness.determinable_facts() if facts else {})
        env["ORTIVEX_SIMULATED_USB"] = f"{host_path(self.stick)},serial=HEALTHY{settings}"
        env["ORTIVEX_TEST_USB_SERIAL"] = serial
        result = run(EXE, ["--health"], env=env, localappdata=self.tmp, timeout=120)
        out = lines(result.stdout)
        self.assertRegex(out[0], r"^Ortivex Stickwright 1\.3\.1 .*\(headless\) on ")
        return result.returncode, out[1:]

    def checked(self, settings=""):
        code, out = self.health(settings)
        self.assertEqual(len(out), 2, out)
        self.assertEqual(out[0], "target: disk 4000000000 'Ortivex Simulated USB' "
                                 "serial='HEALTHY' size=16777216 usb=Some(High) sector=512")
        m = HEALTH_LINE.match(out[1])
        self.assertIsNotNone(m, out[1])
        return code, m

    def test_healthy_stick_keeps_every_byte(self):
        code, m = self.checked()
        self.assertEqual(code, 0, m.group(0))
        self.assertEqual(m.group(2), "true")
        # No letter and no mounted file system: the file test is skipped.
        self.assertEqual(m.group(3), "Skipped")
        self.assertRegex(m.group(4), rf"^Pass\(Some\({SPEED}\)\)$")
        self.assertRegex(m.group(5), rf"^Pass\(Some\({SPEED}\)\)$")
        self.assertEqual(m.group(6), "None")
        self.assertEqual(digest(self.stick), self.before)
        # The transcript holds the lines, the log the check's start.
        transcript = glob.glob(os.path.join(self.log_dir(), "cli-*.txt"))
        self.assertEqual(len(transcript), 1)
        with open(transcript[0], encoding="utf-8") as f:
            self.assertIn(m.group(0), f.read().splitlines())
        log = glob.glob(os.path.join(self.log_dir(), "stickwright-*.log"))
        with open(log[0], encoding="utf-8") as f:
            self.assertIn("health check start: disk 4000000000 'Ortivex Simulated USB' "
                          "serial='HEALTHY'", f.read())

    def test_write_protected_stick_is_not_healthy(self):
        code, m = self.checked(",write-protect")
        self.assertEqual(code, 1)
        self.assertEqual(m.group(2), "false")
        self.assertRegex(m.group(4), rf"^Pass\(Some\({SPEED}\)\)$")
        self.assertEqual(m.group(5), "WriteProtected")
        self.assertEqual(m.group(6), "None")
        self.assertEqual(digest(self.stick), self.before)

    def test_unreadable_stick_says_why(self):
        code, m = self.checked(f",error={IO_ERROR}@2097152")
        self.assertEqual(code, 1)
        self.assertRegex(m.group(4), rf"^Failed\(\".*\(os error {IO_ERROR}\)\"\)$")
        self.assertEqual(m.group(5), 'Failed("at byte 0: not tested: the drive could not be read")')
        self.assertEqual(digest(self.stick), self.before)

    def test_without_a_test_drive_nothing_is_checked(self):
        code, out = self.health(serial="NOPE")
        self.assertEqual((code, out), (3, ["refused: 0 drives have serial 'NOPE' (need exactly one)"]))
        self.assertEqual(digest(self.stick), self.before)

    @unittest.skipUnless(UNDER_WINE, "only wine cannot tell the disks of its volumes")
    def test_under_wine_the_facts_need_the_development_remedy(self):
        code, out = self.health(facts=False)
        self.assertEqual(code, 3)
        self.assertRegex(out[0], r"^refused: disk 4000000000 is protected: \[Undetermined\(")


if __name__ == "__main__":
    unittest.main()
