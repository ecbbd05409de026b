"""--write and --benchmark end to end on simulated USB drives (files), natively
or under wine: what is written, what is printed, and what is refused.

Under wine the system facts are made determinable for the development build
(harness.determinable_facts); without that every drive would be refused."""
import hashlib
import json
import os
import re
import unittest

import harness
from harness import EXE, UNDER_WINE, host_path, lines, run

IMAGES = os.environ.get("TEST_IMAGES_DIR", "")
MiB = 1 << 20
SIM = 4000000000
OK_LINE = re.compile(
    r"^OK total=\d+\.\ds write=\d+\.\ds \(\d+\.\d MB/s\) flush=\d+\.\d\ds verify=\d+\.\ds "
    r"\(\d+\.\d MB/s\) digest=([0-9a-f]{64}) eject=(Ok\(\(\)\)|Err\(\".*\"\))$")
PROGRESS = re.compile(r"^  (Preparing|Writing|Flushing|Verifying|Finishing) \d+\.\d%$")
PATTERN = bytes([0xAA]) * MiB  # what the drive held before


def image(name):
    return os.path.join(IMAGES, name)


def facts(name):
    with open(image("facts.json")) as f:
        return json.load(f)[name]


@unittest.skipUnless(EXE and IMAGES, "STICKWRIGHT_EXE and TEST_IMAGES_DIR are needed")
class WriteMode(harness.TempDirTestCase):
    def make_stick(self, name="stick.img", size=16 * MiB):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(PATTERN)
            f.truncate(size)
        return path

    def stick_bytes(self, path, n, offset=0):
        with open(path, "rb") as f:
            f.seek(offset)
            return f.read(n)

    def write(self, sims, args, serial="E2E"):
        env = {"ORTIVEX_SIMULATED_USB": sims, **harness.determinable_facts()}
        if serial is not None:
            env["ORTIVEX_TEST_USB_SERIAL"] = serial
        result = run(EXE, args, env=env, localappdata=self.tmp, timeout=300)
        return result.returncode, lines(result.stdout)

    def signed_write(self, settings="", extra=()):
        stick = self.make_stick()
        sims = f"{host_path(stick)},serial=E2E{settings}"
        code, out = self.write(sims, ["--enable-destructive-usb-tests", "--write",
                                      host_path(image("signed.iso")), *extra])
        return stick, code, out

    def log_text(self):
        logs = self.log_dir()
        text = ""
        for name in sorted(os.listdir(logs)):
            if name.startswith("stickwright-"):
                with open(os.path.join(logs, name), encoding="utf-8") as f:
                    text += f.read()
        return text

    # --- nothing is written -----------------------------------------------------

    def test_without_the_enabling_option_nothing_is_written(self):
        stick = self.make_stick()
        code, out = self.write(f"{host_path(stick)},serial=E2E",
                               ["--write", host_path(image("signed.iso"))])
        self.assertEqual((code, out[1:]),
                         (2, ["refused: destructive modes need --enable-destructive-usb-tests"]))
        self.assertEqual(self.stick_bytes(stick, MiB), PATTERN)

    def test_a_serial_that_matches_no_drive_or_two_drives_writes_nothing(self):
        stick = self.make_stick()
        other = self.make_stick("other.img")
        args = ["--enable-destructive-usb-tests", "--write", host_path(image("signed.iso"))]
        code, out = self.write(f"{host_path(stick)},serial=E2E", args, serial="e2e")
        self.assertEqual((code, out[1:]), (3, ["refused: 0 drives have serial 'e2e' (need exactly one)"]))
        code, out = self.write(f"{host_path(stick)},serial=DUP;{host_path(other)},serial=DUP", args,
                               serial="DUP")
        self.assertEqual((code, out[1:]), (3, ["refused: 2 drives have serial 'DUP' (need exactly one)"]))
        code, out = self.write(f"{host_path(stick)},serial=E2E", args, serial=None)
        self.assertEqual((code, out[1:]), (2, [
            "refused: set ORTIVEX_TEST_USB_SERIAL to the serial number of the test drive"]))
        self.assertEqual(self.stick_bytes(stick, MiB), PATTERN)
        self.assertEqual(self.stick_bytes(other, MiB), PATTERN)

    def test_a_refused_image_writes_nothing(self):
        stick = self.make_stick()
        sims = f"{host_path(stick)},serial=E2E"
        for name, expected in (
                ("signed-content-changed.iso", "image refused: image hash differs from the signed hash"),
                ("missing.iso", None)):
            code, out = self.write(sims, ["--enable-destructive-usb-tests", "--write",
                                          host_path(image(name))])
            self.assertEqual(code, 1, out)
            self.assertTrue(out[1].startswith("target: disk 4000000000 "), out)
            if expected:
                self.assertEqual(out[2:], [expected])
            else:
                self.assertEqual(len(out), 3, out)
                self.assertTrue(out[2].startswith("open failed: "), out)
        self.assertEqual(self.stick_bytes(stick, MiB), PATTERN)

    # --- writing ------------------------------------------------------------------

    def test_writes_the_signed_sample_and_prints_the_ok_line(self):
        stick, code, out = self.signed_write()
        self.assertEqual(code, 0, out)
        size = os.path.getsize(image("signed.iso"))
        self.assertEqual(out[1], f"target: disk {SIM} 'Ortivex Simulated USB' serial='E2E' "
                                 f"size={16 * MiB} usb=Some(High) sector=512")
        self.assertEqual(out[2], f"image OFFICIAL 24.10.3118 ({size} bytes)")
        for line in out[3:-1]:
            self.assertRegex(line, PROGRESS)
        self.assertEqual(out[-2], "  Finishing 0.0%")
        m = OK_LINE.match(out[-1])
        self.assertTrue(m, out[-1])
        # The digest is the image's SHA-256 with the signature block as zeros.
        self.assertEqual(m.group(1), facts("signed.iso")["sha256"])
        with open(image("signed.iso"), "rb") as f:
            data = bytearray(f.read())
        block = facts("signed.iso")["block_offset"]
        data[block:block + 4096] = bytes(4096)
        self.assertEqual(m.group(1), hashlib.sha256(data).hexdigest())
        # The drive holds the image byte for byte, and zeros after it.
        with open(image("signed.iso"), "rb") as f:
            self.assertTrue(self.stick_bytes(stick, size) == f.read(), "drive differs from image")
        padded = (size + 511) // 512 * 512
        self.assertEqual(self.stick_bytes(stick, padded - size, size), bytes(padded - size))
        # Progress lines reach standard output only, not the transcript.
        logs = self.log_dir()
        transcript = [n for n in os.listdir(logs) if n.startswith("cli-")][0]
        with open(os.path.join(logs, transcript), encoding="utf-8") as f:
            kept = f.read().splitlines()
        self.assertEqual(kept, [l for l in out if not PROGRESS.match(l)])
        self.assertIn("INFO  write start: disk 4000000000 ", self.log_text())

    def test_without_verification(self):
        stick, code, out = self.signed_write(extra=["--no-verify"])
        self.assertEqual(code, 0, out)
        self.assertIn(" verify=0.0s ", out[-1])

    def assert_failed(self, settings, prefix, head_zero=True):
        stick, code, out = self.signed_write(settings)
        self.assertEqual(code, 1, out)
        self.assertTrue(out[-1].startswith("FAILED: " + prefix), out[-1])
        if head_zero:
            self.assertEqual(self.stick_bytes(stick, 65536), bytes(65536))
        else:
            self.assertEqual(self.stick_bytes(stick, MiB), PATTERN)
        return out

    @unittest.skipIf(UNDER_WINE, "wine cannot deliver a console Ctrl+C to a process started "
                                 "without a console")
    def test_a_stop_from_outside_ends_the_write_as_cancelled(self):
        import signal
        import subprocess
        import time
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                stick = self.make_stick(f"stick-{sig.name}.img")
                env = dict(os.environ, LOCALAPPDATA=self.tmp, ORTIVEX_TEST_USB_SERIAL="E2E",
                           ORTIVEX_SIMULATED_USB=f"{stick},serial=E2E,mbps=1")
                proc = subprocess.Popen([EXE, "--enable-destructive-usb-tests", "--write",
                                         image("signed.iso")], env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
                # At 1 MB/s the write takes seconds; stop it once it is writing.
                deadline = time.monotonic() + 60
                seen = []
                while time.monotonic() < deadline:
                    line = proc.stdout.readline().decode()
                    seen.append(line)
                    if line.startswith("  Writing") or not line:
                        break
                self.assertTrue(seen[-1].startswith("  Writing"), seen)
                proc.send_signal(sig)
                rest, _ = proc.communicate(timeout=60)
                out = lines(rest)
                self.assertEqual(proc.returncode, 1, out)
                self.assertEqual(out[-1], "FAILED: cancelled", out)
                self.assertIn("FAILED: cancelled", self.log_text())
                # A stopped write never leaves a drive that looks bootable.
                self.assertEqual(self.stick_bytes(stick, 65536), bytes(65536))

    def start_writing(self, sims):
        """Starts a write of the signed sample; returns once it is writing."""
        env = {"ORTIVEX_SIMULATED_USB": sims, "ORTIVEX_TEST_USB_SERIAL": "E2E",
               **harness.determinable_facts()}
        proc = harness.start(EXE, ["--enable-destructive-usb-tests", "--write",
                                   host_path(image("signed.iso"))], env=env, localappdata=self.tmp)
        seen = []
        while True:  # the progress lines come every 2 seconds
            line = proc.stdout.readline().decode()
            seen.append(line)
            if line.startswith("  Writing") or not line:
                break
        self.assertTrue(seen[-1].startswith("  Writing"), seen)
        return proc

    @unittest.skipIf(UNDER_WINE, "wine cannot deliver a console Ctrl+C to a process started "
                                 "without a console")
    def test_a_stop_while_a_request_hangs_ends_the_write_cancelled(self):
        import signal
        stick = self.make_stick()
        # The request at 2 MiB never completes; without the stop the write
        # would fail as timed out after three long attempts.
        proc = self.start_writing(f"{stick},serial=E2E,hang-at={2 * MiB}")
        proc.send_signal(signal.SIGINT)
        rest, _ = proc.communicate(timeout=300)  # only a guard against a hang
        out = lines(rest)
        self.assertEqual((proc.returncode, out[-1:]), (1, ["FAILED: cancelled"]), out)
        self.assertEqual(self.stick_bytes(stick, 65536), bytes(65536))
        self.assertNotIn("retrying with", self.log_text())

    def test_a_second_writer_of_the_same_drive_is_refused_as_in_use(self):
        stick = self.make_stick()
        args = ["--enable-destructive-usb-tests", "--write", host_path(image("signed.iso"))]
        # The first writer stays on the drive: its request at 2 MiB hangs.
        first = self.start_writing(f"{host_path(stick)},serial=E2E,hang-at={2 * MiB}")
        try:
            code, out = self.write(f"{host_path(stick)},serial=E2E", args)
            self.assertEqual(code, 1, out)
            self.assertEqual(out[-1], f"FAILED: drive in use: another write or drive check "
                                      f"holds disk {SIM}", out)
        finally:
            first.kill()
            first.communicate(timeout=300)
        # The first writer's end gave the drive back.
        code, out = self.write(f"{host_path(stick)},serial=E2E", args)
        self.assertEqual(code, 0, out)
        size = os.path.getsize(image("signed.iso"))
        with open(image("signed.iso"), "rb") as f:
            self.assertTrue(self.stick_bytes(stick, size) == f.read(), "drive differs from image")

    def test_removed_while_writing(self):
        self.assert_failed(",remove-at=2097152", "device disconnected: ")

    def test_a_write_error_after_the_degradation_ladder(self):
        code = 1117 if UNDER_WINE else 5
        self.assert_failed(f",error={code}@2097152", "device write failed: ")
        warnings = [l for l in self.log_text().splitlines() if " WARN  write at " in l]
        self.assertEqual(len(warnings), 2, warnings)  # 64 KiB requests, then buffered

    def test_silently_dropped_writes(self):
        # The test image holds data in its first 512 KiB only.
        self.assert_failed(",drop-writes-at=131072", "device content differs from the image")

    def test_write_protected(self):
        self.assert_failed(",write-protect",
                           "drive does not accept writes (nothing was erased): ", head_zero=False)

    def test_media_changed_within_the_three_reopens(self):
        stick, code, out = self.signed_write(",media-changed=3")
        self.assertEqual(code, 0, out)
        self.assertEqual(self.log_text().count("ERROR_MEDIA_CHANGED: reopening the drive"), 3)

    def test_media_changed_beyond_the_three_reopens(self):
        # The write test before erasing is the first to meet it.
        self.assert_failed(",media-changed=1000",
                           "drive does not accept writes (nothing was erased): ", head_zero=False)


@unittest.skipUnless(EXE, "STICKWRIGHT_EXE is needed")
class BenchmarkMode(harness.TempDirTestCase):
    def test_the_table_on_a_simulated_drive(self):
        stick = os.path.join(self.tmp, "bench.img")
        with open(stick, "wb") as f:
            f.truncate(8 * MiB)
        env = {"ORTIVEX_SIMULATED_USB": f"{host_path(stick)},serial=BENCH",
               "ORTIVEX_TEST_USB_SERIAL": "BENCH", **harness.determinable_facts()}
        result = run(EXE, ["--enable-destructive-usb-tests", "--benchmark", "--bench-mib", "1"],
                     env=env, localappdata=self.tmp, timeout=300)
        out = lines(result.stdout)
        self.assertEqual(result.returncode, 0, out)
        self.assertTrue(out[1].startswith("target: disk 4000000000 "), out)
        self.assertRegex(out[2], r"^benchmark: 1 MiB per run, disk 4000000000 \(8388608 bytes\), "
                                 r"\d+ logical CPUs$")
        self.assertEqual(out[3], "Method                         Chunk   Write MB/s   CPU")
        self.assertEqual(out[4], "-" * 55)
        rows = out[5:40]
        for row in rows:
            self.assertRegex(row, r"^.{30} [ \d]{2}\d MiB  [ \d]{6}\d\.\d   +\d+\.\d%$")
        self.assertTrue(rows[0].startswith("Buffered "))
        self.assertTrue(rows[34].startswith("Overlapped d8 x1MiB "))
        rest = out[40:]
        self.assertTrue(rest[0].startswith("Read (verify path) 8 MiB d4        "), rest)
        self.assertTrue(rest[1].startswith("SHA-256 sha2 crate (one core)       "), rest)
        if UNDER_WINE:
            self.assertTrue(rest[2].startswith("SHA-256 Windows CNG (one core)      "), rest)
        self.assertRegex(rest[-1], r"^best write: .+ \d+ MiB at \d+\.\d MB/s$")
        # The drive's first MiB holds the test data.
        with open(stick, "rb") as f:
            self.assertEqual(f.read(16).hex(), "ad4df30bae771bdc76606e02b9eef064")


if __name__ == "__main__":
    unittest.main()
