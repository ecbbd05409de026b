"""The gallery: every screen in every language and theme drawn by the real
Direct2D renderer under wine (`ortivex-screens render`), with no text wider
or taller than its box and no overlapping hit regions."""

import json
import os
import shutil
import struct
import subprocess
import unittest
import zlib

from harness import BINARY_DIR, SOURCE_DIR, UNDER_WINE
from window_driver import mean_rgb

EXE = os.environ.get("SCREENS_EXE", "")
XVFB = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -noreset"]


def png_facts(path):
    """(width, height, first pixel as RGBA) of an 8-bit RGBA or RGB PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour = header[:4]
    assert depth == 8 and colour in (2, 6), (path, depth, colour)
    channels = 4 if colour == 6 else 3
    row = zlib.decompress(idat)[:1 + width * channels]
    # Whatever the first row's filter, its first pixel is stored as it is.
    first = tuple(row[1:1 + channels]) + ((255,) if channels == 3 else ())
    return width, height, first


def close_to(a, b, tolerance=0.1):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def run_screens(*args, timeout=120):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    # Wine's Direct2D needs an X display even for an offscreen target.
    prefix = [] if env.get("DISPLAY") else XVFB
    return subprocess.run(prefix + ["wine", EXE] + list(args), env=env, capture_output=True,
                          timeout=timeout)


@unittest.skipUnless(UNDER_WINE and EXE, "the gallery draws with Direct2D under wine")
class Gallery(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # DirectWrite under wine falls back to Tahoma, which a fresh prefix lacks.
        subprocess.run([os.path.join(SOURCE_DIR, "scripts", "wine-fonts.sh"), "96"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        cls.out = os.path.join(BINARY_DIR, "gallery")
        shutil.rmtree(cls.out, ignore_errors=True)
        names = run_screens("screen", "list").stdout.decode().split()
        cls.names = names
        cls.proc = run_screens("render", "Z:" + cls.out, "--dpi", "96", timeout=540)

    def test_every_screen_is_drawn_without_overflow_or_overlap(self):
        report = self.proc.stdout.decode("utf-8", "replace") + self.proc.stderr.decode(
            "utf-8", "replace")
        self.assertEqual(self.proc.returncode, 0, report)
        self.assertIn("setup-empty", self.names)
        self.assertGreater(len(self.names), 20)
        pngs = sorted(f for f in os.listdir(self.out) if f.endswith(".png"))
        self.assertEqual(len(pngs), len(self.names) * 3 * 3)
        for name in self.names:
            for lang in ("en", "es", "zh"):
                for theme in ("light", "dark", "contrast"):
                    self.assertIn(f"{name}-{lang}-{theme}-96.png", pngs)
        with open(os.path.join(self.out, "index.html"), encoding="utf-8") as f:
            index = f.read()
        for png in pngs:
            self.assertIn(f'src="{png}"', index)
        self.assertIn("No problems found.", index)
        # What a screen reader is told of each screen lies beside it.
        trees = sorted(f for f in os.listdir(self.out) if f.endswith(".a11y.json"))
        self.assertEqual(len(trees), len(self.names) * 3)
        with open(os.path.join(self.out, "setup-selected-es.a11y.json"), encoding="utf-8") as f:
            tree = json.load(f)
        self.assertFalse(tree["modal"])
        self.assertIn("Crear USB de arranque", [n["name"] for n in tree["nodes"]])

    def test_images_follow_the_theme_and_the_language(self):
        facts = {}
        blobs = {}
        for lang in ("en", "zh"):
            for theme in ("light", "dark", "contrast"):
                path = os.path.join(self.out, f"setup-selected-{lang}-{theme}-96.png")
                facts[lang, theme] = png_facts(path)
                with open(path, "rb") as f:
                    blobs[lang, theme] = f.read()
        for (w, h, _) in facts.values():
            self.assertEqual((w, h), (560, 720))
        light = facts["en", "light"][2]
        dark = facts["en", "dark"][2]
        self.assertGreater(sum(light[:3]), sum(dark[:3]) + 300)
        self.assertEqual(light[3], 255)
        # Every theme and language gives its own picture.
        self.assertEqual(len(set(blobs.values())), len(blobs))
        # The background does not depend on the language.
        self.assertEqual(facts["zh", "dark"][2], dark)

    def test_144_dpi_scales_the_frame(self):
        out = os.path.join(BINARY_DIR, "gallery-144")
        shutil.rmtree(out, ignore_errors=True)
        proc = run_screens("render", "Z:" + out, "--dpi", "144", "--screens", "overlay-erase")
        self.assertEqual(proc.returncode, 0, proc.stdout.decode("utf-8", "replace"))
        pngs = [f for f in os.listdir(out) if f.endswith(".png")]
        self.assertEqual(len(pngs), 9)
        w, h, _ = png_facts(os.path.join(out, "overlay-erase-es-dark-144.png"))
        self.assertEqual((w, h), (840, 1080))

    @unittest.skipUnless(shutil.which("convert"), "ImageMagick reads the pixels")
    def test_many_drives_keep_the_main_button_in_sight_and_show_that_they_scroll(self):
        accent = (0x05 / 255, 0x66 / 255, 0xC1 / 255)  # the light theme's enabled main button
        for out, dpi in ((self.out, 96), (os.path.join(BINARY_DIR, "gallery-many-144"), 144)):
            if dpi != 96:
                shutil.rmtree(out, ignore_errors=True)
                proc = run_screens("render", "Z:" + out, "--dpi", "144", "--screens",
                                   "setup-many-drives,setup-selected")
                self.assertEqual(proc.returncode, 0, proc.stdout.decode("utf-8", "replace"))

            def colour(png, x, y, w, h):
                k = dpi / 96
                return mean_rgb(png, (round(x * k), round(y * k), round(w * k), round(h * k)))

            for lang in ("en", "es", "zh"):
                many = os.path.join(out, f"setup-many-drives-{lang}-light-{dpi}.png")
                few = os.path.join(out, f"setup-selected-{lang}-light-{dpi}.png")
                # "Create bootable USB" at its place, drawn enabled, left of its label.
                self.assertTrue(close_to(colour(many, 40, 622, 24, 36), accent), (lang, dpi))
                # The scroll bar's thumb right of the content, where nothing
                # is drawn while everything is in sight.
                background = colour(few, 4, 300, 8, 8)
                self.assertTrue(close_to(colour(few, 540, 76, 4, 40), background, 0.01), (lang, dpi))
                self.assertFalse(close_to(colour(many, 540, 76, 4, 40), background), (lang, dpi))

    def test_bad_arguments(self):
        self.assertEqual(run_screens("render").returncode, 2)
        out = os.path.join(BINARY_DIR, "gallery-bad")
        self.assertEqual(run_screens("render", "Z:" + out, "--dpi", "100").returncode, 2)
        self.assertEqual(run_screens("render", "Z:" + out, "--screens", "nope").returncode, 2)


if __name__ == "__main__":
    unittest.main()
