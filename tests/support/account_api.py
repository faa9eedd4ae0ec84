#!/usr/bin/python3
# The tunnel service's account, played on loopback for the tests, in two parts:
#
# account_api.py MODE: a stand-in of the account API (v4: {success, errors, messages, result}) on
# an ephemeral loopback port; prints "PORT <n>", then "<METHOD> <path>" for every call it
# answers, so a test can count them. The signed-in zone is example.com. Its modes:
#   ok        every call succeeds
#   taken     a route to a host no tunnel of ours holds fails (another record has it), unless
#             overwrite_existing asks to take it over
#   outside   as the real API does, a host outside the zone is read as a name inside it:
#             dev.other.org is routed as dev.other.org.example.com
#   expired   every call is refused: the certificate's token is no longer valid
#
# client(ARGS): the stand-in client's account commands (fake_cloudflared.py runs them with
# the words after `tunnel`): `tunnel login`, `create --credentials-file PATH NAME`, `route dns
# [--overwrite-dns] UUID HOST` and `delete [-f] [--credentials-file PATH] UUID`, against the API
# at TUNNEL_API_URL, with the real client's lines. The certificate is the stand-in account's:
# example.com, always the same ids. FAKE_CF_LOGIN_MS: login writes the certificate after this
# long (default 50; < 0: never, saying "Waiting for login..." every FAKE_CF_INTERVAL_MS).
import argparse, contextlib, http.client, json, os, sys, time, urllib.parse, uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

zone, tunnels, records = "example.com", {}, {}
ACCOUNT, ZONE = "abcdabcdabcdabcd1234567890abcdef", "7b0a4d77dfb881c1a3b7d61ea9443e19"
SECRET = "c3RhbmQtaW4gdHVubmVsIHNlY3JldCwgMzIgYnl0ZXMgbG9uZw=="
STAMP = "2026-12-06T19:10:57Z "
CERT = os.path.join(os.environ.get("HOME") or "/", ".cloudflared", "cert.pem")  # where login writes it


class Handler(BaseHTTPRequestHandler):
    log_message = lambda *args: None

    def answer(self, status, result=None, error=None):
        self.send_response(status)
        self.end_headers()  # HTTP/1.0: the answer ends with the connection, as call() reads it
        body = {"success": not error, "result": result, "messages": [],
                "errors": [{"code": error[0], "message": error[1]}] if error else []}
        self.wfile.write(json.dumps(body).encode())

    def handle_call(self):
        print(self.command, self.path, flush=True)
        body = json.loads(self.rfile.read(int(self.headers.get("Content-Length", 0))) or "{}")
        path = self.path.split("?")[0].split("/")  # ['', accounts, A, cfd_tunnel, ID]
        if mode == "expired":
            return self.answer(403, error=(10000, "Authentication error"))
        tunnel = tunnels.get(path[4]) if len(path) > 4 else None
        if self.command == "POST":
            if any(t["name"] == body["name"] for t in tunnels.values()):
                return self.answer(409, error=(1013, "You already have a tunnel with this name."))
            tunnel = {"id": str(uuid.uuid4()), "name": body["name"]}  # all that is read of it
            tunnels[tunnel["id"]] = tunnel
            return self.answer(200, tunnel)
        if not tunnel:
            return self.answer(404, error=(1003, "Tunnel not found"))
        if self.command == "DELETE":
            return self.answer(200, tunnels.pop(tunnel["id"]))
        name = body["user_hostname"]  # PUT zones/Z/tunnels/ID/routes
        if mode == "outside" and not name.endswith("." + zone):
            name += "." + zone
        if records.get(name) == tunnel["id"]:
            return self.answer(200, {"cname": "unchanged", "name": name})
        if mode == "taken" and not body["overwrite_existing"]:
            return self.answer(400, error=(1003, "An A, AAAA, or CNAME record with that host already exists."))
        records[name] = tunnel["id"]
        return self.answer(200, {"cname": "new", "name": name})

    do_GET = do_POST = do_PUT = do_DELETE = handle_call


say = sys.stderr.write  # line by line, as every text ends in one


def call(method, path, op, failed="", body=None):
    """The result of one call over plain HTTP on loopback. A failed one ends the command with
    what the client makes of it (cfapi's statusCodeToError), after `failed`."""
    base = os.environ.get("TUNNEL_API_URL") or "https://api.cloudflare.com/client/v4"
    url = urllib.parse.urlsplit(base + path)
    try:
        with contextlib.closing(http.client.HTTPConnection("127.0.0.1", url.port or 0, timeout=30)) as api:
            api.request(method, url.path + "?" * bool(url.query) + url.query, body and json.dumps(body),
                        {"Authorization": "Bearer stand-in-api-token", "Content-Type": "application/json"})
            reply = api.getresponse()
            status, answer = reply.status, json.loads(reply.read())
    except OSError:
        sys.exit(f'{failed}REST request failed: {method.title()} "{base + path}": dial tcp {url.netloc}: '
                 "connect: connection refused")
    if status == 409:  # only a created tunnel's name can be in conflict
        sys.exit(failed + "tunnel with name already exists")
    if status != 200:
        error = answer["errors"][0]  # every failed answer of the stand-in API names one
        sys.exit(f"{failed}Failed to {op}: code: {error['code']}, reason: {error['message']}")
    return answer["result"]


