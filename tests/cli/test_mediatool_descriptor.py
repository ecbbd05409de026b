"""`ortivex-mediatool descriptor`: the release descriptor of a signed image,
natively or under wine, checked against the images mastered for this run."""
import json
import os
import shutil
import tempfile
import unittest

import harness
from harness import host_path

MEDIATOOL = harness.MEDIATOOL
IMAGES = os.environ.get("TEST_IMAGES_DIR", "")
SECRET_KEY = os.path.join(harness.SOURCE_DIR, "keys", "dev-media-ed25519.secret")


def tool(*args):
    r = harness.run(MEDIATOOL, list(args), env={"LANG": "C.UTF-8"})
    return r.returncode, r.stdout.decode().replace("\r\n", "\n"), r.stderr.decode()


@unittest.skipUnless(MEDIATOOL and IMAGES, "MEDIATOOL_EXE and TEST_IMAGES_DIR are needed")
class DescriptorTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="stickwright-descriptor-")
        self.out = os.path.join(self.tmp, "OrtivexOS-Lastest.json")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def make(self, image, *extra, key=SECRET_KEY):
        return tool("descriptor", host_path(os.path.join(IMAGES, image)), host_path(key),
                    "--out", host_path(self.out), *extra)

    def test_manifest_line_and_signature_of_the_block(self):
        code, out, err = self.make("signed.iso")
        self.assertEqual(code, 0, err)
        with open(os.path.join(IMAGES, "signed.iso"), "rb") as f:
            image = f.read()
        with open(self.out, "rb") as f:
            descriptor = json.loads(f.read())
        self.assertEqual(sorted(descriptor), ["media_manifest", "signature"])
        # Both come from the image's own signature block, byte for byte.
        magic = b"ORTIVEX-MEDIA-SIGNATURE-V1\n"
        start = image.index(magic + b'{"product"')
        block = image[start:start + 4096].decode()
        lines = block.split("\n")
        self.assertEqual(descriptor["media_manifest"], lines[1])
        self.assertEqual(descriptor["signature"], lines[2][len("ed25519 "):].lower())
        manifest = json.loads(descriptor["media_manifest"])
        self.assertEqual(out.split(), [manifest["version"], manifest["sha256"]])

    def test_image_address_is_included_when_given(self):
        url = "https://localhost/images/OrtivexOS-24.10.iso"
        code, _, err = self.make("signed.iso", "--url", url)
        self.assertEqual(code, 0, err)
        with open(self.out) as f:
            self.assertEqual(json.load(f)["url"], url)
        # An address elsewhere is written with a note: clients take it only
        # under an overriding download base that it begins with.
        code, _, err = self.make("signed.iso", "--url", "https://mirror.example.invalid/x.iso")
        self.assertEqual(code, 0, err)
        self.assertIn("note:", err)
        code, _, err = self.make("signed.iso", "--url", "http://localhost/x.iso")
        self.assertEqual(code, 1)
        self.assertIn("https://", err)

    def test_images_the_program_would_refuse_get_no_descriptor(self):
        for image, reason in [("unsigned.iso", "no signature block"),
                              ("signed-content-changed.iso", "hash differs"),
                              ("signed-manifest-changed.iso", "refused"),
                              ("not-iso.bin", "refused")]:
            code, _, err = self.make(image)
            self.assertEqual(code, 1, image)
            self.assertIn(reason, err, image)
            self.assertFalse(os.path.exists(self.out), image)

    def test_key_must_be_the_one_that_signed_the_image(self):
        prefix = os.path.join(self.tmp, "other")
        self.assertEqual(tool("keygen", host_path(prefix))[0], 0)
        code, _, err = self.make("signed.iso", key=prefix + ".secret")
        self.assertEqual(code, 1)
        self.assertIn("not signed with this key", err)

    def test_usage(self):
        self.assertEqual(tool("descriptor")[0], 2)
        self.assertEqual(self.make("signed.iso", "--url")[0], 2)
        self.assertEqual(self.make("signed.iso", key=os.path.join(self.tmp, "missing"))[0], 2)


if __name__ == "__main__":
    unittest.main()
