"""End-to-end checks of `ortivex-mediatool json FILE`: output, exit code and
byte-exact reading of the file, natively or under wine."""

import os
import shutil
import subprocess
import tempfile
import unittest

EXE = os.environ.get("MEDIATOOL_EXE", "")
RUNNER = os.environ.get("STICKWRIGHT_RUNNER", "")


def tool_path(path):
    """A path as the tool sees it: under wine, the Z: drive maps the Unix root."""
    if RUNNER == "wine":
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def run_tool(*args):
    cmd = ([RUNNER] if RUNNER else []) + [EXE] + list(args)
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("LANG", "C.UTF-8")  # lets wine hand non-ASCII arguments over as UTF-16
    proc = subprocess.run(cmd, capture_output=True, env=env, timeout=120)
    out = proc.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    err = proc.stderr.decode("utf-8", "replace")
    return proc.returncode, out, err


@unittest.skipUnless(EXE, "MEDIATOOL_EXE is not set")
class MediatoolJson(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="mediatool-json-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return tool_path(path)

    def check(self, name, data, expected_out, expected_code):
        code, out, err = run_tool("json", self.write(name, data))
        self.assertEqual((out, code), (expected_out, expected_code), err)

    def test_valid_documents_print_ok(self):
        self.check("manifest.json", b'{"product":"OrtivexOS","size":4096,"tags":[1,2.5e3]}\n',
                   "ok\n", 0)
        self.check("nested.json", b"[" * 33 + b"]" * 33, "ok\n", 0)
        self.check("\u00e9t\u00e9-\u0434\u043e\u043a.json", b'"\xc3\xa9"', "ok\n", 0)

    def test_errors_give_message_and_offset(self):
        cases = [
            ("empty.json", b"", "error: unexpected end of input at 0\n"),
            ("comma.json", b'{"a":1,}', "error: expected object key at 7\n"),
            ("dup.json", b'{"a":1,"a":2}', "error: duplicate object key at 12\n"),
            ("utf8.json", b'["\xff"]', "error: invalid UTF-8 at 4\n"),
            ("deep.json", b"[" * 34 + b"]" * 34, "error: nesting too deep at 33\n"),
            ("escape.json", b'"\\uD83D"', "error: lone surrogate at 7\n"),
        ]
        for name, data, expected in cases:
            with self.subTest(name=name):
                self.check(name, data, expected, 1)

    def test_file_is_read_as_bytes(self):
        # Line ends must not be translated and a Ctrl-Z must not end the file,
        # or the offsets (and the verdict) would change on Windows.
        self.check("crlf.json", b"[1,\r\n2 x]", "error: expected ',' or ']' at 7\n", 1)
        self.check("ctrlz.json", b"{} \x1a", "error: trailing characters at 3\n", 1)
        self.check("nul-byte.json", b'{"a":"\x00"}', "error: control character in string at 7\n", 1)

    def test_unreadable_file_or_bad_arguments_exit_2(self):
        missing = tool_path(os.path.join(self.dir, "missing.json"))
        for args in [("json", missing), ("json", tool_path(self.dir)), ("json",),
                     ("json", missing, missing)]:
            with self.subTest(args=args):
                code, out, err = run_tool(*args)
                self.assertEqual(code, 2)
                self.assertEqual(out, "")
                self.assertNotEqual(err.strip(), "")
        code, _, err = run_tool("json", missing)
        self.assertIn("missing.json", err)


if __name__ == "__main__":
    unittest.main()
