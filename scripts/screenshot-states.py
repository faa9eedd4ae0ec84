#!/usr/bin/env python3
"""Screenshots of tunnel rows in every state and with every kind of problem, on the stand-in
client, for the README. Run inside a desktop session:

    bash scripts/desktop-session.sh --tray --notifications -- \\
        python3 scripts/screenshot-states.py BUILD_DIR OUT_DIR

Three windows: "connecting" (connecting with the URL known, reconnecting, nothing listening),
"service" (no internet, rate limited, service failed) and "network" (active, lookup failed, a
port that is no port).
"""
import argparse
import json
import os
import socket
import subprocess
import sys
import time
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import journey  # noqa: E402

SCENES = {
    "connecting": [("Blocked edge", 8102, "edge-timeout", True), ("Flaky network", 8103, "lost", True),
                   ("API", 8104, "origin-refused", False)],
    "service": [("Offline", 8111, "api-failure", False), ("Busy", 8112, "rate-limited", False),
                ("Service", 8113, "service-failed", False)],
    "network": [("Web app", 8101, "url", True), ("DNS", 8114, "edge-dns", False),
                ("Old list", 70000, "url", False)],
}


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
    j.env.update({f"FAKE_CF_MODE_{port}": mode for _, port, mode, _ in tunnels})
    j.env.update({"FAKE_CF_INTERVAL_MS": "300", "FAKE_CF_OUTAGE_MS": "600000"})
    listeners = []
    for _, port, _, listen in tunnels:
        if listen:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("127.0.0.1", port))
            s.listen(16)
            listeners.append(s)
    write_settings(j.config_home, tunnels)
    try:
        j.a11y = journey.Accessibility()
        j.app = j.start_quillby(name)
        j.open_window()
        for row, _, _, _ in tunnels:
            j.focus(f"Start of {row}", lambda n: n.name == "Start" and j.row_name(n) == row)
            journey.key("space")
            time.sleep(0.3)
        time.sleep(2.5)
        journey.run("dunstctl", "close-all", check=False)
        time.sleep(0.5)
        g = journey.popup()
        path = os.path.join(args.out, f"row-{name}.png")
        subprocess.run(["import", "-window", "root", "-crop", f"{g['w']}x{g['h']}+{g['x']}+{g['y']}",
                        "+repage", path], check=True, timeout=20)
        print("wrote", path)
    finally:
        j.cleanup()
        for s in listeners:
            s.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("build")
    parser.add_argument("out")
    args = parser.parse_args()
    args.quillby = os.path.abspath(os.path.join(args.build, "src", "app", "quillby"))
    args.client_dir = os.path.abspath(os.path.join(args.build, "tests", "support", "bin"))
    args.out = os.path.abspath(args.out)
    os.makedirs(args.out, exist_ok=True)
    for name, tunnels in SCENES.items():
        scene(args, name, tunnels)


if __name__ == "__main__":
    main()
