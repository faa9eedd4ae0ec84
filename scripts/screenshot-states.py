#!/usr/bin/env python3
"""Screenshots of tunnel rows in every state and with every kind of problem, on the stand-in
client, for the README. Run inside a desktop session:

    bash scripts/desktop-session.sh --tray --notifications -- \\
        python3 scripts/screenshot-states.py BUILD_DIR OUT_DIR

Three windows: "connecting" (connecting with the URL known, reconnecting, nothing listening),
"service" (no internet, rate limited, service failed), "network" (active, lookup failed, a
port that is no port), "time-limit" (a row that stops by itself in 15 minutes) and "tunnels"
(the README's first picture: one active, one connecting), "own-domain" (signed in with
`quillby login`, a row active on https://dev.example.com, the stand-in account API behind it).
And the inspector with a live-reload socket's messages
("requests-websocket", needs Debian's python3-websockets; `--only websocket` takes just it).
"""
import asyncio
import argparse
import json
import os
import signal
import socket
import subprocess
import sys
import time
import threading
import uuid

# The rows' client: the tests' stand-in (QUILLBY_STAND_IN) in the mode of its row, the Nth launch
# playing the Nth of ROW_MODES; the modes only these pictures need are played here, with the real
# client's lines (every generation's are tst_clientlog's).
STAMP = "2026-12-06T19:10:57Z "
DNS = "lookup _v2-origintunneld._tcp.argotunnel.com on 127.0.0.53:53: no such host"
UNMARSHAL = ("ERR Error unmarshaling QuickTunnel response: error code: {} error=\"invalid character 'e' "
             'looking for beginning of value" status_code="{}"')
UNMARSHALED = "failed to unmarshal quick Tunnel: invalid character 'e' looking for beginning of value"
# mode: (exit status, or None to run on; whether the URL comes; lines after it; last words)
PLAYED = {
    "edge-timeout": (None, True, ['ERR Failed to create new quic connection error="failed to dial to edge '
                                  'with quic: timeout: no recent network activity" connIndex=0 event=0 '
                                  "ip=198.41.192.77"], ""),
    "lost": (None, True, ["INF Registered tunnel connection connIndex=0 connection=3f1c0a52-2f7e-4b8e-9a41-"
                          "0c6d2f9e1b70 event=0 ip=198.41.200.13 location=ams01 protocol=quic",
                          "INF Unregistered tunnel connection connIndex=0 event=0 ip=198.41.200.13",
                          'ERR Serve tunnel error error="timeout: no recent network activity" connIndex=0 '
                          "event=0 ip=198.41.200.13",
                          "INF Retrying connection in up to 1s connIndex=0 event=0 ip=198.41.200.13"], ""),
    "rate-limited": (1, False, [UNMARSHAL.format(1015, "429 Too Many Requests")], UNMARSHALED),
    "service-failed": (1, False, [UNMARSHAL.format(1101, "500 Internal Server Error")], UNMARSHALED),
    "edge-dns": (1, True, [f'ERR edge discovery: error looking up Cloudflare edge IPs: the DNS query failed '
                           f'error="{DNS}" event=0', "ERR Please try the following things to diagnose this issue",
                           'ERR 1. ensure that argotunnel.com is returning "origintunneld" service records.'],
                 f"Could not lookup srv records on _v2-origintunneld._tcp.argotunnel.com: {DNS}"),
}


def play_client():
    stand_in, mode = os.environ["QUILLBY_STAND_IN"], "url"
    if "--url" in sys.argv:
        with open(os.environ.pop("FAKE_CF_PIDFILE"), "a+") as launches:
            launches.seek(0)
            mode = (os.environ["ROW_MODES"].split(",")[len(launches.readlines()):] + ["url"])[0]
            launches.write(f"{os.getpid()} {sys.argv[sys.argv.index('--url') + 1].rsplit(':', 1)[1]}\n")
    if mode not in PLAYED:
        os.execve(stand_in, [stand_in, *sys.argv[1:]], {**os.environ, "FAKE_CF_MODE": mode})
    status, url, lines, last_words = PLAYED[mode]
    box = ["+" + "-" * 92 + "+", f"|  {'https://' + os.environ['FAKE_CF_LABEL'] + '.trycloudflare.com':<91}|"]
    box.insert(1, f"|  {'Your quick Tunnel has been created! Visit it at (it may take some time to be reachable):':<91}|")
    sys.stderr.write(
        f"{STAMP}ERR Configuration file /dev/null was empty\n2026-01-01T00:00:00Z INF Thank you for trying "
        "Cloudflare Tunnel. Doing so, without a Cloudflare account, is a quick way to experiment and try it "
        "out.\n2026-01-01T00:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...\n"
        + "".join(f"{STAMP}{line}\n" for line in [f"INF {line}" for line in box + box[:1]] * url + lines)
        + last_words + "\n" * bool(last_words))
    if status is None:
        signal.pause()
    return status


