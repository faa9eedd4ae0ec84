#!/usr/bin/python3
# A small origin server for the proxy tests, on an ephemeral loopback port; prints "PORT <n>".
#   /echo         answers the request body as its body; X-Echo carries method, path, headers
#   /bytes?mib=N  answers N MiB of a fixed pattern (Content-Length)
#   /chunked?n=N  answers N chunks, "chunk 0\n" ... (chunked)
#   /events       server-sent events: "one", then "two" once /release was asked for (once each)
#   HEAD          answers Content-Length: 1234 and no body
import base64, json, threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlparse, parse_qs

release = threading.Event()
PATTERN = bytes(range(256)) * 4096  # 1 MiB


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    log_message = lambda *args: None

    def body(self):
        if self.headers.get("Transfer-Encoding", "").lower() != "chunked":
            return self.rfile.read(int(self.headers.get("Content-Length", 0)))
        data = b""
        while size := int(self.rfile.readline().split(b";")[0], 16):
            data += self.rfile.read(size + 2)[:-2]  # and the chunk's CRLF
        self.rfile.readline()
        return data

    def head(self, status=200, *headers):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()

    def answer(self, body, status=200, *headers):
        self.head(status, ("Content-Length", str(len(body))), *headers)
        self.wfile.write(body)

    def handle_any(self):
        url = urlparse(self.path)
        data = self.body()
        if url.path == "/echo":
            seen = {"method": self.command, "path": self.path, "headers": self.headers.items()}
            echo = base64.b64encode(json.dumps(seen).encode()).decode()
            self.answer(data, 200, ("X-Echo", echo), ("Content-Type", "application/octet-stream"))
        elif url.path == "/bytes":
            self.answer(PATTERN * int(parse_qs(url.query)["mib"][0]))
        elif url.path == "/chunked":
            self.head(200, ("Transfer-Encoding", "chunked"))
            chunks = (b"8\r\nchunk %d\n\r\n" % i for i in range(int(parse_qs(url.query)["n"][0])))
            self.wfile.write(b"".join(chunks) + b"0\r\n\r\n")
        elif url.path == "/events":
            self.head(200, ("Content-Type", "text/event-stream"), ("Cache-Control", "no-cache"))
            self.wfile.write(b"data: one\n\n")
            release.wait(30)
            release.clear()
            self.wfile.write(b"data: two\n\n")
            self.close_connection = True
        elif url.path == "/release":
            release.set()
            self.answer(b"released")
        else:
            self.answer(b"not here\n", 404)

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = handle_any

    def do_HEAD(self):
        self.head(200, ("Content-Length", "1234"))


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