def origin_cert(failed=""):
    """Ends with the client's error, after `failed`, when login wrote no certificate (no test
    sets TUNNEL_ORIGIN_CERT)."""
    if not os.access(CERT, os.R_OK):
        say(f"{STAMP}ERR Cannot determine default origin certificate path. No file cert.pem in "
            "[~/.cloudflared ~/.cloudflare-warp ~/cloudflare-warp /etc/cloudflared "
            "/usr/local/etc/cloudflared]. You need to specify the origin certificate path by "
            "specifying the origincert option in the configuration file, or set "
            "TUNNEL_ORIGIN_CERT environment variable originCertPath=\n")
        sys.exit(failed + "Error locating origin cert: client didn't specify origincert path")


def login():
    """Opens no browser: says so as the client does where it cannot."""
    os.makedirs(os.path.dirname(CERT), 0o700, exist_ok=True)
    if os.path.exists(CERT) and os.path.getsize(CERT):
        return say(f"{STAMP}ERR You have an existing certificate at {CERT} which login would "
                   "overwrite.\nIf this is intentional, please move or delete that file then run "
                   "this command again.\n\n")
    say("Please open the following URL and log in with your Cloudflare account:\n\n"
        "https://dash.cloudflare.com/argotunnel?aud=&callback=https%3A%2F%2Flogin.cloudflareaccess"
        ".org%2FYcDqnJ6iTX3Rsn0Sd2hEbyjS6Gts\n\nLeave cloudflared running to download the cert "
        "automatically.\n")
    time.sleep(max(wait := int(os.environ.get("FAKE_CF_LOGIN_MS") or 50), 0) / 1000)
    while wait < 0:
        say(f"{STAMP}INF Waiting for login...\n")
        time.sleep(int(os.environ.get("FAKE_CF_INTERVAL_MS") or 5000) / 1000)
    with open(os.open(CERT, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as cert:
        cert.write("-----BEGIN ARGO TUNNEL TOKEN-----\neyJ6b25lSUQiOiI3YjBhNGQ3N2RmYjg4MWMxYTNiN2Q2MWVh"
                   "OTQ0M2UxOSIsImFjY291\nbnRJRCI6ImFiY2RhYmNkYWJjZGFiY2QxMjM0NTY3ODkwYWJjZGVmIiwiYX"
                   "BpVG9rZW4i\nOiJzdGFuZC1pbi1hcGktdG9rZW4ifQ==\n-----END ARGO TUNNEL TOKEN-----\n")
    say(f"{STAMP}INF You have successfully logged in.\nIf you wish to copy your credentials to a "
        f"server, they have been saved to:\n{CERT}\n\n")


def create(name, credentials):
    origin_cert("failed to create tunnel: couldn't create client to talk to Cloudflare Tunnel backend: ")
    id = call("POST", f"/accounts/{ACCOUNT}/cfd_tunnel", "create tunnel", "failed to create tunnel: "
              "Create Tunnel API call failed: ", {"name": name, "tunnel_secret": SECRET})["id"]
    with contextlib.suppress(OSError), open(credentials, "w") as file:
        json.dump({"AccountTag": ACCOUNT, "TunnelSecret": SECRET, "TunnelID": id}, file, separators=(",", ":"))
    with contextlib.suppress(OSError):
        os.chmod(credentials, 0o400)
    print(f"Tunnel credentials written to {credentials}. Keep this file secret. To revoke "
          f"these credentials, delete the tunnel.\n\nCreated tunnel {name} with id {id}")


def route_dns(id, host, overwrite):
    origin_cert()
    result = call("PUT", f"/zones/{ZONE}/tunnels/{id}/routes", "add route",
                  body={"type": "dns", "user_hostname": host, "overwrite_existing": overwrite})
    name, new = result["name"], result["cname"] == "new"
    say(STAMP + "INF " + (f"Added CNAME {name} which will route to this tunnel" if new else
                          f"{name} is already configured to route to your tunnel") + f" tunnelID={id}\n")


def delete(id, credentials, force):
    origin_cert()
    call("DELETE", f"/accounts/{ACCOUNT}/cfd_tunnel/{id}" + "?cascade=true" * force, "delete tunnel",
         f"Error deleting tunnel {id}: ")
    with contextlib.suppress(OSError):
        os.remove(credentials)


def client(args):
    parser = argparse.ArgumentParser(prog="cloudflared tunnel")
    for option in ("--config", "--credentials-file"):
        parser.add_argument(option, default="")
    parser.add_argument("-f", "--overwrite-dns", action="store_true")
    parser.add_argument("--no-autoupdate", action="store_true")
    parser.add_argument("words", nargs="*")
    options = parser.parse_intermixed_args(args)
    words, credentials, force = options.words + [""] * 4, options.credentials_file, options.overwrite_dns
    if words[0] == "login":
        return login()
    if words[0] == "create":
        return create(words[1], credentials)
    if words[:2] == ["route", "dns"]:
        return route_dns(words[2], words[3], force)
    return delete(words[1], credentials, force)


if __name__ == "__main__":
    mode = sys.argv[1] if len(sys.argv) > 1 else "ok"
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print("PORT", server.server_address[1], flush=True)
    server.serve_forever()