if os.path.basename(sys.argv[0]) == "cloudflared":
    sys.exit(play_client())

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import journey  # noqa: E402

SCENES = {
    "connecting": [("Blocked edge", 8102, "edge-timeout", True), ("Flaky network", 8103, "lost", True),
                   ("API", 8104, "origin-refused", False)],
    "service": [("Offline", 8111, "api-failure", False), ("Busy", 8112, "rate-limited", False),
                ("Service", 8113, "service-failed", False)],
    "network": [("Web app", 8101, "url", True), ("DNS", 8114, "edge-dns", False),
                ("Old list", 70000, "url", False)],
    "time-limit": [("Demo", 8105, "url", True)],
    "tunnels": [("Web app", 8106, "url", True), ("API", 8107, "no-url", True)],
}
# Commands run once the rows have started.
AFTERWARDS = {"time-limit": [["set", "Demo", "--for", "15m"]]}


def write_settings(config_home, tunnels):
    folder = os.path.join(config_home, "Quillby")
    os.makedirs(folder, exist_ok=True)
    value = json.dumps([{"id": str(uuid.uuid4()), "name": n, "port": p} for n, p, *_ in tunnels],
                       separators=(",", ":"))
    escaped = value.replace("\\", "\\\\").replace('"', '\\"')
    with open(os.path.join(folder, "Quillby.conf"), "w", encoding="utf-8") as f:
        f.write(f'[General]\ntunnelConfigs="@ByteArray({escaped})"\n')


def scene(args, name, tunnels):
    j = journey.Journey(argparse.Namespace(quillby=args.quillby, client_dir=args.client_dir,
                                           artifacts=args.out))
    # The rows start in order, so the Nth launch of the client plays the Nth mode.
    client = os.path.join(j.home, "bin")
    os.makedirs(client)
    os.symlink(os.path.abspath(__file__), os.path.join(client, "cloudflared"))
    j.env.update(ROW_MODES=",".join(mode for _, _, mode, _ in tunnels), FAKE_CF_INTERVAL_MS="300",
                 QUILLBY_STAND_IN=os.path.join(args.client_dir, "cloudflared"),
                 PATH=client + os.pathsep + j.env["PATH"])
    listeners = []
    for _, port, _, listen in tunnels:
        if listen:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("127.0.0.1", port))
            s.listen(16)
            listeners.append(s)
    write_settings(j.env["XDG_CONFIG_HOME"], tunnels)
    try:
        journey.enable_accessibility()
        j.app = j.start_quillby(name)
        j.open_window()
        for started, (row, port, _, _) in enumerate(tunnels, 1):
            subprocess.run([args.quillby, "start", row], env=j.env, capture_output=True)
            if 0 < port < 65536:
                journey.wait_for("the row's client", lambda: len(j.launches()) == started)
        for command in AFTERWARDS.get(name, []):
            subprocess.run([args.quillby, *command], env=j.env, check=True, capture_output=True)
        time.sleep(2.5)
        journey.run("dunstctl", "close-all", check=False)
        time.sleep(0.5)
        g = journey.popup()
        path = os.path.join(args.out, f"row-{name}.png")
        subprocess.run(["import", "-window", "root", "-crop", f"{g['w']}x{g['h']}+{g['x']}+{g['y']}",
                        "+repage", path], check=True, timeout=20)
        print("wrote", path)
    finally:
        j.stack.close()
        for s in listeners:
            s.close()


def own_domain_scene(args):
    """Signed in, one tunnel added on dev.example.com and active, as the command line does it."""
    api = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(journey.__file__), "..",
                                                         "support", "account_api.py"), "ok"],
                           stdout=subprocess.PIPE, text=True)
    j = journey.Journey(argparse.Namespace(quillby=args.quillby, client_dir=args.client_dir,
                                           artifacts=args.out))
    j.env["TUNNEL_API_URL"] = "http://127.0.0.1:" + api.stdout.readline().split()[1]
    listener = socket.create_server(("127.0.0.1", 8109))
    write_settings(j.env["XDG_CONFIG_HOME"], [])
    try:
        journey.enable_accessibility()
        j.app = j.start_quillby("own-domain")
        j.open_window()
        quillby = lambda *command: subprocess.run([args.quillby, *command], env=j.env, check=True,
                                                  capture_output=True)
        quillby("login", "--wait", "20")
        quillby("add", "--port", "8109", "--name", "Web app", "--hostname", "dev.example.com",
                "--start")
        quillby("url", "Web app", "--wait", "20")
        time.sleep(2.5)
        journey.run("dunstctl", "close-all", check=False)
        time.sleep(0.5)
        g = journey.popup()
        path = os.path.join(args.out, "row-own-domain.png")
        subprocess.run(["import", "-window", "root", "-crop", f"{g['w']}x{g['h']}+{g['x']}+{g['y']}",
                        "+repage", path], check=True, timeout=20)
        print("wrote", path)
    finally:
        j.stack.close()
        listener.close()
        api.kill()


