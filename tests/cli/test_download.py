"""The download code against real HTTPS servers on loopback: libcurl in the
Linux build, WinHTTP in the Windows build under wine.

Every server is started here and stopped here; nothing but 127.0.0.1 is
ever contacted (addresses outside the trusted set are refused before any
request).
"""
import glob
import hashlib
import json
import os
import shutil
import tempfile
import threading
import time
import unittest

import harness
from https_servers import CHUNK, FaultServer, Nginx, SilentServer, TestCA, wine_trust

PROBE = os.environ.get("DOWNLOAD_PROBE_EXE", "")
IMAGES = os.environ.get("TEST_IMAGES_DIR", "")
SECRET_KEY = os.path.join(harness.SOURCE_DIR, "keys", "dev-media-ed25519.secret")
SMALL = 300 * 1024


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def parse(output):
    """The probe's "key value" lines as a dict (last one wins) and a list."""
    lines = harness.lines(output)
    return {l.split(" ", 1)[0]: (l.split(" ", 1) + [""])[1] for l in lines}, lines


class DownloadTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="stickwright-download-")
        cls.ca = TestCA(os.path.join(cls.tmp, "ca"))
        cls.root = os.path.join(cls.tmp, "www")
        os.makedirs(os.path.join(cls.root, "downloads"))
        cls.small = os.urandom(SMALL)
        write(os.path.join(cls.root, "small.bin"), cls.small)
        cls.nginx = Nginx(cls.root, cls.ca.cert, cls.ca.key, os.path.join(cls.tmp, "nginx")).start()
        cls.faults = FaultServer(cls.ca.cert, cls.ca.key).start()
        cls.faults.files["small.bin"] = cls.small
        cls.medium = os.urandom(1024 * 1024)
        cls.faults.files["medium.bin"] = cls.medium
        cls.rogue = FaultServer(cls.ca.rogue_cert, cls.ca.rogue_key).start()
        cls.rogue.files["small.bin"] = cls.small
        cls._trust = None
        if harness.UNDER_WINE:
            cls._trust = wine_trust(cls.ca)
            cls._trust.__enter__()

    @classmethod
    def tearDownClass(cls):
        if cls._trust is not None:
            cls._trust.__exit__(None, None, None)
        cls.nginx.stop()
        cls.faults.stop()
        cls.rogue.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="case-", dir=self.tmp)

    def run_probe(self, *args, env=None, timeout=120):
        extra = [] if harness.UNDER_WINE else ["--ca-file", self.ca.ca_pem]
        # A proxy configured on the machine must not stand between the
        # client and the local servers.
        local = "localhost,.localhost,127.0.0.1"
        env = dict(env or {}, no_proxy=local, NO_PROXY=local)
        return harness.run(PROBE, list(args) + extra, env=env, timeout=timeout)

    def probe(self, *args, env=None, timeout=120):
        r = self.run_probe(*args, env=env, timeout=timeout)
        self.assertNotEqual(r.returncode, 2, r.stderr.decode(errors="replace"))
        return parse(r.stdout)

    def host(self, *parts):
        return harness.host_path(os.path.join(self.work, *parts))

    def log_lines(self, log_dir):
        files = sorted(glob.glob(os.path.join(log_dir, "stickwright-*.log")))
        self.assertTrue(files, "no log written")
        text = read(files[-1]).decode()
        return [l.split(" ", 1)[1] for l in text.splitlines()]

    def job(self, *extra, base=None, until=None):
        logs = os.path.join(self.work, "logs")
        os.makedirs(logs, exist_ok=True)
        dest = os.path.join(self.work, "Downloads")
        os.makedirs(dest, exist_ok=True)
        env = {"ORTIVEX_SW_DOWNLOAD_BASE": base or self.nginx.url("downloads/")}
        args = ("job", harness.host_path(dest), "--log-dir", harness.host_path(logs)) + extra
        if until is None:
            out, lines = self.probe(*args, env=env)
        else:
            out, lines = self.stopped_once(until, *args, env=env)
        return out, lines, dest, logs

    def stopped_once(self, reached, *args, env=None):
        """Runs the probe and, once reached() holds (the server has fallen
        silent where the test wants the download to wait), raises its stop
        flag, as the window's Cancel does. A download that does not end on
        the stop runs into the probe's time limit."""
        stop = os.path.join(self.work, "stop")
        done = {}

        def run():
            try:
                done["result"] = self.run_probe(*args, "--stop-on-file", self.host("stop"),
                                                env=env)
            except Exception as e:  # noqa: BLE001 - reported by the test's thread
                done["error"] = e

        thread = threading.Thread(target=run)
        thread.start()
        ceiling = time.monotonic() + 60
        while not reached() and thread.is_alive() and time.monotonic() < ceiling:
            time.sleep(0.01)
        seen = reached()
        write(stop, b"")
        thread.join()
        self.assertTrue(seen, "the server never saw the download reach it")
        self.assertNotIn("error", done, "the download did not end on the stop")
        r = done["result"]
        self.assertNotEqual(r.returncode, 2, r.stderr.decode(errors="replace"))
        return parse(r.stdout)


