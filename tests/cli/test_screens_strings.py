"""End-to-end checks of `ortivex-screens strings en|es|zh`: one strict JSON
array of the 188 window texts, in UTF-8, natively or under wine."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

EXE = os.environ.get("SCREENS_EXE", "")
MEDIATOOL = os.environ.get("MEDIATOOL_EXE", "")
RUNNER = os.environ.get("STICKWRIGHT_RUNNER", "")


def run_tool(*args, exe=None):
    cmd = ([RUNNER] if RUNNER else []) + [exe or EXE] + list(args)
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("LANG", "C.UTF-8")
    proc = subprocess.run(cmd, capture_output=True, env=env, timeout=120)
    return proc.returncode, proc.stdout.replace(b"\r\n", b"\n"), proc.stderr.decode("utf-8", "replace")


def tool_path(path):
    if RUNNER == "wine":
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def reject_constant(name):
    raise ValueError("not strict JSON: " + name)


@unittest.skipUnless(EXE and MEDIATOOL, "SCREENS_EXE and MEDIATOOL_EXE are needed")
class MediatoolStrings(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="screens-strings-")
        cls.tables = {}
        for lang in ("en", "es", "zh"):
            code, out, err = run_tool("strings", lang)
            assert code == 0, (lang, code, err)
            cls.tables[lang] = out

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def parsed(self, lang):
        return json.loads(self.tables[lang].decode("utf-8"), parse_constant=reject_constant)

    def test_each_table_is_an_array_of_188_texts(self):
        for lang in ("en", "es", "zh"):
            with self.subTest(lang=lang):
                texts = self.parsed(lang)
                self.assertIsInstance(texts, list)
                self.assertEqual(len(texts), 188)
                self.assertTrue(all(isinstance(t, str) and t for t in texts))

    def test_the_tool_itself_accepts_the_output_as_strict_json(self):
        for lang in ("en", "es", "zh"):
            path = os.path.join(self.dir, lang + ".json")
            with open(path, "wb") as f:
                f.write(self.tables[lang])
            code, out, err = run_tool("json", tool_path(path), exe=MEDIATOOL)
            self.assertEqual((out, code), (b"ok\n", 0), err)

    def test_spanish_and_chinese_follow_the_english_positions(self):
        en, es, zh = self.parsed("en"), self.parsed("es"), self.parsed("zh")
        for i in range(188):
            self.assertEqual(es[i].count("{}"), en[i].count("{}"), i)
            self.assertEqual(zh[i].count("{}"), en[i].count("{}"), i)
        self.assertEqual((en[40], es[40], zh[40]), ("English", "Español", "中文"))
        self.assertEqual(es[92], "{}/s")
        self.assertEqual(zh[92], "{}/秒")
        self.assertEqual(es[150], "Hay una nueva versión de Stickwright: {}.")
        self.assertEqual(en[160], "Ortivex image (*.iso)")
        self.assertEqual(en[162], "Not enough free space in the Downloads folder.")

    def test_unknown_language_or_bad_arguments_exit_2(self):
        for args in [("strings",), ("strings", "fr"), ("strings", "EN"), ("strings", "en", "es")]:
            with self.subTest(args=args):
                code, out, err = run_tool(*args)
                self.assertEqual(code, 2)
                self.assertEqual(out, b"")
                self.assertIn("strings", err)


if __name__ == "__main__":
    unittest.main()
