"""The Windows executable stands alone and carries its manifest, version and icon."""
import re
import shutil
import subprocess
import unittest
import xml.etree.ElementTree as ET

from harness import EXE, UNDER_WINE

OBJDUMP = "x86_64-w64-mingw32-objdump"
WINDRES = "x86_64-w64-mingw32-windres"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def resources_as_rc():
    return subprocess.run([WINDRES, "-i", EXE, "-J", "coff", "-O", "rc"], check=True,
                          stdout=subprocess.PIPE).stdout.decode("latin-1")


def manifest_text(rc):
    block = re.search(r"1 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)\nEND", rc, re.S)
    assert block, "no manifest resource"
    parts = re.findall(r'^\s*"(.*)"\s*$', block.group(1), re.M)
    text = "".join(parts).replace('""', '"')
    return text.encode("latin-1").decode("unicode_escape")


@unittest.skipUnless(UNDER_WINE and shutil.which(OBJDUMP), "Windows build only")
class WindowsExecutable(unittest.TestCase):
    def test_gui_subsystem_and_only_system_dlls(self):
        headers = subprocess.run([OBJDUMP, "-p", EXE], check=True,
                                 stdout=subprocess.PIPE).stdout.decode("latin-1")
        self.assertIn("file format pei-x86-64", headers)
        self.assertRegex(headers, r"Subsystem\s+00000002\s+\(Windows GUI\)")
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", headers)}
        self.assertTrue(dlls)
        for dll in dlls:
            self.assertNotRegex(dll, r"libstdc|libgcc|libwinpthread|libgcrypt|libgpg", dll)

    def test_manifest(self):
        root = ET.fromstring(manifest_text(resources_as_rc()))
        identity = root.find("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity")
        self.assertEqual(identity.get("processorArchitecture"), "amd64")
        level = root.find(f".//{ASM_V3}requestedExecutionLevel")
        self.assertEqual(level.get("level"), "requireAdministrator")
        os_ids = [e.get("Id") for e in root.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")]
        self.assertIn("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", os_ids)  # Windows 10 and later
        settings = {e.tag.split("}")[1]: e.text for e in root.find(f".//{ASM_V3}windowsSettings")}
        self.assertEqual(settings["dpiAwareness"], "PerMonitorV2")
        self.assertEqual(settings["dpiAware"], "true/pm")
        self.assertEqual(settings["longPathAware"], "true")

    def test_version_resource_and_icon(self):
        rc = resources_as_rc()
        self.assertRegex(rc, r"FILEVERSION 1, 3, 1, 0")
        self.assertRegex(rc, r"PRODUCTVERSION 1, 3, 1, 0")
        expected = {
            "FileDescription": "Ortivex Stickwright",
            "ProductName": "Ortivex Stickwright",
            "InternalName": "Ortivex-Stickwright",
            "OriginalFilename": "Ortivex-Stickwright.exe",
            "FileVersion": "1.3.1.0",
            "ProductVersion": "1.3.1.0",
        }
        for key, value in expected.items():
            self.assertIn(f'VALUE "{key}", "{value}"', rc)
        self.assertIn("1 14 /* RT_GROUP_ICON */", rc)
        self.assertRegex(rc, r"\n1 3 /\* RT_ICON \*/")


if __name__ == "__main__":
    unittest.main()
