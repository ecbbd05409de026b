"""Measures the download job against curl -o; see bench-download.sh."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "cli"))
from https_servers import Nginx, TestCA  # noqa: E402


def clean(folder):
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    subprocess.run(["sync"], check=False)  # earlier runs' writeback must not count


def timed(cmd, env=None):
    start = time.monotonic()
    r = subprocess.run(["/usr/bin/time", "-v"] + cmd, env=env, capture_output=True, text=True)
    seconds = time.monotonic() - start
    if r.returncode != 0:
        raise RuntimeError(f"{cmd[0]} failed: {r.stderr[-2000:]}")
    rss_kib = next(int(l.split(":")[1]) for l in r.stderr.splitlines()
                   if "Maximum resident set size" in l)
    return seconds, rss_kib, r.stdout


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--probe", required=True)
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("sizes", nargs="*", type=int, default=[256, 1024], help="image sizes in MiB")
    a = p.parse_args()

    work = tempfile.mkdtemp(prefix="stickwright-bench-", dir=os.environ.get("BENCH_DIR"))
    try:
        ca = TestCA(os.path.join(work, "ca"))
        www = os.path.join(work, "www")
        downloads = os.path.join(www, "downloads")
        dest = os.path.join(work, "dest")
        os.makedirs(downloads)
        os.makedirs(dest)
        nginx = Nginx(www, ca.cert, ca.key, os.path.join(work, "nginx")).start()
        env = dict(os.environ, ORTIVEX_SW_DOWNLOAD_BASE=nginx.url("downloads/"))
        url = nginx.url("downloads/OrtivexOS-Lastest.iso")
        print(f"{'size':>8} {'job MB/s':>9} {'curl MB/s':>10} {'ratio':>6} {'job peak RSS':>13}"
              f" {'curl peak RSS':>14}")
        try:
            for mib in a.sizes:
                size = mib * 1024 * 1024
                subprocess.run([a.probe, "release", str(size), "bench", downloads, "--secret-key",
                                os.path.join(ROOT, "keys", "dev-media-ed25519.secret")],
                               check=True, stdout=subprocess.DEVNULL)
                job, curl, job_rss, curl_rss = [], [], 0, 0
                for _ in range(a.rounds):
                    clean(dest)
                    s, rss, out = timed([a.probe, "job", dest, "--ca-file", ca.ca_pem], env)
                    if "finished " not in out or "digest none" in out:
                        raise RuntimeError("the job did not verify the image:\n" + out)
                    job.append(size / 1e6 / s)
                    job_rss = max(job_rss, rss)
                    clean(dest)
                    s, rss, _ = timed(["curl", "-sS", "--fail", "--cacert", ca.ca_pem, "-o",
                                       os.path.join(dest, "curl.iso"), url])
                    curl.append(size / 1e6 / s)
                    curl_rss = max(curl_rss, rss)
                # What hashing alone costs on this machine, for reading the ratio:
                # the job hashes every byte, curl does not.
                image = os.path.join(downloads, "OrtivexOS-Lastest.iso")
                subprocess.run(["cat", image], stdout=subprocess.DEVNULL, check=True)
                start = time.monotonic()
                subprocess.run(["openssl", "dgst", "-sha256", image], stdout=subprocess.DEVNULL,
                               check=True)
                hash_rate = size / 1e6 / (time.monotonic() - start)
                jm, cm = statistics.median(job), statistics.median(curl)
                print(f"{mib:>5} MiB {jm:>9.1f} {cm:>10.1f} {jm / cm:>6.2f} "
                      f"{job_rss / 1024:>9.1f} MiB {curl_rss / 1024:>10.1f} MiB"
                      f"   (SHA-256 alone, openssl dgst: {hash_rate:.0f} MB/s)", flush=True)
                clean(dest)
        finally:
            nginx.stop()
        print(f"(median of {a.rounds} alternating rounds; rates include process start, the "
              "descriptor fetch and, for the job, the final rename)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
