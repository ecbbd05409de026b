"""End-to-end checks of the media tool's keygen, sign and inspect, natively or
under wine: key files, the signed block's exact form, the digest, and the
printed layout."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import MEDIATOOL, RUNNER, SOURCE_DIR, host_path

IMAGES = os.environ.get("TEST_IMAGES_DIR", "")
MAGIC = b"ORTIVEX-MEDIA-SIGNATURE-V1"
FIELDS = ["--version", "9.8.7654", "--build", "7654", "--architecture", "arm64",
          "--channel", "nightly", "--created", "2027-01-02T03:04:05Z"]


def tool(*args):
    cmd = ([RUNNER] if RUNNER else []) + [MEDIATOOL] + list(args)
    env = dict(os.environ, WINEDEBUG="-all", LANG="C.UTF-8")
    proc = subprocess.run(cmd, capture_output=True, env=env, timeout=300)
    return (proc.returncode, proc.stdout.decode("utf-8").replace("\r\n", "\n"),
            proc.stderr.decode("utf-8", "replace"))


def xorriso_offset(path, name):
    out = subprocess.run(["xorriso", "-indev", path, "-find", "/" + name, "-exec", "report_lba",
                          "--"], capture_output=True, check=True).stdout.decode()
    m = re.search(r"File data lba:\s*0\s*,\s*(\d+)\s*,\s*\d+\s*,\s*(\d+)\s*,", out)
    return int(m.group(1)) * 2048, int(m.group(2))


@unittest.skipUnless(MEDIATOOL and IMAGES, "MEDIATOOL_EXE and TEST_IMAGES_DIR are needed")
class MediaTool(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="mediatool-media-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_keygen_writes_a_pair_and_never_overwrites(self):
        prefix = os.path.join(self.tmp, "vendor")
        code, out, err = tool("keygen", host_path(prefix))
        self.assertEqual(code, 0, err)
        with open(prefix + ".pub") as f:
            pub = f.read()
        with open(prefix + ".secret") as f:
            secret = f.read()
        self.assertRegex(pub, r"^[0-9a-f]{64}\n$")
        self.assertRegex(secret, r"^[0-9a-f]{64}\n$")
        self.assertEqual(out, pub)
        self.assertNotEqual(pub, secret)
        code, _, err = tool("keygen", host_path(prefix))
        self.assertEqual(code, 2)
        self.assertIn("refusing to overwrite", err)
        with open(prefix + ".pub") as f:
            self.assertEqual(f.read(), pub)
        code, out2, _ = tool("keygen", host_path(os.path.join(self.tmp, "other")))
        self.assertEqual(code, 0)
        self.assertNotEqual(out2, out)

    def sign_copy(self, source="unsigned.iso", fields=FIELDS, key=None):
        path = os.path.join(self.tmp, "image.iso")
        shutil.copyfile(os.path.join(IMAGES, source), path)
        key = key or os.path.join(SOURCE_DIR, "keys", "dev-media-ed25519.secret")
        return path, tool("sign", host_path(path), host_path(key), *fields)

    def test_sign_writes_the_block_in_place(self):
        path, (code, out, err) = self.sign_copy()
        self.assertEqual(code, 0, err)
        offset, size = xorriso_offset(path, "ortivex/MEDIA.SUMS")
        self.assertEqual(size, 4096)
        with open(path, "rb") as f:
            data = bytearray(f.read())
        with open(os.path.join(IMAGES, "unsigned.iso"), "rb") as f:
            original = f.read()
        block = bytes(data[offset:offset + 4096])
        # Nothing but the block changed, and the digest is the image's SHA-256
        # with the block as zeros.
        self.assertEqual(data[:offset], original[:offset])
        self.assertEqual(data[offset + 4096:], original[offset + 4096:])
        data[offset:offset + 4096] = bytes(4096)
        digest = hashlib.sha256(data).hexdigest()
        self.assertEqual(out, digest + "\n")

        lines = block.split(b"\n")
        self.assertEqual(lines[0], MAGIC)
        manifest = json.loads(lines[1])
        self.assertEqual(manifest, {
            "product": "Ortivex", "version": "9.8.7654", "build": "7654",
            "architecture": "arm64", "channel": "nightly", "created": "2027-01-02T03:04:05Z",
            "size": len(data), "sha256": digest, "sums_offset": offset, "sums_len": 4096})
        self.assertRegex(lines[2].decode(), r"^ed25519 [0-9a-f]{128}$")
        self.assertTrue(all(set(l) <= {0x20} for l in lines[3:]), lines[3:])
        self.assertEqual(len(block), 4096)

        # Signing again replaces the block and gives the same digest.
        code, out2, err = tool("sign", host_path(path),
                               host_path(os.path.join(SOURCE_DIR, "keys",
                                                      "dev-media-ed25519.secret")), *FIELDS)
        self.assertEqual((code, out2), (0, out), err)

    def test_sign_refusals(self):
        cases = [
            ("deep.iso", FIELDS, "no placeholder file ortivex/MEDIA.SUMS"),
            ("not-iso.bin", FIELDS, "not an ISO 9660 image"),
            ("unsigned.iso", FIELDS[:8] + ["--created", "two\nlines"], "refused: field"),
            ("unsigned.iso", FIELDS[:2] + ["--build", "b" * 65] + FIELDS[4:], "refused: field"),
        ]
        for source, fields, text in cases:
            with self.subTest(source=source, text=text):
                path, (code, out, err) = self.sign_copy(source, fields)
                self.assertEqual(code, 1, (out, err))
                self.assertIn(text, err)
                with open(path, "rb") as f, open(os.path.join(IMAGES, source), "rb") as g:
                    self.assertEqual(f.read(), g.read())
        _, (code, _, err) = self.sign_copy(fields=FIELDS[:-2])
        self.assertEqual(code, 2)
        self.assertIn("--created is required", err)
        bad_key = os.path.join(self.tmp, "bad.secret")
        with open(bad_key, "w") as f:
            f.write("1234\n")
        _, (code, _, err) = self.sign_copy(key=bad_key)
        self.assertEqual(code, 2)
        self.assertIn("64 hexadecimal digits", err)

    def test_inspect_prints_layout_and_verdict(self):
        code, out, err = tool("inspect", host_path(os.path.join(IMAGES, "signed.iso")))
        self.assertEqual(code, 0, err)
        lines = out.splitlines()
        size = os.path.getsize(os.path.join(IMAGES, "signed.iso"))
        with open(os.path.join(IMAGES, "signed.iso"), "rb") as f:
            f.seek(32768 + 80)
            volume = int.from_bytes(f.read(4), "little") * 2048
        self.assertEqual(lines[0], f"volume size: {volume} bytes")
        self.assertRegex(lines[1], r"^root: offset=\d+ size=2048$")
        self.assertEqual(lines[2:5], ["susp skip: 0", "volume id: 'ORTIVEX_24_10'",
                                      "boot: mbr_partition=true gpt=false efi_partition=true "
                                      "mbr_boot_code=true"])
        offset, _ = xorriso_offset(os.path.join(IMAGES, "signed.iso"), "ortivex/MEDIA.SUMS")
        self.assertIn(f"  {offset} 4096 ortivex/MEDIA.SUMS", lines)
        self.assertTrue(any(l.endswith(" 8 docs/caf\u00e9-cr\u00e8me.txt") for l in lines), lines)
        count = int(lines[5].split(": ")[1])
        self.assertEqual(len(lines), 6 + count + 1)
        self.assertRegex(lines[-1], rf"^verdict: accepted signed size={size} version=24.10.3118 "
                                    r"uefi=true bios=true build=3118 sha256=[0-9a-f]{64} "
                                    rf"block={offset}$")

        code, out, _ = tool("inspect", host_path(os.path.join(IMAGES, "foreign-hybrid.iso")))
        self.assertEqual(code, 1)
        self.assertEqual(out.splitlines()[-1],
                         "verdict: refused: volume is not a Ortivex image (NotOrtivex)")
        code, out, _ = tool("inspect", host_path(os.path.join(IMAGES, "short.bin")))
        self.assertEqual((code, out), (1, "verdict: refused: not an ISO 9660 image (NotIso)\n"))
        code, out, err = tool("inspect", host_path(os.path.join(self.tmp, "missing.iso")))
        self.assertEqual((code, out), (2, ""))
        self.assertIn("missing.iso", err)


if __name__ == "__main__":
    unittest.main()
