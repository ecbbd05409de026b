"""--restore end to end: a drive that holds the written sample image gets one
partition with an empty file system, judged by the system's own fsck (and,
on a loop device as root, by the kernel's partition scan and a mount).

Natively and under wine on simulated drives (files); natively on a loop
device when run as root with a free loop device."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

import harness
from harness import EXE, UNDER_WINE, host_path, lines, run

IMAGES = os.environ.get("TEST_IMAGES_DIR", "")
MiB = 1 << 20
GiB = 1 << 30
RESTORED = re.compile(
    r"^restored: (FAT32|exFAT), (\d+ (?:B|KiB)) clusters, (\d+\.\d (?:MiB|GiB)); "
    r"total=\d+\.\ds write=\d+\.\ds flush=\d+\.\d\ds verify=\d+\.\ds written=(\d+) "
    r"refresh=(Ok\(\(\)\)|Err\(\".*\"\))$")
PROGRESS = re.compile(r"^  (Preparing|Writing|Flushing|Verifying|Finishing) \d+\.\d%$")


def partitions(first_sector):
    """The used entries of an MBR: (type, first LBA, sector count)."""
    assert first_sector[510:512] == b"\x55\xaa", "no MBR signature"
    out = []
    for i in range(4):
        entry = first_sector[446 + 16 * i:446 + 16 * (i + 1)]
        kind = entry[4]
        first, count = struct.unpack("<II", entry[8:16])
        if kind or first or count:
            out.append((kind, first, count))
    return out


def fsck(kind, path):
    tool = shutil.which("fsck.fat" if kind == "FAT32" else "fsck.exfat")
    if tool is None:
        return None
    return subprocess.run([tool, "-n", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=300)


@unittest.skipUnless(EXE and IMAGES, "STICKWRIGHT_EXE and TEST_IMAGES_DIR are needed")
class RestoreMode(harness.TempDirTestCase):
    def run_mode(self, sims, args, serial="E2E"):
        env = {"ORTIVEX_SIMULATED_USB": sims, **harness.determinable_facts()}
        if serial is not None:
            env["ORTIVEX_TEST_USB_SERIAL"] = serial
        result = run(EXE, args, env=env, localappdata=self.tmp, timeout=300)
        return result.returncode, lines(result.stdout)

    def written_stick(self, size):
        """A drive of `size` bytes that holds the signed sample, written by --write."""
        stick = os.path.join(self.tmp, "stick.img")
        with open(stick, "wb") as f:
            f.truncate(size)
        sims = f"{host_path(stick)},serial=E2E"
        code, out = self.run_mode(sims, ["--enable-destructive-usb-tests", "--write",
                                         host_path(os.path.join(IMAGES, "signed.iso"))])
        self.assertEqual(code, 0, out)
        return stick, sims

    def test_without_the_enabling_option_nothing_is_touched(self):
        stick = os.path.join(self.tmp, "stick.img")
        with open(stick, "wb") as f:
            f.write(b"\xaa" * MiB)
            f.truncate(64 * MiB)
        code, out = self.run_mode(f"{host_path(stick)},serial=E2E", ["--restore"])
        self.assertEqual((code, out[1:]),
                         (2, ["refused: destructive modes need --enable-destructive-usb-tests"]))
        code, out = self.run_mode(f"{host_path(stick)},serial=E2E",
                                  ["--enable-destructive-usb-tests", "--restore"], serial="OTHER")
        self.assertEqual(code, 3, out)
        with open(stick, "rb") as f:
            self.assertEqual(f.read(MiB), b"\xaa" * MiB)

    def test_a_written_drive_gets_one_partition_that_checks_clean(self):
        size = 64 * MiB
        stick, sims = self.written_stick(size)
        code, out = self.run_mode(sims, ["--enable-destructive-usb-tests", "--restore"])
        self.assertEqual(code, 0, out)
        self.assertTrue(out[1].startswith("target: disk 4000000000 "), out)
        for line in out[2:-1]:
            self.assertRegex(line, PROGRESS)
        m = RESTORED.match(out[-1])
        self.assertTrue(m, out[-1])
        self.assertEqual(m.group(1), "FAT32")
        self.assertEqual(m.group(2), "512 B")
        self.assertEqual(m.group(5), "Ok(())")
        # A quick format: a few MiB at most.
        self.assertLess(int(m.group(4)), 4 * MiB)

        with open(stick, "rb") as f:
            table = partitions(f.read(512))
        self.assertEqual(table, [(0x0C, 2048, (size - MiB) // 512)])

        # The volume alone, as fsck wants it.
        volume = os.path.join(self.tmp, "volume.img")
        with open(stick, "rb") as src, open(volume, "wb") as dst:
            src.seek(MiB)
            shutil.copyfileobj(src, dst)
        checked = fsck("FAT32", volume)
        if checked is None:
            self.skipTest("fsck.fat is not installed")
        self.assertEqual(checked.returncode, 0, checked.stdout.decode(errors="replace"))

        log = ""
        for name in sorted(os.listdir(self.log_dir())):
            if name.startswith("stickwright-"):
                with open(os.path.join(self.log_dir(), name), encoding="utf-8") as f:
                    log += f.read()
        self.assertIn("INFO  restore start: disk 4000000000 ", log)
        self.assertIn("prepare +", log)

    def test_a_drive_too_small_is_left_as_it_was(self):
        stick, sims = self.written_stick(16 * MiB)
        with open(stick, "rb") as f:
            before = f.read(MiB)
        code, out = self.run_mode(sims, ["--enable-destructive-usb-tests", "--restore"])
        self.assertEqual(code, 1, out)
        self.assertTrue(out[-1].startswith("FAILED: cannot restore this drive: "), out[-1])
        with open(stick, "rb") as f:
            self.assertEqual(f.read(MiB), before)

    def test_a_write_error_leaves_no_partition_table(self):
        stick, _ = self.written_stick(64 * MiB)
        code_error = "1117" if UNDER_WINE else "5"
        sims = f"{host_path(stick)},serial=E2E,error={code_error}@{MiB}"
        code, out = self.run_mode(sims, ["--enable-destructive-usb-tests", "--restore"])
        self.assertEqual(code, 1, out)
        self.assertTrue(out[-1].startswith("FAILED: device write failed: "), out[-1])
        with open(stick, "rb") as f:
            self.assertEqual(f.read(512)[446:510], bytes(64))


@unittest.skipIf(UNDER_WINE, "loop devices are the Linux kernel's")
@unittest.skipUnless(EXE and IMAGES, "STICKWRIGHT_EXE and TEST_IMAGES_DIR are needed")
class RestoreOnALoopDevice(harness.TempDirTestCase):
    """The kernel as the judge: it reads the new table (the restore asks it to)
    and, where a driver is at hand, mounts the file system."""

    def loop(self, size):
        if os.geteuid() != 0 or shutil.which("losetup") is None:
            self.skipTest("loop devices need root")
        backing = os.path.join(self.tmp, "loop.img")
        with open(backing, "wb") as f:
            f.truncate(size)
        made = subprocess.run(["losetup", "-f", "--show", "-P", backing], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
        if made.returncode != 0:
            self.skipTest("no loop device available")
        node = made.stdout.strip()
        self.addCleanup(subprocess.run, ["losetup", "-d", node], stderr=subprocess.DEVNULL)
        return node

    def restore(self, node):
        env = {"ORTIVEX_SIMULATED_USB": f"{node},serial=LOOPSTICK",
               "ORTIVEX_TEST_USB_SERIAL": "LOOPSTICK"}
        code, out = lines_of(run(EXE, ["--enable-destructive-usb-tests", "--write",
                                       os.path.join(IMAGES, "signed.iso")],
                                 env=env, localappdata=self.tmp))
        self.assertEqual(code, 0, out)
        code, out = lines_of(run(EXE, ["--enable-destructive-usb-tests", "--restore"], env=env,
                                 localappdata=self.tmp))
        self.assertEqual(code, 0, out)
        m = RESTORED.match(out[-1])
        self.assertTrue(m, out[-1])
        self.assertEqual(m.group(5), "Ok(())")
        return m.group(1)

    def kernel_partitions(self, node):
        name = os.path.basename(node)
        return sorted(p for p in os.listdir(f"/sys/block/{name}") if p.startswith(name + "p"))

    def mount_and_use(self, kind, partition):
        """Mounts the volume where this machine can, writes a file, reads it back."""
        with open("/proc/filesystems") as f:
            known = f.read().split()
        mnt = tempfile.mkdtemp(dir=self.tmp)
        if (kind == "FAT32" and "vfat" in known) or (kind == "exFAT" and "exfat" in known):
            cmd = ["mount", partition, mnt]
            unmount = ["umount", mnt]
        elif kind == "exFAT" and shutil.which("mount.exfat-fuse") and os.path.exists("/dev/fuse"):
            cmd = ["mount.exfat-fuse", partition, mnt]
            unmount = ["fusermount", "-u", mnt]
        else:
            return False
        if subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
            return False
        try:
            data = os.urandom(3 * MiB + 5)
            with open(os.path.join(mnt, "back.bin"), "wb") as f:
                f.write(data)
            with open(os.path.join(mnt, "back.bin"), "rb") as f:
                self.assertEqual(f.read(), data)
        finally:
            subprocess.run(unmount, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return True

    def check(self, size, kind):
        node = self.loop(size)
        self.assertEqual(self.restore(node), kind)
        with open(node, "rb") as f:
            table = partitions(f.read(512))
        self.assertEqual(len(table), 1)
        # The kernel read the new table: one partition, where this kernel
        # scans MBR tables at all (some are built without); otherwise the
        # volume is reached through a loop device at the partition's offset.
        seen = self.kernel_partitions(node)
        if seen:
            self.assertEqual(seen, [os.path.basename(node) + "p1"])
            volume = node + "p1"
        else:
            volume = self.loop_at(node, table[0][1] * 512)
        checked = fsck(kind, volume)
        if checked is not None:
            self.assertEqual(checked.returncode, 0, checked.stdout.decode(errors="replace"))
        # Mounted where a driver is at hand; otherwise fsck above is the judge.
        self.mount_and_use(kind, volume)

    def loop_at(self, node, offset):
        made = subprocess.run(["losetup", "-f", "--show", "-o", str(offset), node],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.assertEqual(made.returncode, 0)
        part = made.stdout.strip()
        self.addCleanup(subprocess.run, ["losetup", "-d", part], stderr=subprocess.DEVNULL)
        return part

    def test_fat32_on_a_small_loop_device(self):
        self.check(64 * MiB, "FAT32")

    def test_exfat_on_a_large_sparse_loop_device(self):
        self.check(40 * GiB, "exFAT")


def lines_of(result):
    return result.returncode, lines(result.stdout)


if __name__ == "__main__":
    unittest.main()
