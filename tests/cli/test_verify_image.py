"""End-to-end checks of "--verify-image" on the mastered test images, natively
or under wine (where the content check hashes through Windows CNG)."""
import hashlib
import json
import os
import re
import shutil
import unittest

from harness import EXE, UNDER_WINE, TempDirTestCase, host_path, lines, run

IMAGES = os.environ.get("TEST_IMAGES_DIR", "")
ACCEPTED = re.compile(
    r"^(OFFICIAL|UNSIGNED) version=(\S+) size=(\d+) uefi=(true|false) bios=(true|false) "
    r"inspect=(\d+\.\d{3})s content=(\d+\.\d{2})s \((\d+) MB/s\)$")


def image(name):
    return os.path.join(IMAGES, name)


def facts():
    with open(image("facts.json")) as f:
        return json.load(f)


@unittest.skipUnless(EXE and IMAGES, "STICKWRIGHT_EXE and TEST_IMAGES_DIR are needed")
class VerifyImage(TempDirTestCase):
    def verify(self, path):
        # A UTF-8 locale lets wine hand non-ASCII arguments over as UTF-16.
        proc = run(EXE, ["--verify-image", host_path(path)], localappdata=self.tmp,
                   env={"LANG": "C.UTF-8"})
        out = lines(proc.stdout)
        self.assertGreaterEqual(len(out), 2, out)
        self.assertTrue(out[0].startswith("Ortivex Stickwright 1.3.1 (build 5553.39efadd7) "
                                          "(headless) on "), out[0])
        return proc.returncode, out[1:]

    def test_signed_sample_is_official(self):
        code, out = self.verify(image("signed.iso"))
        self.assertEqual(code, 0, out)
        self.assertEqual(len(out), 1, out)
        m = ACCEPTED.match(out[0])
        self.assertTrue(m, out[0])
        size = os.path.getsize(image("signed.iso"))
        self.assertEqual(m.group(1, 2, 3, 4, 5),
                         ("OFFICIAL", "24.10.3118", str(size), "true", "true"))
        content = float(m.group(7))
        rate = int(m.group(8))
        # The rate is size / 1e6 / max(content, 0.001), rounded: check it
        # against the printed (rounded) time where that is precise enough.
        if content >= 0.1:
            self.assertAlmostEqual(rate, size / 1e6 / content, delta=size / 1e6 / content * 0.1)
        # The same line went to the transcript and the log.
        logs = os.listdir(self.log_dir())
        transcript = [f for f in logs if f.startswith("cli-")]
        self.assertEqual(len(transcript), 1, logs)
        with open(os.path.join(self.log_dir(), transcript[0]), encoding="utf-8") as f:
            self.assertIn(out[0], f.read())

    def test_digest_of_the_signing_run_is_the_image_hash(self):
        # The fixture signed the sample with the media tool of this build
        # (under wine: the CNG path). Its digest must equal an independent
        # SHA-256 of the file with the 4096-byte block as zeros.
        f = facts()["signed.iso"]
        with open(image("signed.iso"), "rb") as fh:
            data = bytearray(fh.read())
        block = f["block_offset"]
        data[block:block + 4096] = bytes(4096)
        self.assertEqual(f["sha256"], hashlib.sha256(data).hexdigest())
        with open(image("signed.iso"), "rb") as fh:
            fh.seek(block)
            self.assertIn(f'"sha256":"{f["sha256"]}"'.encode(), fh.read(4096))

    def test_unsigned_images(self):
        code, out = self.verify(image("unsigned.iso"))
        self.assertEqual(code, 0, out)
        m = ACCEPTED.match(out[-1])
        self.assertTrue(m, out)
        self.assertEqual(m.group(1, 2, 4, 5), ("UNSIGNED", "24.10.3118-rc1", "true", "true"))
        code, out = self.verify(image("gpt.iso"))
        self.assertEqual(code, 0, out)
        self.assertTrue(out[-1].startswith("UNSIGNED version=24.10.3118-rc1 "), out)
        self.assertIn(" uefi=true bios=false ", out[-1])
        code, out = self.verify(image("deep.iso"))
        self.assertEqual(code, 0, out)
        self.assertTrue(out[-1].startswith("UNSIGNED version=unknown "), out)

    def test_texts_from_the_image_cannot_forge_a_line(self):
        code, out = self.verify(image("forged-version.iso"))
        self.assertEqual(code, 0, out)
        self.assertEqual(len(out), 1, out)
        self.assertTrue(out[0].startswith(
            "UNSIGNED version=24.10\\r\\nOFFICIAL version=9.9 size=1 uefi=true \\u{202e} size="),
            out[0])
        self.assertNotIn("\u202e", out[0])

    def test_refusals(self):
        size = os.path.getsize(image("signed.iso"))
        volume = facts()["unsigned.iso"]["volume_bytes"]
        cases = [
            ("signed-content-changed.iso", "image hash differs from the signed hash"),
            ("signed-manifest-changed.iso", "media signature does not verify"),
            ("foreign-hybrid.iso", "volume is not a Ortivex image"),
            ("unsigned-truncated.iso", f"size {volume - 1} differs from signed size {volume}"),
            ("signed-truncated.iso", f"size {size - 2048} differs from signed size {size}"),
            ("no-efi-signed.iso", "no hybrid MBR/EFI layout: not bootable from USB"),
            ("plain.iso", "no hybrid MBR/EFI layout: not bootable from USB"),
            ("signed-padding-changed.iso", "malformed media signature block: trailing data"),
            ("block4096.iso", "not an ISO 9660 image"),
            ("short.bin", "not an ISO 9660 image"),
            ("root-beyond-end.iso", "read error: unexpected end of file"),
        ]
        for name, text in cases:
            with self.subTest(image=name):
                code, out = self.verify(image(name))
                self.assertEqual((code, out), (1, [f"REFUSED: {text}"]))

    def test_what_cannot_be_opened(self):
        code, out = self.verify(os.path.join(self.tmp, "missing.iso"))
        self.assertEqual(code, 1)
        self.assertEqual(len(out), 1)
        self.assertTrue(out[0].startswith("open failed: "), out)
        self.assertRegex(out[0], r"\(os error 2\)$")
        code, out = self.verify(self.tmp)
        self.assertEqual((code, out), (1, ["open failed: is a directory"]))

    @unittest.skipIf(UNDER_WINE, "FIFOs and Unix devices")
    def test_pipes_and_devices_are_refused_without_waiting(self):
        fifo = os.path.join(self.tmp, "image.fifo")
        os.mkfifo(fifo)
        # No writer ever opens the FIFO: opening it must not wait for one.
        proc = run(EXE, ["--verify-image", fifo], localappdata=self.tmp, timeout=60)
        self.assertEqual(lines(proc.stdout)[1:],
                         ["open failed: not a regular file (a device, pipe or socket)"])
        self.assertEqual(proc.returncode, 1)
        proc = run(EXE, ["--verify-image", "/dev/zero"], localappdata=self.tmp, timeout=60)
        self.assertEqual(lines(proc.stdout)[1:],
                         ["open failed: not a regular file (a device, pipe or socket)"])

    @unittest.skipUnless(UNDER_WINE, "Windows device names")
    def test_windows_devices_are_refused(self):
        for device in ("NUL",):
            with self.subTest(device=device):
                proc = run(EXE, ["--verify-image", device], localappdata=self.tmp, timeout=60)
                self.assertEqual(lines(proc.stdout)[1:],
                                 ["open failed: not a regular file (a device, pipe or socket)"])

    def test_image_path_with_non_ascii_name(self):
        name = os.path.join(self.tmp, "Ortivex \u00e9t\u00e9 \u0434\u0438\u0441\u043a.iso")
        shutil.copyfile(image("signed.iso"), name)
        code, out = self.verify(name)
        self.assertEqual(code, 0, out)
        self.assertTrue(out[-1].startswith("OFFICIAL version=24.10.3118 "), out)


if __name__ == "__main__":
    unittest.main()