def websocket_scene(args):
    """A dev server's live-reload socket through the inspector, its messages listed."""
    import websockets  # Debian's python3-websockets

    port = 8121

    async def dev_server(socket, *_):
        await socket.send(json.dumps({"type": "connected"}))
        async for message in socket:
            if isinstance(message, bytes):
                await socket.send(bytes([0x89, 0x50, 0x4e, 0x47]) + message)
            else:
                await socket.send(json.dumps({"type": "update", "updates": [
                    {"type": "js-update", "path": "/src/App.tsx", "timestamp": 1765085441203}]}))

    loop = asyncio.new_event_loop()
    started = threading.Event()

    def serve():
        asyncio.set_event_loop(loop)
        loop.run_until_complete(websockets.serve(dev_server, "127.0.0.1", port))
        started.set()
        loop.run_forever()

    threading.Thread(target=serve, daemon=True).start()
    started.wait(10)
    j = journey.Journey(argparse.Namespace(quillby=args.quillby, client_dir=args.client_dir,
                                           artifacts=args.out))
    write_settings(j.env["XDG_CONFIG_HOME"], [("Vite app", port)])
    try:
        journey.enable_accessibility()
        j.app = j.start_quillby("websocket")
        j.open_window()
        subprocess.run([args.quillby, "set", "Vite app", "--inspect", "on"], env=j.env, check=True,
                       stdout=subprocess.DEVNULL)
        j.press("Start")
        j.child()
        proxy = j.launches()[-1][1]

        async def visitor():
            socket = await websockets.connect(
                f"ws://127.0.0.1:{proxy}/?token=lPQMaVI2", ping_interval=None,
                extra_headers={"Host": f"{journey.URL_LABEL}.trycloudflare.com"})
            await socket.recv()
            await socket.send(json.dumps({"type": "custom", "event": "vite:invalidate",
                                          "data": {"path": "/src/App.tsx"}}))
            await socket.recv()
            await socket.send(bytes(range(16)))
            await socket.recv()
            await (await socket.ping(b"keep-alive"))
            return socket

        socket = asyncio.run_coroutine_threadsafe(visitor(), loop).result(10)
        j.press("Show requests")
        journey.wait_for("the inspector", lambda: j.showing("Requests, newest first"))
        journey.key("alt+m")
        time.sleep(0.5)
        window = journey.wait_for("the inspector's window", lambda: [
            g for g in journey.quillby_windows() if g["viewable"] and g["w"] >= 700])[0]
        # The server's "update", third in the list, shown in full below it.
        journey.run("xdotool", "mousemove", str(window["x"] + 400), str(window["y"] + 312),
                    "click", "1")
        time.sleep(1)
        path = os.path.join(args.out, "requests-websocket.png")
        subprocess.run(["import", "-window", "root", "-crop",
                        f"{window['w']}x{window['h']}+{window['x']}+{window['y']}", "+repage",
                        path], check=True, timeout=20)
        print("wrote", path)
        asyncio.run_coroutine_threadsafe(socket.close(), loop).result(10)
    finally:
        j.stack.close()
        loop.call_soon_threadsafe(loop.stop)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("build")
    parser.add_argument("out")
    parser.add_argument("--only", help="one scene: connecting, service, network, time-limit, "
                        "tunnels, own-domain or websocket")
    args = parser.parse_args()
    args.quillby = os.path.abspath(os.path.join(args.build, "src", "app", "quillby"))
    args.client_dir = os.path.abspath(os.path.join(args.build, "tests", "support", "bin"))
    args.out = os.path.abspath(args.out)
    os.makedirs(args.out, exist_ok=True)
    for name, tunnels in SCENES.items():
        if args.only in (None, name):
            scene(args, name, tunnels)
    if args.only in (None, "own-domain"):
        own_domain_scene(args)
    if args.only in (None, "websocket"):
        websocket_scene(args)


if __name__ == "__main__":
    main()
