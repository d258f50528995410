#!/usr/bin/env python3
"""Fault-injecting HTTP/HTTPS file server for the downloader and pipeline tests.

Serves one folder over HTTP and HTTPS on loopback (threaded, standard library
only). The updater's downloader always connects to port 80 or 443, so that is
the default; any ports can be given.

Usage
-----
    test_server.py --root DIR [--bind ADDR]... [--http-port 80] [--https-port 443]
                   [--cert FILE --key FILE]
                   [--untrusted-cert FILE --untrusted-key FILE]
                   [--log FILE] [--ready-file FILE] [--pid-file FILE]

    --root DIR          folder whose files are served (GET and HEAD)
    --bind ADDR         address to listen on; repeatable (default 127.0.0.1,
                        plus ::1 when the host has it, so that "localhost"
                        works whichever way it resolves)
    --http-port N       plain HTTP port, 0 = none (default 80)
    --https-port N      HTTPS port, 0 = none (default 443; needs --cert/--key)
    --cert/--key        certificate chain and key served on HTTPS
    --untrusted-cert/--untrusted-key
                        second certificate, served instead while the control
                        switch "tls=untrusted" is on
    --log FILE          request log, one JSON object per line (default: none)
    --ready-file FILE   written once every listener is bound
    --pid-file FILE     receives the server's process id

Normal files
------------
GET /a/b.bin serves ROOT/a/b.bin with Content-Length. A "Range: bytes=N-" or
"bytes=N-M" header is honoured with 206 and Content-Range; a start at or past
the end answers 416. Missing files answer 404. Every response carries
"Connection: close" and ends its connection, so clients never reuse one:
each request is a new connection (and a new TLS handshake).

Faults, chosen per path
-----------------------
GET /fault/OPTIONS/a/b.bin serves ROOT/a/b.bin with the faults in OPTIONS, a
comma-separated list of name[=value]:

    status=N          answer status N with a short text body instead of the file
    stall-after=N     send the headers and N body bytes, then send nothing until
                      the client closes (or stall-ms passes), then close
    stall-ms=MS       length of a stall (default 120000)
    close-after=N     send the headers and N body bytes, then close the connection
    headers-delay=MS  wait MS milliseconds before sending the status line
    no-length         send no Content-Length; the body ends when the connection closes
    zero-length       Content-Length: 0 and no body
    ignore-range      answer 200 with the whole file even to a ranged request
    trickle=B:MS      send the body in pieces of B bytes, one every MS milliseconds
    corrupt           same length, but every byte at a file offset that is a
                      multiple of 4096 is inverted (ranged parts stay consistent)
    length=TEXT       send TEXT as the Content-Length value (a lie, a number
                      past 32 bits, or no number at all); the body is the
                      file's bytes as usual
    endless           after the body, send junk bytes until the client
                      closes (at most 1 GiB or 60 s, so the server stops by
                      itself)
    range-start=N     answer 206 with the part of the file from offset N and
                      a Content-Range that says so, whatever was asked for
    no-content-range  a 206 answer carries no Content-Range
    times=K           the faults apply to the first K requests of this exact path
                      only; later requests are served normally
    id=X              ignored; makes a path unique so that "times" counts start
                      fresh for every test run

Example: /fault/close-after=1000,times=1,id=r42/big.bin cuts the first request
after 1000 bytes and serves every later request (and its range) in full.

Asked as a proxy
----------------
A request in absolute form (GET http://host/path, as clients send it to a
proxy) answers 407 asking for Negotiate or NTLM logon, whatever it carries.

Control
-------
GET /_control?tls=untrusted   later HTTPS handshakes use the untrusted certificate
GET /_control?tls=trusted     back to the normal certificate (the default)
Both answer 200 "ok".

Request log
-----------
Every request appends one JSON line when its status is decided, before the body:
    {"seq": 7, "time": 1700000000.123, "scheme": "https", "client": "127.0.0.1:40000",
     "line": "GET /x.bin HTTP/1.1", "path": "/x.bin", "range": "bytes=1000-",
     "status": 206, "via": "1.1 host (tinyproxy/1.11.1)"}
"range" is null without a Range header, "via" (the header a proxy adds to a
request it forwards) without a Via header. A failed TLS handshake appends
    {"seq": 8, "time": ..., "scheme": "https", "event": "tls-error", "error": "..."}
"""

import argparse
import json
import os
import select
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK = 256 * 1024


