#!/usr/bin/python3
"""A small origin server for the proxy tests, on an ephemeral loopback port.

Prints "PORT <n>" first, then "REQ <method> <path>" for every request it reads.
  /echo         answers the request body as its body; X-Echo carries method, path, headers
  /sha          answers the hex SHA-256 of the request body
  /bytes?mib=N  answers N MiB of a fixed pattern (Content-Length)
  /chunked?n=N  answers N chunks, "chunk 0\\n" ... (chunked)
  /events       server-sent events: "one", then "two" once /release was asked for
  /peer         answers the port the request's connection came from (shows reuse)
  /ws           WebSocket: echoes every text frame
"""
import base64, hashlib, json, socket, sys, threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlparse, parse_qs

release = threading.Event()
PATTERN = bytes(range(256)) * 4096  # 1 MiB


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                data += self.rfile.read(size)
                self.rfile.readline()
                if size == 0:
                    return data
        return self.rfile.read(int(self.headers.get("Content-Length", 0)))

    def answer(self, body, status=200, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def handle_any(self):
        url = urlparse(self.path)
        query = parse_qs(url.query)
        print("REQ", self.command, self.path, flush=True)
        if url.path == "/ws":
            return self.websocket()
        data = self.body()
        if url.path == "/echo":
            seen = {"method": self.command, "path": self.path, "headers": self.headers.items()}
            echo = base64.b64encode(json.dumps(seen).encode()).decode()
            self.answer(data, headers=[("X-Echo", echo), ("Content-Type", "application/octet-stream")])
        elif url.path == "/sha":
            self.answer(hashlib.sha256(data).hexdigest().encode())
        elif url.path == "/peer":
            self.answer(str(self.client_address[1]).encode())
        elif url.path == "/bytes":
            mib = int(query["mib"][0])
            self.send_response(200)
            self.send_header("Content-Length", str(mib << 20))
            self.end_headers()
            for _ in range(mib):
                self.wfile.write(PATTERN)
        elif url.path == "/chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(int(query["n"][0])):
                piece = f"chunk {i}\n".encode()
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif url.path == "/events":
            self.send_response(200)
            self.send_header("Content-Type", "text/event-stream")
            self.send_header("Cache-Control", "no-cache")
            self.end_headers()
            self.wfile.write(b"data: one\n\n")
            self.wfile.flush()
            release.wait(30)
            self.wfile.write(b"data: two\n\n")
            self.close_connection = True
        elif url.path == "/release":
            release.set()
            self.answer(b"released")
        else:
            self.answer(b"not here\n", 404)

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = handle_any

    def do_HEAD(self):
        print("REQ", self.command, self.path, flush=True)
        self.send_response(200)
        self.send_header("Content-Length", "1234")
        self.end_headers()

    def websocket(self):
        key = self.headers["Sec-WebSocket-Key"] + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
        self.send_response(101)
        self.send_header("Upgrade", "websocket")
        self.send_header("Connection", "Upgrade")
        self.send_header("Sec-WebSocket-Accept", base64.b64encode(hashlib.sha1(key.encode()).digest()).decode())
        self.end_headers()
        self.wfile.flush()
        while True:
            head = self.rfile.read(2)
            if len(head) < 2 or head[0] & 0x0F == 8:  # closed, or a close frame
                self.wfile.write(b"\x88\x00")
                self.close_connection = True
                return
            size = head[1] & 0x7F
            if size == 126:
                size = int.from_bytes(self.rfile.read(2), "big")
            mask = self.rfile.read(4)
            payload = bytes(b ^ mask[i % 4] for i, b in enumerate(self.rfile.read(size)))
            self.wfile.write(bytes([0x81, len(payload)]) + payload)  # short text frames only
            self.wfile.flush()


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
