#!/usr/bin/python3
# A stand-in of the tunnel service's account API (v4: {success, errors, messages, result}) on an
# ephemeral loopback port; prints "PORT <n>", then "<METHOD> <path>" for every call it answers,
# so a test can count them. The signed-in zone is example.com. Its first argument is a mode:
#   ok        every call succeeds
#   taken     a route to a host no tunnel of ours holds fails (another record has it), unless
#             overwrite_existing asks to take it over
#   outside   as the real API does, a host outside the zone is read as a name inside it:
#             dev.other.org is routed as dev.other.org.example.com
#   expired   every call is refused: the certificate's token is no longer valid
import json, sys, uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

mode = sys.argv[1] if len(sys.argv) > 1 else "ok"
zone, tunnels, records = "example.com", {}, {}


class Handler(BaseHTTPRequestHandler):
    log_message = lambda *args: None

    def answer(self, status, result=None, errors=()):
        body = json.dumps({"success": not errors, "result": result, "messages": [],
                           "errors": [{"code": c, "message": m} for c, m in errors]}, indent=2)
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body.encode())

    def handle_call(self):
        print(self.command, self.path, flush=True)
        body = json.loads(self.rfile.read(int(self.headers.get("Content-Length", 0))) or "{}")
        path = self.path.split("?")[0].split("/")  # ['', accounts, A, cfd_tunnel, ID, token]
        if mode == "expired":
            return self.answer(403, errors=[(10000, "Authentication error")])
        tunnel = tunnels.get(path[4]) if len(path) > 4 else None
        if self.command == "POST":
            if any(t["name"] == body["name"] for t in tunnels.values()):
                return self.answer(409, errors=[(1013, "You already have a tunnel with this name.")])
            tunnel = {"id": str(uuid.uuid4()), "name": body["name"], "connections": [],
                      "created_at": "2026-12-07T15:00:00Z", "deleted_at": None}
            tunnels[tunnel["id"]] = tunnel
            return self.answer(200, dict(tunnel, token="stand-in-token"))
        if self.command == "GET" and len(path) == 4:
            return self.answer(200, list(tunnels.values()))
        if not tunnel:
            return self.answer(404, errors=[(1003, "Tunnel not found")])
        if self.command == "DELETE":
            return self.answer(200, tunnels.pop(tunnel["id"]))
        if self.command == "GET":
            return self.answer(200, "stand-in-token" if path[-1] == "token" else tunnel)
        name = body["user_hostname"]  # PUT zones/Z/tunnels/ID/routes
        if mode == "outside" and not name.endswith("." + zone):
            name += "." + zone
        if records.get(name) == tunnel["id"]:
            return self.answer(200, {"cname": "unchanged", "name": name})
        if mode == "taken" and not body["overwrite_existing"]:
            return self.answer(400, errors=[(1003, "An A, AAAA, or CNAME record with that host "
                                                   "already exists.")])
        records[name] = tunnel["id"]
        return self.answer(200, {"cname": "new", "name": name})

    do_GET = do_POST = do_PUT = do_DELETE = handle_call


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