class ServerState:
    """What all listeners share: the served folder, the log and the switches."""

    def __init__(self, root, log_path, trusted_ctx, untrusted_ctx):
        self.root = os.path.realpath(root)
        self.log_path = log_path
        self.trusted_ctx = trusted_ctx
        self.untrusted_ctx = untrusted_ctx
        self.use_untrusted = False
        self.lock = threading.Lock()
        self.seq = 0
        self.path_counts = {}

    def log(self, record):
        with self.lock:
            self.seq += 1
            record = dict(seq=self.seq, time=round(time.time(), 3), **record)
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(record) + "\n")

    def count_request(self, path):
        """Returns how many requests of `path` came before this one."""
        with self.lock:
            n = self.path_counts.get(path, 0)
            self.path_counts[path] = n + 1
            return n

    def tls_context(self):
        if self.use_untrusted and self.untrusted_ctx is not None:
            return self.untrusted_ctx
        return self.trusted_ctx


def parse_faults(text):
    faults = {}
    for item in text.split(","):
        if not item:
            continue
        name, _, value = item.partition("=")
        faults[name.strip()] = value.strip()
    return faults


def parse_range(header, size):
    """Returns (start, end) inclusive, None for no usable range, or "bad" for 416."""
    if not header:
        return None
    header = header.strip()
    if not header.startswith("bytes="):
        return None
    spec = header[len("bytes="):].split(",")[0].strip()
    first, _, last = spec.partition("-")
    try:
        if first == "":
            n = int(last)  # suffix range: the last n bytes
            if n <= 0:
                return "bad"
            return (max(0, size - n), size - 1)
        start = int(first)
        end = int(last) if last else size - 1
    except ValueError:
        return None
    if start >= size or end < start:
        return "bad"
    return (start, min(end, size - 1))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VeliskTestServer/1.0"

    # -- plumbing ---------------------------------------------------------

    @property
    def state(self):
        return self.server.state

    def log_message(self, format, *args):  # noqa: A002 - silence stderr lines
        pass

    def handle(self):
        if isinstance(self.connection, ssl.SSLSocket):
            try:
                self.connection.settimeout(15)
                self.connection.do_handshake()
                self.connection.settimeout(None)
            except (ssl.SSLError, OSError) as e:
                self.state.log(dict(scheme="https", event="tls-error",
                                    client=self.client_text(), error=str(e)))
                return
        try:
            super().handle()
        except (ConnectionError, ssl.SSLError, socket.timeout, OSError):
            pass

    def client_text(self):
        host, port = self.client_address[0], self.client_address[1]
        return f"[{host}]:{port}" if ":" in host else f"{host}:{port}"

    def record(self, status):
        self.state.log(dict(scheme=self.server.scheme, client=self.client_text(),
                            line=self.requestline, path=self.path,
                            range=self.headers.get("Range"), status=status,
                            via=self.headers.get("Via")))

    def send_text(self, status, text, headers=()):
        body = text.encode()
        self.close_connection = True
        self.record(status)
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    # -- requests -----------------------------------------------------------

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        if self.path.startswith("http://"):
            # Asked as a proxy: wants the user's logon and never accepts it.
            return self.send_text(407, "proxy logon required\n",
                                  [("Proxy-Authenticate", "Negotiate"), ("Proxy-Authenticate", "NTLM")])
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/_control":
            return self.control(url.query)
        path = url.path
        faults = {}
        if path.startswith("/fault/"):
            options, _, rest = path[len("/fault/"):].partition("/")
            faults = parse_faults(urllib.parse.unquote(options))
            path = "/" + rest
            if "times" in faults:
                if self.state.count_request(self.path) >= int(faults["times"]):
                    faults = {}
        if "headers-delay" in faults:
            time.sleep(int(faults["headers-delay"]) / 1000.0)
        if "status" in faults:
            return self.send_text(int(faults["status"]), "fault status\n")
        file_path = self.resolve(path)
        if file_path is None:
            return self.send_text(404, "not found\n")
        self.serve_file(file_path, faults)

    def control(self, query):
        params = urllib.parse.parse_qs(query)
        tls = params.get("tls", [None])[0]
        if tls not in ("trusted", "untrusted"):
            return self.send_text(400, "unknown control\n")
        self.state.use_untrusted = tls == "untrusted"
        self.send_text(200, "ok\n")

    def resolve(self, path):
        relative = urllib.parse.unquote(path).lstrip("/")
        full = os.path.realpath(os.path.join(self.state.root, relative))
        if full != self.state.root and not full.startswith(self.state.root + os.sep):
            return None
        return full if os.path.isfile(full) else None

    def serve_file(self, file_path, faults):
        self.close_connection = True
        size = os.path.getsize(file_path)
        wanted = None if "ignore-range" in faults else parse_range(self.headers.get("Range"), size)
        if wanted == "bad":
            self.record(416)
            self.send_response(416)
            self.send_header("Connection", "close")
            self.send_header("Content-Range", f"bytes */{size}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        start, end, status = 0, size - 1, 200
        if wanted is not None:
            start, end, status = wanted[0], wanted[1], 206
        if "range-start" in faults:
            start, end, status = min(int(faults["range-start"]), size - 1), size - 1, 206
        length = end - start + 1
        if "zero-length" in faults:
            length = 0

        self.record(status)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if status == 206 and "no-content-range" not in faults:
            self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
        if "length" in faults:
            self.send_header("Content-Length", faults["length"])
        elif "no-length" not in faults:
            self.send_header("Content-Length", str(length))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()
        if self.command == "HEAD" or length == 0:
            return

        limit = length
        for cut in ("stall-after", "close-after"):
            if cut in faults:
                limit = min(limit, int(faults[cut]))
        sent = self.send_body(file_path, start, limit, faults)
        if sent < length and "stall-after" in faults:
            self.stall(int(faults.get("stall-ms", "120000")))
        if "endless" in faults:
            self.send_junk()

    def send_junk(self, limit=1 << 30, seconds=60):
        """Sends junk until the client goes away, `limit` bytes or `seconds` pass."""
        junk = b"\x5a" * CHUNK
        end = time.monotonic() + seconds
        sent = 0
        try:
            while sent < limit and time.monotonic() < end:
                self.wfile.write(junk)
                sent += len(junk)
        except (OSError, ssl.SSLError):
            pass

    def send_body(self, file_path, start, count, faults):
        piece, pause = CHUNK, 0.0
        if "trickle" in faults:
            b, _, ms = faults["trickle"].partition(":")
            piece, pause = max(1, int(b)), int(ms or "0") / 1000.0
        corrupt = "corrupt" in faults
        plain_fast = not corrupt and pause == 0 and not isinstance(self.connection, ssl.SSLSocket)
        sent = 0
        with open(file_path, "rb") as f:
            if plain_fast:
                return self.connection.sendfile(f, start, count)
            f.seek(start)
            while sent < count:
                data = f.read(min(piece, count - sent))
                if not data:
                    break
                if corrupt:
                    data = corrupt_bytes(data, start + sent)
                self.wfile.write(data)
                sent += len(data)
                if pause:
                    self.wfile.flush()
                    time.sleep(pause)
        return sent

    def stall(self, ms):
        """Sends nothing until the client goes away or `ms` pass."""
        self.wfile.flush()
        end = time.monotonic() + ms / 1000.0
        while time.monotonic() < end:
            readable, _, _ = select.select([self.connection], [], [], 0.2)
            if readable:
                try:
                    if not self.connection.recv(4096):
                        return
                except (OSError, ssl.SSLError):
                    return


def corrupt_bytes(data, offset):
    out = bytearray(data)
    first = (-offset) % 4096
    for i in range(first, len(out), 4096):
        out[i] ^= 0xFF
    return bytes(out)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, family, scheme, state):
        self.address_family = family
        self.scheme = scheme
        self.state = state
        super().__init__(address, Handler)

    def server_bind(self):
        if self.address_family == socket.AF_INET6:
            self.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        super().server_bind()

    def get_request(self):
        sock, addr = super().get_request()
        if self.scheme == "https":
            # The handshake runs in the handler's thread, so a slow or failing
            # client never holds up the accepting loop.
            sock = self.state.tls_context().wrap_socket(
                sock, server_side=True, do_handshake_on_connect=False)
        return sock, addr