class TransportTest(DownloadTestCase):
    def test_whole_file_with_its_length(self):
        out, _ = self.probe("get", self.nginx.url("small.bin"))
        self.assertEqual(out["status"], "200")
        self.assertEqual(out["length"], str(SMALL))
        self.assertEqual(out["sha256"], sha256(self.small))

    def test_range_from_an_offset_and_past_the_end(self):
        out, _ = self.probe("get", self.nginx.url("small.bin"), "Range: bytes=1000-")
        self.assertEqual(out["status"], "206")
        self.assertEqual(out["length"], str(SMALL - 1000))
        self.assertEqual(out["sha256"], sha256(self.small[1000:]))
        out, _ = self.probe("get", self.nginx.url("small.bin"), f"Range: bytes={SMALL}-")
        self.assertEqual(out["status"], "416")

    def test_status_is_reported_and_redirects_are_not_followed(self):
        out, _ = self.probe("get", self.nginx.url("missing.bin"))
        self.assertEqual(out["status"], "404")
        out, _ = self.probe("get", self.faults.url("status/302"))
        self.assertEqual(out["status"], "302")
        self.assertEqual(self.faults.counts.get("/status/302"), 1)

    def test_user_agent_names_the_program_and_its_version(self):
        self.probe("get", self.faults.url("plain/small.bin"))
        agents = [h.get("User-Agent") for p, h in self.faults.requests if p == "/plain/small.bin"]
        self.assertEqual(agents[-1], "Ortivex-Stickwright/1.3.1")

    def test_certificate_from_an_unknown_authority_is_refused(self):
        out, lines = self.probe("get", self.rogue.url("plain/small.bin"))
        self.assertNotIn("status", out, lines)
        self.assertTrue(out["error"].startswith("network: "), lines)
        self.assertEqual(self.rogue.requests, [], "no request may be sent over an untrusted channel")

    def test_plain_http_is_a_bad_url(self):
        out, _ = self.probe("get", f"http://localhost:{self.nginx.port}/small.bin")
        self.assertEqual(out["error"], "bad URL")

    def test_text_limit_exactly_and_one_below(self):
        write(os.path.join(self.root, "doc.json"), b'{"a": "' + b"x" * 993 + b'"}')
        out, _ = self.probe("text", self.nginx.url("doc.json"), "1002")
        self.assertEqual(out["text"], "1002")
        out, _ = self.probe("text", self.nginx.url("doc.json"), "1001")
        self.assertEqual(out["error"], "response too large")


