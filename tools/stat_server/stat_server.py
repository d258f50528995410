#!/usr/bin/env python3
"""Local statistics service for tests (standard library only).

Every test gets its own statistics endpoint, a "session": a listener on a free
loopback port with its own answer and its own list of received points. The
sessions are made and read through one control listener.

Usage
-----
    stat_server.py [--control-port 0] [--ready-file FILE] [--pid-file FILE]
                   [--max-seconds 3600]

    --control-port N   port of the control listener on 127.0.0.1 (0: any free one)
    --ready-file FILE  written with the control port once it listens
    --pid-file FILE    receives the server's process id
    --max-seconds N    the server ends by itself after N seconds

Control requests (127.0.0.1:<control port>)
-------------------------------------------
    POST /sessions?answer=TEXT&status=N&hold=1&close=1
        Opens a session on a new free port and answers {"id": N, "port": N}.
        Every request to that port is recorded and then answered with
        status N (default 200) and the body TEXT (default {"error":0}).
        hold=1: the answer waits until the session is released (or 120 s).
        close=1: the connection is closed without any answer.
    GET  /sessions/ID/points    the recorded requests, a JSON array
    POST /sessions/ID/release   lets held requests answer
    POST /sessions/ID/close     closes the session's listener

Recorded request (one JSON object per request)
----------------------------------------------
    method, path, content_type, user_agent, body (the raw body as text),
    multi (the Base64 field as sent), v (the "v" field), json_text (the
    decoded record text), point (the record parsed as JSON, or null) and
    problem (why the body could not be decoded, or null).

A body is decoded as "multi=<Base64>&v=<version>" where the Base64 text has
"+" written as "%2B" and "/" as "%2F"; no other URL decoding is done, so a
client that sent "+" or "/" raw is seen in `body`.
"""

import argparse
import base64
import binascii
import json
import os
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HOLD_SECONDS = 120


def decode_body(body):
    """Returns (multi, v, json_text, point, problem) for a request body."""
    multi = v = json_text = point = None
    try:
        text = body.decode("ascii")
    except UnicodeDecodeError:
        return multi, v, json_text, point, "body is not ASCII"
    fields = {}
    for pair in text.split("&"):
        name, sep, value = pair.partition("=")
        if not sep:
            return multi, v, json_text, point, "field without '=': %r" % pair
        fields[name] = value
    multi = fields.get("multi")
    v = fields.get("v")
    if multi is None:
        return multi, v, json_text, point, "no multi field"
    standard = multi.replace("%2B", "+").replace("%2F", "/")
    try:
        raw = base64.b64decode(standard, validate=True)
    except (binascii.Error, ValueError) as error:
        return multi, v, json_text, point, "bad Base64: %s" % error
    try:
        json_text = raw.decode("utf-8")
    except UnicodeDecodeError:
        return multi, v, json_text, point, "record is not UTF-8"
    try:
        point = json.loads(json_text)
    except ValueError as error:
        return multi, v, json_text, point, "record is not JSON: %s" % error
    return multi, v, json_text, point, None


class Session:
    def __init__(self, answer, status, hold, close):
        self.answer = answer.encode("utf-8")
        self.status = status
        self.hold = hold
        self.close = close
        self.released = threading.Event()
        self.points = []
        self.lock = threading.Lock()
        self.server = ThreadingHTTPServer(("127.0.0.1", 0), self.make_handler())
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def make_handler(self):
        session = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def handle_any(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length > 0 else b""
                multi, v, json_text, point, problem = decode_body(body)
                record = {
                    "method": self.command,
                    "path": self.path,
                    "content_type": self.headers.get("Content-Type"),
                    "user_agent": self.headers.get("User-Agent"),
                    "body": body.decode("latin-1"),
                    "multi": multi,
                    "v": v,
                    "json_text": json_text,
                    "point": point,
                    "problem": problem,
                }
                with session.lock:
                    session.points.append(record)
                if session.hold:
                    session.released.wait(HOLD_SECONDS)
                if session.close:
                    self.close_connection = True
                    return
                self.send_response(session.status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(session.answer)))
                self.end_headers()
                self.wfile.write(session.answer)

            do_POST = handle_any
            do_GET = handle_any
            do_PUT = handle_any

        return Handler

    def stop(self):
        self.released.set()
        self.server.shutdown()
        self.server.server_close()


class Control:
    def __init__(self):
        self.sessions = {}
        self.lock = threading.Lock()

    def open(self, query):
        answer = query.get("answer", ['{"error":0}'])[0]
        status = int(query.get("status", ["200"])[0])
        hold = query.get("hold", ["0"])[0] == "1"
        close = query.get("close", ["0"])[0] == "1"
        session = Session(answer, status, hold, close)
        with self.lock:
            self.sessions[session.port] = session
        return {"id": session.port, "port": session.port}

    def find(self, ident):
        with self.lock:
            return self.sessions.get(ident)

    def close(self, ident):
        with self.lock:
            session = self.sessions.pop(ident, None)
        if session:
            session.stop()
        return session is not None


def make_control_handler(control):
    class Handler(BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def reply(self, status, payload):
            data = json.dumps(payload, ensure_ascii=False).encode("utf-8")
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def route(self):
            length = int(self.headers.get("Content-Length") or 0)
            if length:
                self.rfile.read(length)
            url = urllib.parse.urlsplit(self.path)
            parts = [p for p in url.path.split("/") if p]
            query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
            if parts == ["sessions"] and self.command == "POST":
                return self.reply(200, control.open(query))
            if len(parts) == 3 and parts[0] == "sessions" and parts[1].isdigit():
                session = control.find(int(parts[1]))
                if session is None:
                    return self.reply(404, {"error": "no such session"})
                if parts[2] == "points" and self.command == "GET":
                    with session.lock:
                        return self.reply(200, list(session.points))
                if parts[2] == "release" and self.command == "POST":
                    session.released.set()
                    return self.reply(200, {"released": True})
                if parts[2] == "close" and self.command == "POST":
                    return self.reply(200, {"closed": control.close(int(parts[1]))})
            return self.reply(404, {"error": "unknown request"})

        do_GET = route
        do_POST = route

    return Handler


def main():
    parser = argparse.ArgumentParser(description="Local statistics service for tests.")
    parser.add_argument("--control-port", type=int, default=0)
    parser.add_argument("--ready-file")
    parser.add_argument("--pid-file")
    parser.add_argument("--max-seconds", type=float, default=3600)
    args = parser.parse_args()

    control = Control()
    server = ThreadingHTTPServer(("127.0.0.1", args.control_port), make_control_handler(control))
    server.daemon_threads = True
    if args.pid_file:
        with open(args.pid_file, "w") as f:
            f.write(str(os.getpid()))
    if args.ready_file:
        temp = args.ready_file + ".tmp"
        with open(temp, "w") as f:
            f.write(str(server.server_address[1]))
        os.replace(temp, args.ready_file)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    deadline = time.monotonic() + args.max_seconds
    try:
        while time.monotonic() < deadline:
            time.sleep(0.5)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
