"""The headless face end to end: banner, refusals, transcript and log file."""
import glob
import os
import re
import unittest

import harness
from harness import EXE, LOG_LINE, UNDER_WINE, lines, run

BANNER = re.compile(r"^Ortivex Stickwright 1\.3\.1 \(build 5553\.39efadd7\) \(headless\) on \S.*$")


class HeadlessRefusals(harness.TempDirTestCase):
    def run_headless(self, args, env=None, base=None):
        return run(EXE, args, env=env, localappdata=base or self.tmp)

    def check_outputs(self, result, expected_after_banner, base=None):
        out = lines(result.stdout)
        self.assertEqual(len(out), 1 + len(expected_after_banner), out)
        self.assertRegex(out[0], BANNER)
        self.assertEqual(out[1:], expected_after_banner)
        logs = self.log_dir(base)
        transcripts = glob.glob(os.path.join(logs, "cli-*.txt"))
        self.assertEqual(len(transcripts), 1, os.listdir(logs))
        self.assertRegex(os.path.basename(transcripts[0]), r"^cli-\d+\.txt$")
        with open(transcripts[0], encoding="utf-8") as f:
            self.assertEqual(f.read().splitlines(), out)
        run_logs = glob.glob(os.path.join(logs, "stickwright-*.log"))
        self.assertEqual(len(run_logs), 1)
        self.assertRegex(os.path.basename(run_logs[0]), r"^stickwright-\d{8}-\d{6}\.log$")
        with open(run_logs[0], encoding="utf-8") as f:
            log_lines = f.read().splitlines()
        self.assertEqual(len(log_lines), len(out))
        for log_line, line in zip(log_lines, out):
            self.assertRegex(log_line, LOG_LINE)
            self.assertEqual(log_line[21:], "INFO  " + line)

    def test_destructive_mode_without_enabling_option(self):
        result = self.run_headless(["--benchmark"])
        self.assertEqual(result.returncode, 2)
        self.check_outputs(result, ["refused: destructive modes need --enable-destructive-usb-tests"])

    def test_verify_image_as_last_argument_falls_through(self):
        result = self.run_headless(["--verify-image"])
        self.assertEqual(result.returncode, 2)
        self.check_outputs(result, ["refused: destructive modes need --enable-destructive-usb-tests"])

    def test_blank_serial_is_refused(self):
        result = self.run_headless(["--enable-destructive-usb-tests", "--write", "x.iso"],
                                   env={"ORTIVEX_TEST_USB_SERIAL": "   "})
        self.assertEqual(result.returncode, 2)
        self.check_outputs(
            result, ["refused: set ORTIVEX_TEST_USB_SERIAL to the serial number of the test drive"])

    def test_log_directory_with_non_ascii_name(self):
        base = os.path.join(self.tmp, "Usuário Téléchargements 下载")
        result = self.run_headless(["--benchmark"], base=base)
        self.assertEqual(result.returncode, 2)
        self.check_outputs(result, ["refused: destructive modes need --enable-destructive-usb-tests"],
                           base=base)


class WindowFace(harness.TempDirTestCase):
    @unittest.skipIf(UNDER_WINE, "the Windows build has a window face")
    def test_linux_build_without_mode_prints_usage(self):
        result = run(EXE, ["--no-verify"], localappdata=self.tmp)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, b"")
        usage = result.stderr.decode()
        for mode in ("--list-drives", "--verify-image", "--health", "--write", "--benchmark"):
            self.assertIn(mode, usage)


if __name__ == "__main__":
    unittest.main()
