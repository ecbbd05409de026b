#!/usr/bin/env python3
"""Masters the ISO images the tests use, with xorriso, into a build directory.

    usage: scripts/make-test-images.py OUTDIR --mediatool EXE [--runner wine]

The images are small and made afresh for every test run; none is kept in the
repository. They come in the layouts real installers use (a hybrid MBR with an
EFI System Partition appended, GPT with a protective MBR, an isolinux hybrid
like Debian's, Rock Ridge names, deep and wide trees), signed copies made with
the media tool and the development key, and corrupted copies for every
verdict. Cases xorriso cannot make (split Rock Ridge NM entries, a directory
that lists itself, a logical block size of 4096) are made by patching bytes of
a mastered image.

Besides the images, OUTDIR/facts.json records what xorriso itself reports
about each image's files (path, byte offset, size) and where a few patched
things lie, so that the tests can compare the reader with an independent view.
"""
import argparse
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SECRET_KEY = os.path.join(ROOT, "keys", "dev-media-ed25519.secret")
ISOHYBRID_MBR = "/usr/lib/ISOLINUX/isohdpfx.bin"
ISOLINUX_BIN = "/usr/lib/ISOLINUX/isolinux.bin"
LDLINUX = "/usr/lib/syslinux/modules/bios/ldlinux.c32"

SIGN_FIELDS = ["--version", "24.10.3118", "--build", "3118", "--architecture", "x86_64",
               "--channel", "stable", "--created", "2026-12-01T00:00:00Z"]