def make_context(cert, key):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    return ctx


def ipv6_loopback_available():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--bind", action="append")
    parser.add_argument("--http-port", type=int, default=80)
    parser.add_argument("--https-port", type=int, default=443)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--untrusted-cert")
    parser.add_argument("--untrusted-key")
    parser.add_argument("--log")
    parser.add_argument("--ready-file")
    parser.add_argument("--pid-file")
    args = parser.parse_args(argv)

    trusted = make_context(args.cert, args.key) if args.cert else None
    untrusted = None
    if args.untrusted_cert:
        untrusted = make_context(args.untrusted_cert, args.untrusted_key)
    state = ServerState(args.root, args.log, trusted, untrusted)

    binds = args.bind
    if not binds:
        binds = ["127.0.0.1"] + (["::1"] if ipv6_loopback_available() else [])
    listeners = []
    for addr in binds:
        family = socket.AF_INET6 if ":" in addr else socket.AF_INET
        if args.http_port:
            listeners.append(Server((addr, args.http_port), family, "http", state))
        if args.https_port and trusted is not None:
            listeners.append(Server((addr, args.https_port), family, "https", state))
    if not listeners:
        parser.error("nothing to serve: no port or no certificate")

    if args.pid_file:
        with open(args.pid_file, "w") as f:
            f.write(f"{os.getpid()}\n")
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in listeners]
    for t in threads:
        t.start()
    if args.ready_file:
        with open(args.ready_file, "w") as f:
            f.write(" ".join(f"{s.scheme}://{s.server_address[0]}:{s.server_address[1]}"
                             for s in listeners) + "\n")
    try:
        for t in threads:
            t.join()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
