#!/usr/bin/env python3
"""Loopback servers for the network client tests.

  netserver.py start DIR   make test CAs and certificates (openssl: servers',
                           and code-signing ones: publisher and rival of the
                           trusted CA, stranger of the other), start an
                           HTTP server and two HTTPS servers on 127.0.0.1 (files
                           put into DIR/www are served as /files/NAME), a
                           blackhole listener, a listener that accepts and
                           never answers, and tinyproxy on 127.0.0.2 with
                           Basic authentication; write DIR/net.ini
  netserver.py stop DIR    end every process that start began (by its pid)
  netserver.py serve ...   one server (used by start)

Every server ends by itself after --lifetime seconds or --max-requests
requests, whichever comes first.
"""
import argparse
import email.utils
import http.server
import os
import select
import shutil
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

PROXY_USER = "nvuser"
PROXY_PASSWORD = "nv-Secret.42"
LIFETIME = 900
MAX_REQUESTS = 5000


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30  # an idle kept-alive connection ends its thread
    server_version = "NvTestServer/1.0"

    def log_message(self, fmt, *args):
        headers = getattr(self, "headers", None)
        wanted = headers.get("Range") if headers else None
        with open(self.server.request_log, "a", encoding="utf-8") as f:
            f.write("%s %s%s\n" % (self.command, self.path, " [%s]" % wanted if wanted else ""))

    def send_body(self, status, body, headers=(), length=True):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.server.count += 1
        url = urllib.parse.urlsplit(self.path)
        q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
        n = int(q.get("n", "0"))
        route = url.path
        if route == "/body":  # declared length
            self.send_body(200, bytes(i % 251 for i in range(n)))
        elif route == "/stream":  # no declared length: the end of the connection ends the body
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(bytes(i % 251 for i in range(n)))
            self.wfile.flush()
            self.close_connection = True
        elif route == "/chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            data = bytes(i % 251 for i in range(n))
            for i in range(0, len(data), 1000):
                part = data[i:i + 1000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
            self.wfile.write(b"0\r\n\r\n")
        elif route == "/broken":  # declares n bytes, sends half, closes
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.wfile.write(b"x" * (n // 2))
            self.wfile.flush()
            self.close_connection = True
        elif route == "/stall":  # declares n bytes, sends half, then stays silent without closing
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(b"x" * (n // 2))
            self.wfile.flush()
            hold(self.connection, float(q.get("hold", "120")))
            self.close_connection = True
        elif route == "/trickle":  # n bytes in parts of 1000, gap milliseconds apart
            gap = float(q.get("gap", "100")) / 1000.0
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            data = bytes(i % 251 for i in range(n))
            try:
                for i in range(0, n, 1000):
                    self.wfile.write(data[i:i + 1000])
                    self.wfile.flush()
                    time.sleep(gap)
            except OSError:
                self.close_connection = True
        elif route == "/empty":
            self.send_body(200, b"")
        elif route == "/status":
            self.send_body(int(q.get("code", "500")), b"status page")
        elif route == "/redirect":  # n more hops, alternating address forms, then the final body
            if n <= 0:
                self.send_body(200, b"final body")
            else:
                host = self.headers.get("Host", "")
                scheme = "https" if self.server.secure else "http"
                nxt = "/redirect?n=%d" % (n - 1)
                forms = [nxt, "%s://%s%s" % (scheme, host, nxt), "redirect?n=%d" % (n - 1)]
                codes = [302, 301, 303, 307]
                self.send_body(codes[n % 4], b"", [("Location", forms[n % 3])])
        elif route == "/setcookie":
            self.send_body(302, b"", [("Set-Cookie", "nvtoken=abc123; Path=/"), ("Location", "/showcookie")])
        elif route == "/showcookie":
            self.send_body(200, (self.headers.get("Cookie") or "").encode())
        elif route == "/headers":  # the request as received
            text = self.requestline + "\r\n" + str(self.headers)
            self.send_body(200, text.encode("utf-8"))
        elif route.startswith("/files/") or route.startswith("/slowfiles/"):
            # A file of the served folder (see serve_file); /slowfiles/ sends
            # it in 32 KiB parts 50 ms apart.
            slow = route.startswith("/slowfiles/")
            name = os.path.basename(urllib.parse.unquote(route[len("/slowfiles/" if slow else "/files/"):]))
            path = os.path.join(self.server.root or "", name)
            if self.server.root and name and os.path.isfile(path):
                self.serve_file(path, q, pace=0.05 if slow else float(q.get("pace", "0")) / 1000.0)
            else:
                self.send_body(404, b"no such file")
        elif route.startswith("/visit"):  # a notification address: the request log is what counts
            self.send_body(200, b"ok")
        elif route == "/text":
            self.send_body(200, "代理 ok".encode("utf-8") + b"\0tail")
        else:
            self.send_body(404, b"no such page")


    def serve_file(self, path, q, pace=0.0):
        """Sends the file from disk in parts, with its length, an ETag and its
        Last-Modified date, answering a Range request ("bytes=N-" or
        "bytes=N-M") with 206 unless If-Range names another version. Faults,
        by query: cut=A,B,.. ends the body of the k-th request of this address
        (path and query) once the file offset A, B, .. is reached; cutat=X
        ends every body at offset X; stall=1 holds the connection silent at a
        cut (hold=seconds, 60) instead of closing it; norange=1 ignores Range;
        novalidator=1 sends neither ETag nor Last-Modified; nolength=1 sends
        no Content-Length (the end of the connection ends the body); pace=ms
        waits between parts of 32 KiB."""
        st = os.stat(path)
        size = st.st_size
        etag = '"%x-%x"' % (size, st.st_mtime_ns)
        modified = email.utils.formatdate(st.st_mtime, usegmt=True)
        with self.server.lock:
            nth = self.server.requests_of.get(self.path, 0)
            self.server.requests_of[self.path] = nth + 1
        cuts = [int(c) for c in q.get("cut", "").split(",") if c]
        end = size
        if nth < len(cuts):
            end = min(size, cuts[nth])
        if "cutat" in q:
            end = min(size, int(q["cutat"]))
        start = 0
        status = 200
        wanted = self.headers.get("Range", "")
        if_range = self.headers.get("If-Range")
        if wanted.startswith("bytes=") and q.get("norange") != "1" and (if_range is None or if_range in (etag, modified)):
            first, _, last = wanted[6:].partition("-")
            start = int(first)
            if start >= size:
                self.send_body(416, b"", [("Content-Range", "bytes */%d" % size)])
                return
            status = 206
            if last:
                size_to = min(size, int(last) + 1)
                end = min(end, size_to)
            else:
                size_to = size
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        if q.get("novalidator") != "1":
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", modified)
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size_to - 1, size))
            self.send_header("Content-Length", str(size_to - start))
        elif q.get("nolength") == "1":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(size))
        self.end_headers()
        try:
            with open(path, "rb") as f:
                f.seek(start)
                at = start
                while at < end:
                    part = f.read(min(32768 if pace else 262144, end - at))
                    if not part:
                        break
                    self.wfile.write(part)
                    at += len(part)
                    if pace:
                        self.wfile.flush()
                        time.sleep(pace)
            self.wfile.flush()
        except OSError:
            self.close_connection = True
            return
        if end < (size_to if status == 206 else size):
            if q.get("stall") == "1":
                hold(self.connection, float(q.get("hold", "60")))
            self.close_connection = True


def hold(conn, seconds):
    """Keeps a connection open and silent until the peer closes it or seconds pass."""
    end = time.time() + seconds
    while time.time() < end:
        ready, _, _ = select.select([conn], [], [], 0.5)
        if ready:
            try:
                if not conn.recv(4096):
                    return
            except OSError:
                return


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(args):
    srv = Server((args.host, 0), Handler)
    srv.count = 0
    srv.secure = bool(args.cert)
    srv.request_log = args.log
    srv.root = args.root
    srv.lock = threading.Lock()
    srv.requests_of = {}  # address -> requests so far (the cut= faults)
    if args.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.cert, args.key)
        srv.socket = ctx.wrap_socket(srv.socket, server_side=True)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(srv.server_address[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    srv.timeout = 0.5
    deadline = time.time() + args.lifetime
    while time.time() < deadline and srv.count < args.max_requests:
        srv.handle_request()
    srv.server_close()


def blackhole(args):
    """A listener whose accept queue is full and never served: connects time out."""
    s = socket.socket()
    s.bind((args.host, 0))
    s.listen(0)
    fillers = []
    for _ in range(4):
        c = socket.socket()
        c.setblocking(False)
        try:
            c.connect(s.getsockname())
        except BlockingIOError:
            pass
        fillers.append(c)
    with open(args.port_file, "w") as f:
        f.write(str(s.getsockname()[1]))
    time.sleep(args.lifetime)


def silent(args):
    """A listener that accepts every connection and never answers on it."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((args.host, 0))
    s.listen(16)
    with open(args.port_file, "w") as f:
        f.write(str(s.getsockname()[1]))
    deadline = time.time() + args.lifetime
    while time.time() < deadline:
        s.settimeout(0.5)
        try:
            conn, _ = s.accept()
        except socket.timeout:
            continue
        threading.Thread(target=hold, args=(conn, 300), daemon=True).start()


def run(cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def make_certs(d):
    def ca(name):
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3",
             "-keyout", f"{d}/{name}.key", "-out", f"{d}/{name}.pem", "-subj", f"/CN=NvSetup {name}",
             "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
        run(["openssl", "x509", "-in", f"{d}/{name}.pem", "-outform", "DER", "-out", f"{d}/{name}.der"])

    def leaf(name, ca_name):
        ext = f"{d}/{name}.ext"
        with open(ext, "w") as f:
            f.write("subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n"
                    "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
        run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{d}/{name}.key",
             "-out", f"{d}/{name}.csr", "-subj", "/CN=localhost"])
        run(["openssl", "x509", "-req", "-in", f"{d}/{name}.csr", "-CA", f"{d}/{ca_name}.pem",
             "-CAkey", f"{d}/{ca_name}.key", "-CAcreateserial", "-days", "3", "-out", f"{d}/{name}.pem",
             "-extfile", ext])

    def signer(name, ca_name):
        """A code-signing certificate (PEM, with its key) issued by ca_name."""
        ext = f"{d}/{name}.ext"
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
        run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{d}/{name}.key",
             "-out", f"{d}/{name}.csr", "-subj", f"/CN=NvSetup {name}"])
        run(["openssl", "x509", "-req", "-in", f"{d}/{name}.csr", "-CA", f"{d}/{ca_name}.pem",
             "-CAkey", f"{d}/{ca_name}.key", "-CAcreateserial", "-days", "3", "-out", f"{d}/{name}.pem",
             "-extfile", ext])

    ca("test-ca")
    ca("other-ca")
    leaf("trusted", "test-ca")
    leaf("untrusted", "other-ca")
    signer("publisher", "test-ca")
    signer("rival", "test-ca")
    signer("stranger", "other-ca")


def spawn(d, name, cmd):
    p = subprocess.Popen(["timeout", str(LIFETIME + 30)] + cmd, stdin=subprocess.DEVNULL,
                         stdout=open(f"{d}/{name}.out", "w"), stderr=subprocess.STDOUT, start_new_session=True)
    with open(f"{d}/{name}.pid", "w") as f:
        f.write(str(p.pid))


def wait_file(path, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return open(path).read().strip()
        time.sleep(0.05)
    raise SystemExit("netserver: %s did not appear" % path)


def free_port(host):
    s = socket.socket()
    s.bind((host, 0))
    port = s.getsockname()[1]
    s.close()
    return port


def start(d):
    stop(d)
    d = os.path.abspath(d)
    if os.path.isdir(d):
        shutil.rmtree(d)
    os.makedirs(d)
    make_certs(d)
    me = os.path.abspath(__file__)
    os.makedirs(f"{d}/www")
    common = ["--lifetime", str(LIFETIME), "--max-requests", str(MAX_REQUESTS), "--log", f"{d}/requests.log",
              "--root", f"{d}/www"]
    spawn(d, "http", [sys.executable, me, "serve", "--host", "127.0.0.1", "--port-file", f"{d}/http.port"] + common)
    spawn(d, "https", [sys.executable, me, "serve", "--host", "127.0.0.1", "--port-file", f"{d}/https.port",
                       "--cert", f"{d}/trusted.pem", "--key", f"{d}/trusted.key"] + common)
    spawn(d, "https-untrusted", [sys.executable, me, "serve", "--host", "127.0.0.1",
                                 "--port-file", f"{d}/https-untrusted.port",
                                 "--cert", f"{d}/untrusted.pem", "--key", f"{d}/untrusted.key"] + common)
    spawn(d, "blackhole", [sys.executable, me, "blackhole", "--host", "127.0.0.1",
                           "--port-file", f"{d}/blackhole.port"] + common)
    spawn(d, "silent", [sys.executable, me, "silent", "--host", "127.0.0.1",
                        "--port-file", f"{d}/silent.port"] + common)
    proxy_port = free_port("127.0.0.2")
    os.chmod(d, 0o777)
    with open(f"{d}/tinyproxy.conf", "w") as f:
        f.write(f"""User nobody
Group nogroup
Port {proxy_port}
Listen 127.0.0.2
Timeout 60
LogFile "{d}/tinyproxy.log"
LogLevel Info
MaxClients 20
Allow 127.0.0.0/8
BasicAuth {PROXY_USER} {PROXY_PASSWORD}
ViaProxyName "tinyproxy"
""")
    open(f"{d}/tinyproxy.log", "w").close()
    os.chmod(f"{d}/tinyproxy.log", 0o666)
    spawn(d, "tinyproxy", ["tinyproxy", "-d", "-c", f"{d}/tinyproxy.conf"])
    ports = {k: wait_file(f"{d}/{k}.port") for k in ("http", "https", "https-untrusted", "blackhole", "silent")}
    end = time.time() + 20
    while True:
        try:
            socket.create_connection(("127.0.0.2", proxy_port), timeout=1).close()
            break
        except OSError:
            if time.time() > end:
                raise SystemExit("netserver: tinyproxy did not start (see %s/tinyproxy.out)" % d)
            time.sleep(0.1)
    with open(f"{d}/net.ini", "w", newline="\r\n") as f:
        for k, v in ports.items():
            f.write(f"{k}={v}\n")
        f.write(f"proxy=127.0.0.2\nproxyport={proxy_port}\nproxyuser={PROXY_USER}\nproxypassword={PROXY_PASSWORD}\n")
        f.write(f"ca={d}/test-ca.der\nwww={d}/www\ncerts={d}\n")
    print("netserver: started in", d)


def stop(d):
    if not os.path.isdir(d):
        return
    for name in os.listdir(d):
        if not name.endswith(".pid"):
            continue
        path = os.path.join(d, name)
        try:
            pid = int(open(path).read().strip())
            os.killpg(pid, signal.SIGTERM)  # the session of our own "timeout" child
        except (ValueError, ProcessLookupError, PermissionError):
            pass
        os.remove(path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("command", choices=["start", "stop", "serve", "blackhole", "silent"])
    ap.add_argument("dir", nargs="?")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port-file")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--log", default=os.devnull)
    ap.add_argument("--root", help="the folder that /files/NAME serves")
    ap.add_argument("--lifetime", type=float, default=LIFETIME)
    ap.add_argument("--max-requests", type=int, default=MAX_REQUESTS)
    args = ap.parse_args()
    if args.command == "start":
        try:
            start(args.dir)
        except BaseException:
            stop(args.dir)
            raise
    elif args.command == "stop":
        stop(args.dir)
    elif args.command == "serve":
        serve(args)
    elif args.command == "silent":
        silent(args)
    else:
        blackhole(args)


if __name__ == "__main__":
    main()