class DownloadFileTest(DownloadTestCase):
    def file(self, url, *extra):
        return self.probe("file", url, self.host("x.part"), *extra)

    def test_lost_connections_are_resumed_where_they_broke(self):
        out, lines = self.file(self.faults.url("cut/3/small.bin"), "--instant-waits")
        self.assertEqual(out["outcome"], "Success", lines)
        self.assertEqual(out["retry"], "3")
        self.assertEqual(read(os.path.join(self.work, "x.part")), self.small)
        ranges = self.faults.ranges("/cut/3/small.bin")
        self.assertEqual(ranges, [None, "bytes=65536-", "bytes=131072-", "bytes=196608-"])

    def test_fifth_lost_connection_ends_the_download(self):
        out, lines = self.file(self.faults.url("cut/9/medium.bin"), "--instant-waits")
        self.assertEqual(out["outcome"], "Failed", lines)
        self.assertTrue(out["message"].startswith("network: "), lines)
        self.assertEqual(out["retry"], "4")
        self.assertEqual(self.faults.counts["/cut/9/medium.bin"], 5)
        self.assertEqual(read(os.path.join(self.work, "x.part")), self.medium[:5 * 65536])

    def test_server_that_ignores_ranges_refuses_resume(self):
        write(os.path.join(self.work, "x.part"), self.small[:1000])
        out, lines = self.file(self.faults.url("norange/small.bin"))
        self.assertEqual(out["outcome"], "ResumeRefused", lines)
        self.assertEqual(os.path.getsize(os.path.join(self.work, "x.part")), 0)

    def test_complete_partial_file_is_not_fetched_again(self):
        write(os.path.join(self.work, "x.part"), self.small)
        out, lines = self.file(self.nginx.url("small.bin"))
        self.assertEqual(out["outcome"], "Success", lines)

    def test_stop_during_a_slow_transfer_then_resume_from_another_server(self):
        out, lines = self.file(self.faults.url("trickle/small.bin"), "--stop-after", "20000")
        self.assertEqual(out["outcome"], "Cancelled", lines)
        # Stopped where it was, not after the rest of the trickle.
        kept = os.path.getsize(os.path.join(self.work, "x.part"))
        self.assertGreaterEqual(kept, 20000)
        self.assertLess(kept, SMALL)
        out, lines = self.file(self.nginx.url("small.bin"))
        self.assertEqual(out["outcome"], "Success", lines)
        self.assertEqual(read(os.path.join(self.work, "x.part")), self.small)


class StopWhileWaitingTest(DownloadTestCase):
    """The stop is honoured wherever the download waits on a server that has
    fallen silent: the download ends cancelled, is not retried, and keeps
    what it has for a later resume."""

    def file_stopped(self, url, reached):
        out, lines = self.stopped_once(reached, "file", url, self.host("x.part"))
        self.assertEqual(out["outcome"], "Cancelled", lines)
        self.assertEqual(out["retry"], "0", lines)
        return out

    def test_stop_in_the_handshake_with_a_server_that_never_answers(self):
        silent = SilentServer().start()
        try:
            self.file_stopped(silent.url("x.iso"), silent.accepted.is_set)
        finally:
            silent.stop()

    def test_stop_while_the_answer_to_the_request_is_awaited(self):
        self.file_stopped(self.faults.url("hang/small.bin"),
                          lambda: self.faults.counts.get("/hang/small.bin", 0) > 0)
        self.assertEqual(self.faults.counts["/hang/small.bin"], 1)

    def test_stop_while_the_body_stalls(self):
        part = os.path.join(self.work, "x.part")
        self.file_stopped(self.faults.url("stall/small.bin"),
                          lambda: os.path.exists(part) and os.path.getsize(part) >= CHUNK)
        self.assertEqual(read(part), self.small[:CHUNK])

    def test_stop_while_the_release_descriptor_is_awaited(self):
        silent = SilentServer().start()
        try:
            out, lines, dest, logs = self.job(base=silent.url("d/"), until=silent.accepted.is_set)
        finally:
            silent.stop()
        self.assertEqual(out["error"], "Cancelled", lines)
        self.assertNotIn("release", out, "nothing was learned about the release")
        self.assertEqual(os.listdir(dest), [])
        self.assertIn("WARN  download failed: Cancelled", self.log_lines(logs))


