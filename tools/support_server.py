#!/usr/bin/env python3
"""The support company's web server, as the program meets it, for the tests and the demo.

    support_server.py --root DIR [--host 127.0.0.1] [--port 18080] [--users FILE]
                      [--log FILE] [--faults FILE]

Serves DIR/VarnekITApp/<name> (the version files and the packages), the start page, the home
page and the login page. Prints "ready <port>" once it listens (--port 0 picks a free port) and
stops on SIGTERM or SIGINT. Every request is appended to --log as one JSON line (method, path,
query, the Connection and User-Agent headers, status, and the fault or login verdict if any).

The users file is JSON {"user name": "password", ...}. A login carries the user name
percent-encoded as UTF-8 and Password = SHA-256 (64 lowercase hex digits) of the password as
typed followed by the salt below, one byte per UTF-16 code unit (its low byte).

Fault modes are kept per path in a table, read from --faults FILE at start and replaced or read
at run time through PUT/GET /_faults (those requests are not logged). See FAULT_MODES.
"""

import argparse
import hashlib
import hmac
import html
import json
import os
import re
import signal
import socket
import struct
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SALT = "8OurOddPepper42"
APP_PREFIX = "/VarnekITApp/"
FILE_NAME = re.compile(r"^[A-Za-z0-9_][A-Za-z0-9_. -]*$")
DIGEST = re.compile(r"^[0-9a-f]{64}$")

# What a fault entry can ask for. An entry is {"mode": NAME, ...parameters}; "times": N applies
# it to the next N requests of that path only (default: every request).
FAULT_MODES = {
    "status": "answer with status 'code' (default 500) and a short page",
    "404": "answer 404 Not Found",
    "500": "answer 500 Internal Server Error",
    "reset": "send the headers and 'bytes' of the body (default half), then reset the connection",
    "stall": "send the headers and 'bytes' of the body (default half), then wait 'seconds' "
    "(default 60) and close",
    "stall_headers": "wait 'seconds' (default 60) before answering at all, then close",
    "short": "announce the full Content-Length, send 'bytes' of the body (default half), close",
    "empty": "answer 200 with an empty body (Content-Length: 0)",
    "chunked": "send the body with Transfer-Encoding: chunked in chunks of 'chunk' bytes "
    "(default 1024)",
    "oversize": "send the body padded with 'fill' bytes (default '0') to 'size' bytes "
    "(default 16 MiB), with the matching Content-Length",
}


def password_digest(password):
    """SHA-256 of password + salt, taking the low byte of each UTF-16 code unit."""
    units = (password + SALT).encode("utf-16-le", "surrogatepass")
    return hashlib.sha256(bytes(units[0::2])).hexdigest()


def page(title, body):
    return (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>{0}</title></head>\n"
        "<body><h1>{0}</h1>\n{1}\n</body></html>\n".format(html.escape(title), body)
    ).encode("utf-8")


class Faults:
    """The fault table: path -> entry, with the counters of entries limited by 'times'."""

    def __init__(self, table=None):
        self._lock = threading.Lock()
        self._table = {}
        self.replace(table or {})

    @staticmethod
    def check(table):
        if not isinstance(table, dict):
            raise ValueError("the fault table is a JSON object keyed by path")
        for path, entry in table.items():
            if isinstance(entry, str):
                entry = {"mode": entry}
            if not isinstance(entry, dict) or entry.get("mode") not in FAULT_MODES:
                raise ValueError("unknown fault for %s: %r" % (path, entry))
            table[path] = dict(entry)
        return table

    def replace(self, table):
        table = self.check(dict(table))
        with self._lock:
            self._table = table

    def snapshot(self):
        with self._lock:
            return json.loads(json.dumps(self._table))

    def take(self, path):
        """The fault for this request of the path, or None."""
        with self._lock:
            entry = self._table.get(path)
            if entry is None:
                return None
            if "times" in entry:
                if entry["times"] <= 0:
                    return None
                entry["times"] -= 1
            return dict(entry)


class SupportServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, root, users, log_path, faults):
        super().__init__(address, Handler)
        self.root = os.path.realpath(root)
        self.users = users
        self.log_path = log_path
        self.log_lock = threading.Lock()
        self.faults = faults
        self.stopping = threading.Event()

    def log_request_line(self, record):
        if not self.log_path:
            return
        line = json.dumps(record, ensure_ascii=False) + "\n"
        with self.log_lock:
            with open(self.log_path, "a", encoding="utf-8") as f:
                f.write(line)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VarnekSupport/1.0"

    def log_message(self, format, *args):
        pass  # the JSON log says it all

    # --- routing ---------------------------------------------------------------------------

    def do_GET(self):
        self.handle_request(send_body=True)

    def do_HEAD(self):
        self.handle_request(send_body=False)

    def do_PUT(self):
        if self.path_only() != "/_faults":
            return self.handle_request(send_body=True)
        self.send_body = True
        length = int(self.headers.get("Content-Length") or 0)
        try:
            self.server.faults.replace(json.loads(self.rfile.read(length) or b"{}"))
        except ValueError as e:
            return self.reply(400, page("Bad fault table", html.escape(str(e))), log=False)
        self.reply(200, json.dumps(self.server.faults.snapshot()).encode(), "application/json",
                   log=False)

    def do_POST(self):
        self.handle_request(send_body=True)

    def path_only(self):
        return urllib.parse.urlsplit(self.path).path

    def handle_request(self, send_body):
        self.send_body = send_body
        split = urllib.parse.urlsplit(self.path)
        path, query = split.path, split.query
        self.record = {"method": self.command, "path": path, "query": query,
                       "connection": self.headers.get("Connection", ""),
                       "user_agent": self.headers.get("User-Agent", "")}
        if path == "/_faults" and self.command == "GET":
            return self.reply(200, json.dumps(self.server.faults.snapshot()).encode(),
                              "application/json", log=False)
        if self.command not in ("GET", "HEAD"):
            return self.reply(405, page("Method not allowed", ""), extra={"Allow": "GET, HEAD"})
        if path in ("/", "/index.html"):
            return self.reply(200, self.start_page())
        if path == "/home.html":
            return self.reply(200, self.home_page())
        if path == "/AppLogin.asp":
            return self.login(query)
        if path.startswith(APP_PREFIX):
            return self.app_file(path[len(APP_PREFIX):])
        self.reply(404, page("Not found", "<p>No such page.</p>"))

    # --- pages -----------------------------------------------------------------------------

    def start_page(self):
        return page("Varnek Support System",
                    "<p>Welcome to the Varnek Support System.</p>\n"
                    "<p><a href=\"/home.html\">Varnek home page</a></p>")

    def home_page(self):
        return page("Varnek", "<p>Varnek - IT support for your business.</p>")

    def app_file(self, name):
        try:
            name = urllib.parse.unquote(name, errors="strict")
        except UnicodeDecodeError:
            name = ""
        if not FILE_NAME.match(name) or ".." in name:
            return self.reply(404, page("Not found", "<p>No such file.</p>"))
        folder = os.path.join(self.server.root, "VarnekITApp")
        full = os.path.realpath(os.path.join(folder, name))
        if os.path.dirname(full) != os.path.realpath(folder) or not os.path.isfile(full):
            return self.reply(404, page("Not found", "<p>No such file.</p>"))
        with open(full, "rb") as f:
            body = f.read()
        kind = "text/plain" if name.lower().endswith(".txt") else "application/octet-stream"
        self.reply(200, body, kind)

    def login(self, query):
        user, reason = None, None
        try:
            params = urllib.parse.parse_qs(query, keep_blank_values=True, strict_parsing=True,
                                           encoding="utf-8", errors="strict")
        except (ValueError, UnicodeDecodeError):
            params = None
        if (params is None or sorted(params) != ["Password", "Username"]
                or any(len(v) != 1 for v in params.values())):
            reason = "malformed request"
        else:
            user, digest = params["Username"][0], params["Password"][0]
            password = self.server.users.get(user)
            if not DIGEST.match(digest):
                reason = "malformed request"
            elif not isinstance(password, str):
                reason = "unknown user"
            elif not hmac.compare_digest(password_digest(password), digest):
                reason = "wrong password"
        if reason is None:
            verdict = "Login OK: " + user
            header = "OK"
        else:
            verdict = "Login failed: " + reason
            header = "failed; " + reason
        body = page("Varnek Support System", "<p id=\"result\">%s</p>" % html.escape(verdict))
        self.record["login"] = verdict
        self.reply(200, body, extra={"X-Varnek-Login": header})

    # --- answering, with the path's fault if it has one ------------------------------------

    def reply(self, status, body, kind="text/html; charset=utf-8", extra=None, log=True):
        fault = self.server.faults.take(self.record["path"]) if log else None
        mode = fault["mode"] if fault else None
        if mode in ("404", "500", "status"):
            status = int(fault.get("code", 500)) if mode == "status" else int(mode)
            body, kind = page("Error %d" % status, ""), "text/html; charset=utf-8"
        elif mode == "empty":
            body = b""
        if log:
            self.record["status"] = status
            if mode:
                self.record["fault"] = mode
            self.server.log_request_line(self.record)

        if mode == "stall_headers":
            self.server.stopping.wait(float(fault.get("seconds", 60)))
            self.close_connection = True
            return
        cut = int(fault.get("bytes", len(body) // 2)) if fault else len(body)
        self.send_response(status)
        self.send_header("Content-Type", kind)
        for key, value in (extra or {}).items():
            self.send_header(key, value)
        if mode == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif mode == "oversize":
            size = max(int(fault.get("size", 16 << 20)), len(body))
            self.send_header("Content-Length", str(size))
        else:
            self.send_header("Content-Length", str(len(body)))
        # A client that asks for one request per connection gets it, said as a server says it.
        if mode in ("reset", "stall", "short") or \
                self.headers.get("Connection", "").lower() == "close":
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if not self.send_body:
            return
        try:
            if mode == "chunked":
                step = max(1, int(fault.get("chunk", 1024)))
                for i in range(0, len(body), step):
                    part = body[i:i + step]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
                self.wfile.write(b"0\r\n\r\n")
            elif mode == "oversize":
                self.wfile.write(body)
                fill = (str(fault.get("fill", "0")).encode("latin-1") or b"0") * 65536
                left = size - len(body)
                while left > 0:
                    self.wfile.write(fill[:left])
                    left -= min(left, len(fill))
            elif mode in ("reset", "stall", "short"):
                self.wfile.write(body[:cut])
                self.wfile.flush()
                if mode == "stall":
                    self.server.stopping.wait(float(fault.get("seconds", 60)))
                elif mode == "reset":
                    # Closing at once with a zero linger time sends RST instead of FIN.
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                               struct.pack("ii", 1, 0))
                    os.close(self.connection.detach())
            else:
                self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True


def main(argv=None):
    parser = argparse.ArgumentParser(description="The support web server for tests and the demo.")
    parser.add_argument("--root", required=True, help="folder holding VarnekITApp/")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=18080, help="0 picks a free port")
    parser.add_argument("--users", help="JSON file {\"user name\": \"password\"}")
    parser.add_argument("--log", help="file to append one JSON line per request to")
    parser.add_argument("--faults", help="JSON file {\"/path\": {\"mode\": ...}}")
    args = parser.parse_args(argv)

    users = {}
    if args.users:
        with open(args.users, encoding="utf-8") as f:
            users = json.load(f)
    faults = Faults()
    if args.faults:
        with open(args.faults, encoding="utf-8") as f:
            faults.replace(json.load(f))

    server = SupportServer((args.host, args.port), args.root, users, args.log, faults)

    def stop(signum, frame):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("ready %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
