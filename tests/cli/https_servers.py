"""Local HTTPS servers for the download tests, on loopback only.

TestCA makes a certificate authority and a server certificate for
"localhost" with openssl at test time. Nginx serves a directory with that
certificate (the normal path); FaultServer is a small scriptable server for
what a good server never does (cut connections, ignore ranges, trickle).
Under wine the CA is trusted through the prefix's per-user root store for the
duration of the tests (wine_trust), since WinHTTP there trusts what wine's
crypt32 trusts.
"""
import contextlib
import hashlib
import http.server
import os
import shutil
import socket
import ssl
import struct
import subprocess
import threading
import time

CHUNK = 64 * 1024


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class TestCA:
    """A throw-away CA, a server certificate it signed, and a rogue one it did not."""

    NAMES = ("localhost", "regional.localhost")

    def __init__(self, directory):
        self.dir = directory
        os.makedirs(directory, exist_ok=True)
        ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
        _openssl("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
                 "-subj", "/CN=Stickwright Test CA",
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=directory)
        _openssl("req", *ec, "-keyout", "server.key", "-out", "server.csr",
                 "-subj", "/CN=localhost", cwd=directory)
        with open(os.path.join(directory, "server.ext"), "w") as f:
            f.write("subjectAltName=" + ",".join("DNS:" + n for n in self.NAMES) + "\n")
            f.write("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                    "keyUsage=critical,digitalSignature\n")
        _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                 "-CAcreateserial", "-out", "server.pem", "-days", "2",
                 "-extfile", "server.ext", cwd=directory)
        # Same name, but signed by nobody we trust.
        _openssl("req", "-x509", *ec, "-keyout", "rogue.key", "-out", "rogue.pem", "-days", "2",
                 "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                 cwd=directory)
        self.ca_pem = os.path.join(directory, "ca.pem")
        self.cert = os.path.join(directory, "server.pem")
        self.key = os.path.join(directory, "server.key")
        self.rogue_cert = os.path.join(directory, "rogue.pem")
        self.rogue_key = os.path.join(directory, "rogue.key")

    def ca_der(self):
        with open(self.ca_pem) as f:
            return ssl.PEM_cert_to_DER_cert(f.read())


@contextlib.contextmanager
def wine_trust(ca):
    """Trusts the CA in the wine prefix (per-user root store) until the block ends."""
    der = ca.ca_der()
    thumb = hashlib.sha1(der).hexdigest().upper()
    key = "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumb
    # A serialized certificate store element: property 32 (the encoded certificate).
    blob = struct.pack("<III", 32, 1, len(der)) + der
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY",
                    "/d", blob.hex(), "/f"], check=True, **quiet)
    try:
        yield
    finally:
        subprocess.run(["wine", "reg", "delete", key, "/f"], check=False, **quiet)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc, timeout=60.0):
    """True once something listens on `port`; False when `proc` ended first
    (the port was taken). The time-out only guards against a hang."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5):
                return True
        except OSError:
            if proc.poll() is not None:
                return False
            time.sleep(0.02)
    return False


class Nginx:
    """Debian's nginx serving `root` over HTTPS on a free loopback port."""

    def __init__(self, root, cert, key, workdir):
        self.root, self.cert, self.key, self.workdir = root, cert, key, workdir
        self.proc = None
        self.port = None

    def start(self):
        binary = shutil.which("nginx") or "/usr/sbin/nginx"
        os.makedirs(os.path.join(self.workdir, "tmp"), exist_ok=True)
        for _ in range(5):
            self.port = free_port()
            conf = os.path.join(self.workdir, "nginx.conf")
            w = self.workdir
            with open(conf, "w") as f:
                f.write(f"""daemon off;
master_process off;
worker_processes 1;
pid {w}/nginx.pid;
error_log {w}/error.log warn;
events {{ worker_connections 256; }}
http {{
    access_log off;
    client_body_temp_path {w}/tmp/body;
    proxy_temp_path {w}/tmp/proxy;
    fastcgi_temp_path {w}/tmp/fastcgi;
    uwsgi_temp_path {w}/tmp/uwsgi;
    scgi_temp_path {w}/tmp/scgi;
    default_type application/octet-stream;
    server {{
        listen 127.0.0.1:{self.port} ssl;
        server_name localhost;
        ssl_certificate {self.cert};
        ssl_certificate_key {self.key};
        ssl_buffer_size 16k;
        output_buffers 2 512k;
        root {self.root};
    }}
}}
""")
            self.proc = subprocess.Popen([binary, "-p", w, "-c", conf],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if wait_for_port(self.port, self.proc):
                return self
            self.stop()
        raise RuntimeError("nginx did not start; see " + os.path.join(self.workdir, "error.log"))

    def stop(self):
        if self.proc is not None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self.proc = None

    def url(self, path):
        return f"https://localhost:{self.port}/{path.lstrip('/')}"


class FaultServer:
    """Serves files from memory under behaviour prefixes:

    /plain/NAME          ranges honoured, like a good server
    /cut/K/NAME          the first K requests are cut after 64 KiB of body
    /norange/NAME        ranges ignored: always 200 with the whole file
    /norange-cut/NAME    ranges ignored and every answer cut after 64 KiB
    /trickle/NAME        ranges honoured, 4 KiB every 100 ms
    /slowtail/NAME       ranges honoured; the file's first MiB at full speed, then 64 KiB
                         every 100 ms (a stop after the first MiB lands in the slow part)
    The slow ones leave a client that stops early seconds to notice its stop, even on a
    busy machine.
    /status/CODE         an empty answer with that status (and a Location)
    /hang/NAME           the request is read and never answered
    /stall/NAME          ranges honoured; the first 64 KiB of the body, then nothing
    /endless/NAME        200 without a length, and a body that never ends
    /huge/NAME           200 announcing 20 GiB, and a body that never ends
    Every request's path and headers are recorded in `requests`. Servers that
    fall silent stay so until stop().
    """

    def __init__(self, cert, key):
        self.files = {}
        self.requests = []
        self.counts = {}
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                with server.lock:
                    server.requests.append((self.path, dict(self.headers)))
                    count = server.counts.get(self.path, 0)
                    server.counts[self.path] = count + 1
                parts = self.path.lstrip("/").split("/")
                try:
                    self.dispatch(parts, count)
                except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
                    pass

            def endless(self, length=None):
                self.send_response(200)
                if length is None:
                    self.send_header("Connection", "close")  # the body ends with the connection
                else:
                    self.send_header("Content-Length", str(length))
                self.end_headers()
                self.close_connection = True
                block = b"\0" * CHUNK
                while not server.stopping.is_set():
                    self.wfile.write(block)

            def dispatch(self, parts, count):
                kind = parts[0]
                if kind == "hang":
                    server.stopping.wait()
                    return
                if kind in ("endless", "huge"):
                    self.endless(None if kind == "endless" else 20 * 1024 ** 3)
                    return
                if kind == "status":
                    self.send_response(int(parts[1]))
                    self.send_header("Location", "https://localhost/elsewhere")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                if kind == "cut":
                    cut_first, name = int(parts[1]), "/".join(parts[2:])
                else:
                    cut_first, name = 0, "/".join(parts[1:])
                data = server.files.get(name)
                if data is None:
                    self.send_response(404)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                honour_range = kind in ("plain", "cut", "trickle", "slowtail", "stall")
                start = 0
                header = self.headers.get("Range")
                if honour_range and header and header.startswith("bytes=") and header.endswith("-"):
                    start = int(header[6:-1])
                    if start >= len(data):
                        self.send_response(416)
                        self.send_header("Content-Range", f"bytes */{len(data)}")
                        self.send_header("Content-Length", "0")
                        self.end_headers()
                        return
                    self.send_response(206)
                    self.send_header("Content-Range", f"bytes {start}-{len(data) - 1}/{len(data)}")
                else:
                    self.send_response(200)
                body = data[start:]
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                cut = (kind == "cut" and count < cut_first) or kind == "norange-cut"
                if cut:
                    self.wfile.write(body[:CHUNK])
                    self.wfile.flush()
                    # Drop the connection without TLS close_notify, as a failing network does.
                    self.connection.shutdown(socket.SHUT_RDWR)
                    self.close_connection = True
                    return
                if kind == "stall":
                    self.wfile.write(body[:CHUNK])
                    self.wfile.flush()
                    server.stopping.wait()
                    return
                if kind == "trickle":
                    for i in range(0, len(body), 4096):
                        self.wfile.write(body[i:i + 4096])
                        self.wfile.flush()
                        time.sleep(0.1)
                    return
                if kind == "slowtail":
                    fast = max(0, 1024 * 1024 - start)
                    self.wfile.write(body[:fast])
                    for i in range(fast, len(body), CHUNK):
                        self.wfile.flush()
                        time.sleep(0.1)
                        self.wfile.write(body[i:i + CHUNK])
                    return
                self.wfile.write(body)

        class Server(http.server.ThreadingHTTPServer):
            daemon_threads = True

        self.httpd = Server(("127.0.0.1", 0), Handler)
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(cert, key)
        self.httpd.socket = ctx.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        self.stopping.set()
        self.httpd.shutdown()
        self.httpd.server_close()

    def url(self, path):
        return f"https://localhost:{self.port}/{path.lstrip('/')}"

    def ranges(self, path):
        with self.lock:
            return [h.get("Range") for p, h in self.requests if p == path]


class SilentServer:
    """Accepts TCP connections on loopback and never sends a byte: a client
    waits in its TLS handshake. `accepted` is set at the first connection."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.accepted = threading.Event()
        self.connections = []
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.connections.append(conn)
            self.accepted.set()

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        self.sock.close()
        for conn in self.connections:
            conn.close()

    def url(self, path):
        return f"https://localhost:{self.port}/{path.lstrip('/')}"