class DownloadJobTest(DownloadTestCase):
    """The three promises of the download job, end to end."""

    def publish(self, version="24.10", size=2 * 1024 * 1024, url=None):
        folder = os.path.join(self.root, "downloads")
        args = ["release", str(size), version, harness.host_path(folder),
                "--secret-key", harness.host_path(SECRET_KEY)]
        if url:
            args.append(url)
        out, _ = self.probe(*args)
        return out["sha256"], read(os.path.join(folder, "OrtivexOS-Lastest.iso"))

    def test_signed_image_needs_no_second_hash_pass_after_download(self):
        # A real image, mastered by xorriso and signed by the media tool, and
        # its descriptor made by the media tool.
        downloads = os.path.join(self.root, "downloads")
        shutil.copyfile(os.path.join(IMAGES, "signed.iso"),
                        os.path.join(downloads, "OrtivexOS-Lastest.iso"))
        made = harness.run(harness.MEDIATOOL, [
            "descriptor", harness.host_path(os.path.join(downloads, "OrtivexOS-Lastest.iso")),
            harness.host_path(SECRET_KEY),
            "--out", harness.host_path(os.path.join(downloads, "OrtivexOS-Lastest.json"))])
        self.assertEqual(made.returncode, 0, made.stderr)
        version, digest = harness.lines(made.stdout)[0].split()

        out, lines, dest, logs = self.job()
        final = os.path.join(dest, f"OrtivexOS-{version}.iso")
        self.assertEqual(out["finished"], harness.host_path(final), lines)
        self.assertEqual(out["digest"], digest)
        self.assertEqual(read(final), read(os.path.join(IMAGES, "signed.iso")))

        # Validation with the download's digest accepts the image without
        # hashing it again; without the digest it does the full pass.
        vlogs = os.path.join(self.work, "validation-logs")
        os.makedirs(vlogs)
        out, lines = parse(harness.run(PROBE, [
            "validate", harness.host_path(final), digest, "--log-dir",
            harness.host_path(vlogs)]).stdout)
        self.assertEqual(lines, ["inspected accepted", "content ok"])
        self.assertIn("INFO  image content already verified during download", self.log_lines(vlogs))
        shutil.rmtree(vlogs)
        os.makedirs(vlogs)
        out, lines = parse(harness.run(PROBE, [
            "validate", harness.host_path(final), "--log-dir", harness.host_path(vlogs)]).stdout)
        self.assertEqual(lines, ["inspected accepted", "content ok"])
        self.assertNotIn("INFO  image content already verified during download",
                         self.log_lines(vlogs))

    def test_signed_release_ends_under_its_version_with_the_signed_digest(self):
        digest, image = self.publish(version="24.10 beta/2")
        out, lines, dest, logs = self.job()
        self.assertTrue(out["release"].startswith("24.10 beta/2 "), lines)
        final = os.path.join(dest, "OrtivexOS-24.10_beta_2.iso")
        self.assertEqual(out["finished"], harness.host_path(final), lines)
        self.assertEqual(out["digest"], digest)
        self.assertEqual(read(final), image)
        self.assertEqual(os.listdir(dest), ["OrtivexOS-24.10_beta_2.iso"])
        self.assertIn("INFO  download complete: " + harness.host_path(final), self.log_lines(logs))

    def test_stopped_download_resumes_to_an_identical_file(self):
        digest, image = self.publish(size=4 * 1024 * 1024)
        self.faults.files["d/OrtivexOS-Lastest.json"] = read(
            os.path.join(self.root, "downloads", "OrtivexOS-Lastest.json"))
        self.faults.files["d/OrtivexOS-Lastest.iso"] = image
        out, lines, dest, logs = self.job("--stop-after", "1100000",
                                          base=self.faults.url("slowtail/d/"))
        self.assertEqual(out["error"], "Cancelled", lines)
        partial = os.path.join(dest, "OrtivexOS-24.10.iso.part")
        kept = os.path.getsize(partial)
        self.assertTrue(1100000 <= kept < len(image), kept)
        self.assertIn("WARN  download failed: Cancelled", self.log_lines(logs))

        out, lines, dest, logs = self.job(base=self.faults.url("plain/d/"))
        self.assertEqual(out["digest"], digest, lines)
        self.assertEqual(read(os.path.join(dest, "OrtivexOS-24.10.iso")), image)
        self.assertEqual(self.faults.ranges("/plain/d/OrtivexOS-Lastest.iso")[-1],
                         f"bytes={kept}-")

    def test_served_file_that_differs_from_the_manifest_is_corrupted(self):
        _, image = self.publish()
        bad = bytearray(image)
        bad[len(bad) // 2] ^= 0xFF
        write(os.path.join(self.root, "downloads", "OrtivexOS-Lastest.iso"), bytes(bad))
        out, lines, dest, logs = self.job()
        self.assertEqual(out["error"], "Corrupted", lines)
        self.assertEqual(os.listdir(dest), [], "no partial file may be left")
        log = self.log_lines(logs)
        self.assertIn("WARN  download failed: Corrupted", log)
        self.assertTrue(any(l.startswith("ERROR download hash/size mismatch: size=") for l in log))

    def refused(self, descriptor_text, reason):
        write(os.path.join(self.root, "downloads", "OrtivexOS-Lastest.json"), descriptor_text)
        out, lines, dest, logs = self.job()
        self.assertEqual(out["release"], "none", lines)
        final = os.path.join(dest, "OrtivexOS-Lastest.iso")
        self.assertEqual(out["finished"], harness.host_path(final), lines)
        self.assertEqual(out["digest"], "none")
        self.assertIn("WARN  release descriptor refused: " + reason, self.log_lines(logs))
        return read(final)

    def test_bad_signature_is_refused_and_the_download_goes_on_unverified(self):
        _, image = self.publish()
        descriptor = json.loads(read(os.path.join(self.root, "downloads", "OrtivexOS-Lastest.json")))
        sig = descriptor["signature"]
        descriptor["signature"] = ("1" if sig[0] != "1" else "2") + sig[1:]
        self.assertEqual(self.refused(json.dumps(descriptor).encode(), "BadSignature"), image)

    def test_malformed_manifest_is_refused(self):
        _, image = self.publish()
        manifest = json.dumps({"product": "Ortivex", "version": "24.10"})  # signed, but incomplete
        out, _ = self.probe("sign", manifest, "--secret-key", harness.host_path(SECRET_KEY))
        signature = next(iter(out))
        text = json.dumps({"media_manifest": manifest, "signature": signature}).encode()
        self.assertEqual(self.refused(text, "Malformed"), image)

    def test_foreign_image_url_is_refused_and_never_contacted(self):
        _, image = self.publish(url="https://example.invalid/OrtivexOS.iso")
        self.assertEqual(self.refused(
            read(os.path.join(self.root, "downloads", "OrtivexOS-Lastest.json")), "UntrustedUrl"),
            image)

    def test_missing_descriptor_downloads_unverified(self):
        _, image = self.publish()
        os.remove(os.path.join(self.root, "downloads", "OrtivexOS-Lastest.json"))
        out, lines, dest, logs = self.job()
        self.assertEqual(out["release"], "none", lines)
        self.assertEqual(out["digest"], "none")
        self.assertIn("INFO  release descriptor unavailable (HTTP 404); downloading without it",
                      self.log_lines(logs))
        self.assertEqual(read(os.path.join(dest, "OrtivexOS-Lastest.iso")), image)


    def test_unsigned_image_announced_larger_than_any_image_is_refused(self):
        out, lines, dest, logs = self.job(base=self.faults.url("huge/d/"))
        self.assertEqual(out["release"], "none", lines)
        self.assertEqual(out["error"], "TooLarge", lines)
        self.assertEqual(os.listdir(dest), [], "no partial file may be left")
        log = self.log_lines(logs)
        self.assertIn("ERROR download stopped: more than 17179869184 bytes without a signed size",
                      log)
        self.assertIn("WARN  download failed: TooLarge", log)

    def test_endless_unsigned_image_stops_at_the_free_space_of_its_folder(self):
        reserve = 512 * 1024 * 1024
        out, lines, dest, logs = self.job("--free-space", str(reserve + 4 * 1024 * 1024),
                                          base=self.faults.url("endless/d/"))
        self.assertEqual(out["error"], "NoSpace", lines)
        self.assertLessEqual(int(out["done"]), 4 * 1024 * 1024)
        self.assertEqual(os.listdir(dest), [], "no partial file may be left")
        log = self.log_lines(logs)
        self.assertTrue(any(l.startswith("ERROR not enough free space in ") for l in log), log)
        self.assertIn("WARN  download failed: NoSpace", log)

if __name__ == "__main__":
    unittest.main()