class Maker:
    def __init__(self, out, mediatool, runner):
        self.out = out
        self.work = os.path.join(out, "work")
        self.mediatool = mediatool
        self.runner = runner
        self.facts = {}

    # ---- helpers -------------------------------------------------------

    def path(self, name):
        return os.path.join(self.out, name)

    def tool_path(self, path):
        path = os.path.abspath(path)
        return "Z:" + path.replace("/", "\\") if self.runner == "wine" else path

    def run(self, cmd, **kw):
        proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
        if proc.returncode != 0:
            sys.stderr.write(proc.stdout.decode(errors="replace"))
            sys.stderr.write(proc.stderr.decode(errors="replace"))
            raise SystemExit(f"failed: {' '.join(cmd)}")
        return proc.stdout.decode(errors="replace")

    def tree(self, name, files):
        """A directory tree from {relative path: bytes}; directories end in '/'."""
        top = os.path.join(self.work, name)
        shutil.rmtree(top, ignore_errors=True)
        os.makedirs(top)
        for rel, data in files.items():
            full = os.path.join(top, rel)
            if rel.endswith("/"):
                os.makedirs(full, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        return top

    def master(self, name, tree, args):
        out = self.path(name)
        if os.path.exists(out):
            os.remove(out)
        self.run(["xorriso", "-as", "mkisofs", "-o", out] + args + [tree])
        self.record_files(name)
        return out

    def record_files(self, name):
        """xorriso's own list of the image's data files: path, byte offset, size."""
        text = self.run(["xorriso", "-indev", self.path(name), "-find", "/", "-type", "f",
                         "-exec", "report_lba", "--"], stdin=subprocess.DEVNULL)
        files = []
        for line in text.splitlines():
            if not line.startswith("File data lba:"):
                continue
            fields, path = line.split(", '", 1)
            parts = [p.strip() for p in fields.split(":", 1)[1].split(",")]
            lba, size = int(parts[1]), int(parts[3])
            files.append({"path": path.rstrip("'").lstrip("/"), "offset": lba * 2048,
                          "size": size})
        self.facts.setdefault(name, {})["files"] = files

    def copy(self, src, dst):
        shutil.copyfile(self.path(src), self.path(dst))
        if src in self.facts:
            self.facts[dst] = json.loads(json.dumps(self.facts[src]))
        return self.path(dst)

    def patch(self, name, offset, data):
        with open(self.path(name), "r+b") as f:
            f.seek(offset)
            f.write(data)

    def file_offset(self, name, path):
        for f in self.facts[name]["files"]:
            if f["path"] == path:
                return f["offset"]
        raise SystemExit(f"{path} not in {name}")

    def sign(self, name):
        cmd = ([self.runner] if self.runner else []) + [
            self.mediatool, "sign", self.tool_path(self.path(name)), self.tool_path(SECRET_KEY)
        ] + SIGN_FIELDS
        digest = self.run(cmd).strip().splitlines()[-1]
        self.facts[name]["sha256"] = digest
        return digest

    # ---- ingredients ----------------------------------------------------

    def boot_code(self):
        """Stand-in x86 boot code for the MBR: non-zero, never run by the tests."""
        path = os.path.join(self.work, "mbr.bin")
        code = bytes([0xFA, 0x31, 0xC0, 0x8E, 0xD8, 0xF4, 0xEB, 0xFD]) + b"ORTIVEX TEST MBR"
        with open(path, "wb") as f:
            f.write(code.ljust(440, b"\0").ljust(512, b"\0"))
        return path

    def esp(self):
        """A real FAT EFI System Partition with a boot loader file in place."""
        path = os.path.join(self.work, "efi.img")
        if os.path.exists(path):
            os.remove(path)
        self.run(["mkfs.fat", "-C", "-n", "ORTIVEX_EFI", path, "2880"])
        loader = os.path.join(self.work, "BOOTX64.EFI")
        with open(loader, "wb") as f:
            f.write(b"MZ" + bytes(510))
        self.run(["mmd", "-i", path, "::/EFI", "::/EFI/BOOT"])
        self.run(["mcopy", "-i", path, loader, "::/EFI/BOOT/BOOTX64.EFI"])
        return path

    def linux_partition(self):
        path = os.path.join(self.work, "data.img")
        with open(path, "wb") as f:
            f.write(bytes(512 * 64))
        return path

    # ---- images -----------------------------------------------------------

    def make(self):
        os.makedirs(self.work, exist_ok=True)
        mbr = self.boot_code()
        esp = self.esp()
        data = bytes((i * 7919) & 0xFF for i in range(300_000))
        ortivex_files = {
            "README.TXT": b"OrtivexOS installation medium\n",
            "LICENSE": b"license\n",
            "docs/data.bin": data,
            "docs/Release Notes (English).txt": b"Release notes\n",
            "docs/caf\u00e9-cr\u00e8me.txt": b"accents\n",
            "ortivex/MEDIA.SUMS": bytes(4096),
            "ortivex/manifest.json": b'{"product":"Ortivex","version":"24.10.3118-rc1"}\n',
            "boot/grub/grub.cfg": b"menuentry OrtivexOS {}\n",
            "empty.txt": b"",
            "EFI/BOOT/": b"",
        }
        hybrid = ["-R", "-V", "ORTIVEX_24_10", "-G", mbr, "--mbr-force-bootable",
                  "-append_partition", "2", "0xef", esp]

        # The sample: hybrid MBR with boot code, an active partition and the
        # EFI System Partition appended, as most installers ship.
        tree = self.tree("ortivex", ortivex_files)
        self.master("unsigned.iso", tree, hybrid)
        self.copy("unsigned.iso", "signed.iso")
        self.sign("signed.iso")
        block = self.file_offset("signed.iso", "ortivex/MEDIA.SUMS")
        self.facts["signed.iso"]["block_offset"] = block

        # Corrupted copies, one per verdict.
        self.copy("signed.iso", "signed-content-changed.iso")
        at = self.file_offset("signed.iso", "docs/data.bin") + 1000
        self.patch("signed-content-changed.iso", at, bytes([data[1000] ^ 0x01]))
        with open(self.path("signed.iso"), "rb") as f:
            f.seek(block)
            signed_block = f.read(4096)
        manifest_at = signed_block.index(b'"version":"24.10.3118"') + len('"version":"24.10.')
        self.copy("signed.iso", "signed-manifest-changed.iso")
        self.patch("signed-manifest-changed.iso", block + manifest_at, b"4")  # 3118 -> 4118
        padding_at = signed_block.index(b"\n", signed_block.index(b"ed25519 ")) + 10
        self.copy("signed.iso", "signed-padding-changed.iso")
        self.patch("signed-padding-changed.iso", block + padding_at, b"x")
        self.copy("signed.iso", "signed-truncated.iso")
        os.truncate(self.path("signed-truncated.iso"), os.path.getsize(self.path("signed.iso")) - 2048)
        # The Volume Space Size of the PVD: the appended partition lies beyond it.
        volume = struct.unpack("<I", self.read("unsigned.iso", 32768 + 80, 4))[0] * 2048
        self.facts["unsigned.iso"]["volume_bytes"] = volume
        self.copy("unsigned.iso", "unsigned-truncated.iso")
        os.truncate(self.path("unsigned-truncated.iso"), volume - 1)
        self.copy("unsigned.iso", "unsigned-longer.iso")
        with open(self.path("unsigned-longer.iso"), "ab") as f:
            f.write(b"\0")
        # Descriptors intact, root directory beyond the end of the file.
        self.copy("unsigned.iso", "root-beyond-end.iso")
        beyond = os.path.getsize(self.path("unsigned.iso")) // 2048 + 16
        self.patch("root-beyond-end.iso", 32768 + 156 + 2,
                   struct.pack("<I", beyond) + struct.pack(">I", beyond))
        # Directories intact, the signature block cut off.
        self.copy("signed.iso", "block-beyond-end.iso")
        os.truncate(self.path("block-beyond-end.iso"), block + 2048)
        self.copy("unsigned.iso", "block4096.iso")
        self.patch("block4096.iso", 32768 + 128, struct.pack("<H", 4096) + struct.pack(">H", 4096))

        # GPT with a protective MBR; the EFI System Partition only in the GPT.
        self.master("gpt.iso", tree, ["-R", "-V", "ORTIVEX_GPT", "-G", mbr,
                                      "-append_partition", "2",
                                      "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", esp,
                                      "-appended_part_as_gpt"])
        self.copy("gpt.iso", "gpt-signed.iso")
        self.sign("gpt-signed.iso")

        # A Debian-style isolinux hybrid of another product.
        foreign = self.tree("foreign", {
            "isolinux/isolinux.bin": open(ISOLINUX_BIN, "rb").read(),
            "isolinux/ldlinux.c32": open(LDLINUX, "rb").read(),
            "isolinux/isolinux.cfg": b"default linux\n",
            "boot/grub/efi.img": open(esp, "rb").read(),
            "README.txt": b"another distribution\n",
        })
        self.master("foreign-hybrid.iso", foreign, [
            "-r", "-V", "Debian 12.8.0 amd64 n", "-isohybrid-mbr", ISOHYBRID_MBR,
            "-b", "isolinux/isolinux.bin", "-c", "isolinux/boot.cat", "-boot-load-size", "4",
            "-boot-info-table", "-no-emul-boot", "-eltorito-alt-boot", "-e", "boot/grub/efi.img",
            "-no-emul-boot", "-isohybrid-gpt-basdat"])

        # Not bootable from USB: a plain ISO, and hybrids without an ESP.
        self.master("plain.iso", tree, ["-R", "-V", "ORTIVEX_PLAIN"])
        no_efi = ["-R", "-V", "ORTIVEX_NO_EFI", "-G", mbr, "--mbr-force-bootable",
                  "-append_partition", "2", "0x83", self.linux_partition()]
        self.master("no-efi.iso", tree, no_efi)
        self.copy("no-efi.iso", "no-efi-signed.iso")
        self.sign("no-efi-signed.iso")

        # ISO 9660 names only (no Rock Ridge): "README.TXT;1" and friends.
        self.master("iso-names.iso", tree, ["--norock", "-iso-level", "3", "-V", "ORTIVEX_ISO_NAMES", "-G", mbr,
                                            "--mbr-force-bootable", "-append_partition", "2",
                                            "0xef", esp])

        # Wide: more files than the reader lists.
        wide = {f"pool/d{d:02}/file{i:04}.deb": f"{d}/{i}\n".encode()
                for d in range(10) for i in range(500)}
        wide["ortivex/manifest.json"] = b'{"version":"24.10"}'
        self.master("wide.iso", self.tree("wide", wide), hybrid[:2] + ["ORTIVEX_WIDE"] + hybrid[3:])

        # A version that tries to start a forged line of output, and a
        # right-to-left override that would reorder what is shown.
        forged = {"ortivex/manifest.json":
                  '{"version":"24.10\\r\\nOFFICIAL version=9.9 size=1 uefi=true \u202e"}'.encode()}
        self.master("forged-version.iso", self.tree("forged", forged), hybrid)

        # Deep: ten levels of directories with one file each.
        deep = {}
        path = ""
        for level in range(1, 11):
            path += f"level{level}/"
            deep[path + f"file{level}.txt"] = f"{level}\n".encode()
        self.master("deep.iso", self.tree("deep", deep), hybrid[:2] + ["ORTIVEX_DEEP"] + hybrid[3:])

        # Byte-patched Rock Ridge and directory cases.
        loop = {"loop/inner/hidden.txt": b"hidden\n", "loop/seen.txt": b"seen\n",
                "names/a-rather-long-rock-ridge-name.txt": b"split\n", "top.txt": b"top\n"}
        self.master("patched-base.iso", self.tree("patched", loop),
                    hybrid[:2] + ["ORTIVEX_PATCHED"] + hybrid[3:])
        self.copy("patched-base.iso", "split-nm.iso")
        self.split_nm("split-nm.iso", "names", "a-rather-long-rock-ridge-name.txt")
        self.copy("patched-base.iso", "self-reference.iso")
        self.self_reference("self-reference.iso", "loop", "inner")

        # Not ISO 9660 at all.
        with open(self.path("not-iso.bin"), "wb") as f:
            f.write(hashlib.sha256(b"seed").digest() * (1 << 15))
        with open(self.path("short.bin"), "wb") as f:
            f.write(bytes(65535))

        shutil.rmtree(self.work)
        with open(self.path("facts.json"), "w") as f:
            json.dump(self.facts, f, indent=1, sort_keys=True)

    # ---- patching directory records ---------------------------------------

    def read(self, name, offset, n):
        with open(self.path(name), "rb") as f:
            f.seek(offset)
            return f.read(n)

    def records(self, name, offset, size):
        """(position in image, record bytes) of one directory extent."""
        data = self.read(name, offset, size)
        pos = 0
        while pos < len(data):
            n = data[pos]
            if n == 0:
                pos = (pos // 2048 + 1) * 2048
                continue
            yield offset + pos, data[pos:pos + n]
            pos += n

    def rr_name(self, rec):
        name_len = rec[32]
        sua = 33 + name_len + (1 if name_len % 2 == 0 else 0)
        pos, name = sua, b""
        while pos + 4 <= len(rec):
            sig, n = rec[pos:pos + 2], rec[pos + 2]
            if n < 4:
                break
            if sig == b"NM" and not rec[pos + 4] & 6:
                name += rec[pos + 5:pos + n]
            pos += n
        return name.decode()

    def find_record(self, name, dir_offset, dir_size, child):
        for pos, rec in self.records(name, dir_offset, dir_size):
            if rec[32] == 1 and rec[33] in (0, 1):
                continue
            if self.rr_name(rec) == child:
                return pos, rec
        raise SystemExit(f"{child} not found in {name}")

    def root(self, name):
        pvd = self.read(name, 32768, 2048)
        rec = pvd[156:190]
        return struct.unpack("<I", rec[2:6])[0] * 2048, struct.unpack("<I", rec[10:14])[0]

    def subdir(self, name, parent, child):
        pos, rec = self.find_record(name, *parent, child)
        return pos, rec, (struct.unpack("<I", rec[2:6])[0] * 2048, struct.unpack("<I", rec[10:14])[0])

    def split_nm(self, name, directory, filename):
        """Rewrites one record's System Use area: its NM entry becomes an NM
        marked CURRENT (to be ignored) and two NM pieces joined by CONTINUE.
        The TF (timestamps) entry makes room, so the record keeps its length."""
        _, _, dir_extent = self.subdir(name, self.root(name), directory)
        pos, rec = self.find_record(name, *dir_extent, filename)
        name_len = rec[32]
        sua = 33 + name_len + (1 if name_len % 2 == 0 else 0)
        entries, p = [], sua
        while p + 4 <= len(rec) and rec[p + 2] >= 4:
            entries.append(rec[p:p + rec[p + 2]])
            p += rec[p + 2]
        kept = [e for e in entries if e[:2] not in (b"NM", b"TF")]
        full = filename.encode()
        half = len(full) // 2
        new = b"".join(kept)
        new += b"NM" + bytes([5, 1, 2])  # CURRENT: "." — must be ignored
        new += b"NM" + bytes([5 + half, 1, 1]) + full[:half]
        new += b"NM" + bytes([5 + len(full) - half, 1, 0]) + full[half:]
        if len(new) > len(rec) - sua:
            raise SystemExit("no room to split the NM entry")
        new = new.ljust(len(rec) - sua, b"\0")
        self.patch(name, pos + sua, new)
        self.facts[name]["split_nm"] = filename

    def self_reference(self, name, directory, child):
        """Makes `directory/child` point at `directory`'s own extent."""
        _, _, dir_extent = self.subdir(name, self.root(name), directory)
        pos, rec = self.find_record(name, *dir_extent, child)
        lba, size = dir_extent[0] // 2048, dir_extent[1]
        both = struct.pack("<I", lba) + struct.pack(">I", lba)
        both_size = struct.pack("<I", size) + struct.pack(">I", size)
        self.patch(name, pos + 2, both + both_size)
        self.facts[name]["self_reference"] = f"{directory}/{child}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--mediatool", required=True)
    parser.add_argument("--runner", default="")
    args = parser.parse_args()
    for tool in ("xorriso", "mkfs.fat", "mcopy"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} is missing (scripts/install-deps.sh installs it)")
    os.makedirs(args.out, exist_ok=True)
    Maker(args.out, args.mediatool, args.runner).make()


if __name__ == "__main__":
    main()
