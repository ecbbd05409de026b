"""End-to-end checks of `ortivex-screens screen NAME`: every scripted screen
prints one JSON frame whose regions and texts make sense, natively or under
wine."""

import json
import os
import subprocess
import unittest

EXE = os.environ.get("SCREENS_EXE", "")
RUNNER = os.environ.get("STICKWRIGHT_RUNNER", "")


def run_tool(*args):
    cmd = ([RUNNER] if RUNNER else []) + [EXE] + list(args)
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("LANG", "C.UTF-8")
    proc = subprocess.run(cmd, capture_output=True, env=env, timeout=120)
    out = proc.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    return proc.returncode, out, proc.stderr.decode("utf-8", "replace")


@unittest.skipUnless(EXE, "SCREENS_EXE is not set")
class MediatoolScreen(unittest.TestCase):
    def test_every_screen_in_every_language_and_theme(self):
        code, out, _ = run_tool("screen", "list")
        self.assertEqual(code, 0)
        names = out.split()
        self.assertIn("setup-empty", names)
        self.assertIn("overlay-drive-check-done", names)
        for name in names:
            for args in (["--lang", "en"], ["--lang", "zh", "--theme", "dark", "--dpi", "144"]):
                code, out, err = run_tool("screen", name, *args)
                self.assertEqual(code, 0, name + err)
                frame = json.loads(out)
                self.assertTrue(frame["ops"], name)
                self.assertTrue(frame["regions"], name)
                for r in frame["regions"]:
                    self.assertLessEqual(r["x"] + r["w"], 560, name)
                    self.assertIsInstance(r["enabled"], bool)

    def test_texts_follow_the_language(self):
        _, out, _ = run_tool("screen", "overlay-close-refused", "--lang", "es")
        texts = [op["text"] for op in json.loads(out)["ops"] if op["op"] == "text"]
        self.assertIn("Se está creando una unidad USB.", texts)
        _, out, _ = run_tool("screen", "setup-selected")
        frame = json.loads(out)
        create = [r for r in frame["regions"] if r["action"] == "Create"]
        self.assertEqual(len(create), 1)
        self.assertEqual((create[0]["x"], create[0]["y"], create[0]["w"], create[0]["h"]),
                         (32, 616, 496, 48))
        self.assertTrue(create[0]["enabled"])

    def test_bad_arguments(self):
        self.assertEqual(run_tool("screen")[0], 2)
        self.assertEqual(run_tool("screen", "no-such-screen")[0], 2)
        self.assertEqual(run_tool("screen", "setup-empty", "--lang", "fr")[0], 2)
        self.assertEqual(run_tool("screen", "setup-empty", "--dpi")[0], 2)
        self.assertEqual(run_tool("a11y")[0], 2)
        self.assertEqual(run_tool("a11y", "no-such-screen")[0], 2)
        self.assertEqual(run_tool("a11y", "setup-empty", "--theme", "pink")[0], 2)

    def test_a11y_tree_matches_the_regions(self):
        for name, lang in (("setup-selected", "es"), ("overlay-erase", "en")):
            code, out, err = run_tool("a11y", name, "--lang", lang)
            self.assertEqual(code, 0, err)
            tree = json.loads(out)
            _, out, _ = run_tool("screen", name, "--lang", lang)
            regions = json.loads(out)["regions"]
            nodes = tree["nodes"]
            self.assertEqual(tree["modal"], name.startswith("overlay-"))
            for n in nodes:
                self.assertTrue(n["name"], n)
                self.assertLess(n["parent"], n["index"])
                self.assertEqual(len(n["bounds"]), 4)
                for key in ("id", "role", "enabled", "focusable", "focused"):
                    self.assertIn(key, n)
            for r in regions:
                if tree["modal"] and r["action"] == "TogglePanel":
                    continue
                acting = [n for n in nodes
                          if n.get("action") == r["action"] and n.get("param") == r["param"]]
                self.assertEqual(len(acting), 1, r)
                self.assertEqual(acting[0]["enabled"], r["enabled"])


if __name__ == "__main__":
    unittest.main()
