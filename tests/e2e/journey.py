#!/usr/bin/python3
"""The whole user journey against the built quillby, on a real desktop session.

Run inside scripts/desktop-session.sh --tray --notifications (Xvfb, session bus, trayer,
dunst). Controls are found and pressed through the accessibility bus (AT-SPI, with gdbus), as
a screen reader does. Outcomes are read from the real places: the settings file, /proc, dunst's history, the X
clipboard, the pixels of the tray icon and the accessibility bus (every focusable control
has a name and a fitting role). A screenshot of every step goes to --artifacts.

Uses only the Python standard library and the command-line tools of the test dependencies.
"""

import argparse
import ast
import ctypes
import http.server
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

# The locator looks here before PATH; a real client there would be used instead of the stand-in.
FIXED_CLIENT_PATHS = ["/opt/homebrew/bin/cloudflared", "/usr/local/bin/cloudflared",
                      "/home/linuxbrew/.linuxbrew/bin/cloudflared"]
URL_LABEL = "quill-journey-over-loopback"
URL = f"https://{URL_LABEL}.trycloudflare.com"
SKIP = 77

# AT-SPI state bits.
FOCUSABLE, SHOWING = 11, 25
# The role each focusable control must have, by its accessible name. Selectable text (the URL)
# is a "label" named by its text.
ROLES = dict.fromkeys(["Add tunnel", "Start", "Stop", "Copy URL", "Open in Browser", "Show QR Code",
                       "Delete tunnel", "Show requests", "Scan Local Ports", "Quit"], "push button")
ROLES.update({"Name": "text", "Port": "text", "Tunnel Options": "button menu",
              "Launch at Login": "check box"})

class JourneyFailure(Exception):
    pass


STARTED = time.monotonic()


def log(text):
    print(f"[{time.monotonic() - STARTED:5.1f} s] {text}", flush=True)


def run(*args, check=True, timeout=20, **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)
    if check and result.returncode != 0:
        raise JourneyFailure(f"{' '.join(args)} failed ({result.returncode}): {result.stderr}")
    return result.stdout


def wait_for(what, predicate, timeout=15.0, interval=0.1):
    """Polls until predicate() answers something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise JourneyFailure(f"timed out after {timeout:.0f} s waiting for: {what}")
        time.sleep(interval)


# ---------------------------------------------------------------------------------------------
# Accessibility bus


def gvariant(text):
    """The single value of a gdbus reply such as ('x',) or (<'x'>,)."""
    text = text.strip()
    if text.startswith("(<") and text.endswith(">,)"):
        text = "(" + text[2:-3] + ",)"
    text = re.sub(r"(?:\bobjectpath|\buint32|\bint32|@\S+) ", "", text)
    return ast.literal_eval(text)[0]


class Node:
    def __init__(self, bus, dest, path):
        self.bus, self.dest, self.path = bus, dest, path

    def call(self, method, *args):
        return self.bus.call(self.dest, self.path, method, *args)

    def prop(self, name):
        return gvariant(self.call("org.freedesktop.DBus.Properties.Get",
                                  "org.a11y.atspi.Accessible", name))

    @property
    def name(self):
        return self.prop("Name")

    @property
    def role(self):
        return gvariant(self.call("org.a11y.atspi.Accessible.GetRoleName"))

    def states(self):
        low, high = gvariant(self.call("org.a11y.atspi.Accessible.GetState"))
        return low | (high << 32)

    def has(self, state):
        return bool(self.states() & (1 << state))

    def children(self):
        reply = self.call("org.a11y.atspi.Accessible.GetChildren")
        return [Node(self.bus, d, p) for d, p in gvariant(reply)]

    def parent(self):
        dest, path = self.prop("Parent")
        return Node(self.bus, dest, path)

    def describe(self):
        return f"{self.role} {self.name!r}"


class Accessibility:
    """Reads the application's widgets from the AT-SPI bus."""

    def __init__(self):
        # Turned on the way a screen reader does it; Qt reads this when it starts.
        run("gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
            "/org/a11y/bus", "--method", "org.freedesktop.DBus.Properties.Set",
            "org.a11y.Status", "IsEnabled", "<true>")
        self.address = gvariant(run("gdbus", "call", "--session", "--dest", "org.a11y.Bus",
                                    "--object-path", "/org/a11y/bus", "--method",
                                    "org.a11y.Bus.GetAddress"))

    def call(self, dest, path, method, *args):
        return run("gdbus", "call", "--address", self.address, "--dest", dest, "--object-path",
                   path, "--method", method, *args)

    def application(self, pid):
        registry = Node(self, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
        for app in registry.children():
            owner = gvariant(run("gdbus", "call", "--address", self.address, "--dest",
                                 "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                                 "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                                 app.dest, check=False) or "(0,)")
            if owner == pid:
                return app
        return None

    def showing(self, pid):
        """Every node on screen, depth first, in the order of the widget tree."""
        app = self.application(pid)
        if not app:
            return []
        found, stack = [], list(reversed(app.children()))
        while stack:
            node = stack.pop()
            try:
                if not node.has(SHOWING):
                    continue
                found.append(node)
                stack.extend(reversed(node.children()))
            except JourneyFailure:
                continue  # gone while we looked
        return found

    def find(self, pid, name, role=None):
        for node in self.showing(pid):
            try:
                if node.name == name and (role is None or node.role == role):
                    return node
            except JourneyFailure:
                continue
        return None

# ---------------------------------------------------------------------------------------------
# The desktop: X, the tray, the clipboard, notifications


def key(*keys):
    run("xdotool", "key", "--clearmodifiers", *keys)


def window_geometry(window):
    info = run("xwininfo", "-id", str(window), check=False)
    values = dict(re.findall(r"^\s*(Absolute upper-left [XY]|Width|Height|Map State):\s*(\S+)",
                             info, re.M))
    if len(values) < 5:
        return None
    return {"x": int(values["Absolute upper-left X"]), "y": int(values["Absolute upper-left Y"]),
            "w": int(values["Width"]), "h": int(values["Height"]),
            "viewable": values["Map State"] == "IsViewable"}


def quillby_windows():
    out = run("xdotool", "search", "--classname", "^quillby$", check=False)
    windows = []
    for window in out.split():
        geometry = window_geometry(window)
        if geometry:
            windows.append(geometry)
    return windows


def tray_icon():
    """The icon's window inside the tray host: small, on screen, in the panel at the top."""
    for g in quillby_windows():
        if g["viewable"] and g["w"] <= 64 and g["h"] <= 64 and g["x"] >= 0 and g["y"] < 40:
            return g
    return None


def popup():
    for g in quillby_windows():
        if g["viewable"] and g["w"] > 200 and g["h"] > 100:
            return g
    return None


def grab(x, y, w, h):
    """The screen's pixels in a rectangle, as (r, g, b) tuples."""
    data = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                           "-depth", "8", "ppm:-"], capture_output=True, timeout=20).stdout
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not header:
        raise JourneyFailure("screenshot failed")
    pixels = data[header.end():]
    return [tuple(pixels[i:i + 3]) for i in range(0, len(pixels) - 2, 3)]


def classify(pixels):
    """'green', 'gray' or None for (r, g, b) or (r, g, b, a) pixels; the transparent ones
    do not count."""
    green = gray = 0
    for pixel in pixels:
        r, g, b = pixel[:3]
        if len(pixel) > 3 and pixel[3] < 128:
            continue
        if g - max(r, b) > 40:
            green += 1
        elif max(r, g, b) - min(r, g, b) < 24 and max(r, g, b) < 190:
            gray += 1
    if green >= 12:
        return "green"
    if gray >= 12 and green == 0:
        return "gray"
    return None


def icon_colour():
    """'green', 'gray' or None, from the pixels of the tray icon."""
    g = tray_icon()
    return classify(grab(g["x"], g["y"], g["w"], g["h"])) if g else None


def clipboard():
    result = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                            text=True, timeout=10)
    return result.stdout if result.returncode == 0 else None


class Notifications:
    """What dunst has shown, read back from its history."""

    def __init__(self):
        self.seen = set(n["id"] for n in self.history())

    @staticmethod
    def history():
        run("dunstctl", "close-all")
        data = json.loads(run("dunstctl", "history"))
        return [{k: v["data"] for k, v in entry.items()} for entry in data["data"][0]]

    def wait(self, summary, body, timeout=15):
        def arrived():
            for n in self.history():
                if n["id"] not in self.seen and n["summary"] == summary and body in n["body"]:
                    self.seen.add(n["id"])
                    return n
            return None

        n = wait_for(f"notification {summary!r} with {body!r}", arrived, timeout)
        if n.get("appname") != "Quillby":
            raise JourneyFailure(f"notification from {n.get('appname')!r}, not Quillby")
        return n

# ---------------------------------------------------------------------------------------------
# The application and its children


def saved_tunnels(config_home):
    """The tunnel list in the settings file, or None while there is none."""
    path = os.path.join(config_home, "Quillby", "Quillby.conf")
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        return None
    match = re.search(r"^tunnelConfigs=(.*)$", text, re.M)
    if not match:
        return None
    value = match.group(1).strip()
    if value.startswith('"') and value.endswith('"'):
        value = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    value = value.removeprefix("@ByteArray(").removesuffix(")")
    try:
        return json.loads(value)
    except json.JSONDecodeError:
        return None


def process_alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        return state not in ("Z", "X")
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return False


def cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().split(b"\0")[:-1]
    except FileNotFoundError:
        return None


class Children:
    """The stand-in clients, as they record themselves in FAKE_CF_PIDFILE."""

    def __init__(self, pidfile):
        self.pidfile = pidfile

    def all(self):
        try:
            with open(self.pidfile) as f:
                return [(int(p), int(port)) for p, port in (l.split() for l in f if l.strip())]
        except FileNotFoundError:
            return []

    def alive(self):
        return [(pid, port) for pid, port in self.all() if process_alive(pid)]

    def kill_all(self):
        for pid, _ in self.alive():
            command = cmdline(pid) or []
            if command and command[0].endswith(b"cloudflared"):
                os.kill(pid, signal.SIGKILL)


def die_with_parent():
    # Nothing started here outlives this script, even when it is killed outright.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class WebhookHandler(http.server.BaseHTTPRequestHandler):
    """A local server receiving webhooks: keeps each body, answers "received"."""
    protocol_version = "HTTP/1.1"
    bodies = []

    def do_POST(self):
        WebhookHandler.bodies.append(self.rfile.read(int(self.headers["Content-Length"])))
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", "8")
        self.end_headers()
        self.wfile.write(b"received")

    def log_message(self, *args):
        pass


class Journey:
    def __init__(self, args):
        self.quillby_path = args.quillby
        self.artifacts = args.artifacts
        self.shot_index = 0
        self.processes = []
        # Inside the session's folder, which the session script removes whatever happens.
        self.home = tempfile.mkdtemp(prefix="quillby-journey.",
                                     dir=os.environ.get("XDG_RUNTIME_DIR"))
        self.config_home = os.path.join(self.home, ".config")
        self.env = dict(os.environ)
        self.env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config_home,
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "PATH": args.client_dir + os.pathsep + os.environ.get("PATH", ""),
            "FAKE_CF_LABEL": URL_LABEL,
            "FAKE_CF_PIDFILE": os.path.join(self.home, "children"),
        })
        self.env.pop("QT_QPA_PLATFORM", None)
        self.children = Children(self.env["FAKE_CF_PIDFILE"])
        self.a11y = None
        self.app = None

    # -- plumbing -------------------------------------------------------------------------------

    def screenshot(self, name):
        self.shot_index += 1
        # Notifications already read would cover the tray's corner.
        run("dunstctl", "close-all", check=False)
        time.sleep(0.3)  # let a layout that just changed reach the screen
        path = os.path.join(self.artifacts, f"{self.shot_index:02d}-{name}.png")
        subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=20)
        log(f"   screenshot {os.path.basename(path)}")
        return path

    def start_quillby(self, tag):
        out = open(os.path.join(self.artifacts, f"quillby-{tag}.log"), "w")
        process = subprocess.Popen([self.quillby_path], env=self.env, cwd=self.home,
                                   stdout=out, stderr=subprocess.STDOUT,
                                   preexec_fn=die_with_parent)
        out.close()
        self.processes.append(process)
        return process

    def press(self, name, role="push button"):
        """Presses a control through the accessibility bus, the same on X11 and Wayland."""
        node = wait_for(f"the {role} {name!r}", lambda: self.a11y.find(self.app.pid, name, role))
        node.call("org.a11y.atspi.Action.DoAction", "int32 0")

    def showing(self, name):
        return self.a11y.find(self.app.pid, name)

    def child(self):
        # It forwards to the tunnel's gateway, so its own --url names no port of ours.
        return wait_for("the client", lambda: [pid for pid, _ in self.children.alive()])[0]

    def click_icon(self):
        icon = wait_for("the tray icon", tray_icon)
        # Not --sync: it waits for a motion that never comes when the pointer is already there.
        run("xdotool", "mousemove", str(icon["x"] + icon["w"] // 2),
            str(icon["y"] + icon["h"] // 2), "click", "1")

    def open_window(self):
        self.click_icon()
        wait_for("the status window", popup)
        wait_for("the window's controls on the accessibility bus",
                 lambda: self.showing("Tunnels"), timeout=10)

    def wait_exit(self, process, timeout=10):
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise JourneyFailure(f"quillby (pid {process.pid}) did not exit in {timeout} s")

    def quit_cleanly(self, how):
        how()
        status = self.wait_exit(self.app)
        if status != 0:
            raise JourneyFailure(f"quit ended quillby with status {status}")
        wait_for("every client to end with the application", lambda: not self.children.alive(),
                 timeout=3)
        log("   quit with status 0, no client left")

    def audit(self, where, wanted):
        """Every focusable control on screen has a name and the role that fits it; the wanted
        ones are among them."""
        checked = []
        for node in self.a11y.showing(self.app.pid):
            try:
                if not node.has(FOCUSABLE):
                    continue
                name, role = node.name, node.role
            except JourneyFailure:
                continue
            fits = ROLES.get(name)
            if not name.strip() or role not in (fits, "label"):
                raise JourneyFailure(f"{where}: the focusable {role} {name!r} in "
                                     f"{node.parent().describe()} is not a {fits or 'named control'}")
            checked.append(name)
        log(f"   {where}: {len(checked)} focusable controls: {', '.join(checked)}")
        if not set(wanted) <= set(checked):
            raise JourneyFailure(f"{where}: {set(wanted) - set(checked)} not focusable")

    def cleanup(self):
        for process in self.processes:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.children.kill_all()
        shutil.rmtree(self.home, ignore_errors=True)

    # -- the journey ----------------------------------------------------------------------------
    # Only what needs the built binary on a whole desktop. Covered closer to their code: the QR
    # code and the URL's other hand-overs (tst_share), a port change (tst_tunnelinstance,
    # tst_statusmenu), crashes and the client's problems (tst_tunnelinstance, tst_statusmenu,
    # tst_language), renaming, adding, deleting and the scanner (tst_statusmenu, tst_portscanner),
    # the list kept and all stopped after a restart (tst_tunnelstore), the missing-client alert
    # (tst_statusmenu, tst_language), Quit and signals (tst_app, tst_faults), the inspector's 502
    # page (tst_proxy).

    def run(self):
        self.a11y = Accessibility()
        notes = Notifications()

        log("1. First start: the default tunnel is saved, the tray icon is there and gray")
        self.app = self.start_quillby("first")
        saved = wait_for("the default tunnel in the settings file",
                         lambda: saved_tunnels(self.config_home))
        if [(t["name"], t["port"]) for t in saved] != [("Tunnel", 8000)]:
            raise JourneyFailure(f"first start saved {saved}, not the default tunnel")
        wait_for("a gray tray icon", lambda: icon_colour() == "gray")
        self.screenshot("first-start-gray-icon")

        log("2. Open the window from the icon, start the tunnel, copy its URL; every control is")
        log("   named for a screen reader, the status dot is an image that says its state")
        self.open_window()
        self.press("Start")
        self.child()
        wait_for("a green tray icon", lambda: icon_colour() == "green")
        notes.wait("'Tunnel' Active", URL)
        self.press("Copy URL")
        wait_for("the URL on the clipboard", lambda: clipboard() == URL)
        dot = wait_for("the status dot saying Running", lambda: self.showing("Running"))
        if dot.role not in ("image", "graphic"):
            raise JourneyFailure(f"the status dot is a {dot.role}, not an image")
        self.screenshot("tunnel-active-green-icon")
        self.audit("the window", ["Add tunnel", "Name", "Port", "Stop", "Open in Browser",
                                  "Show QR Code", "Copy URL", "Delete tunnel", "Scan Local Ports",
                                  "Launch at Login", "Quit"])
        self.press("Stop")
        wait_for("the client to end", lambda: not self.children.alive())

        self.inspect_requests(8000)

        log("4. A second launch hands over to the running one and exits 0; Quit with a tunnel")
        log("   running ends every client")
        if popup():
            self.click_icon()
            wait_for("the window to close", lambda: not popup())
        second = self.start_quillby("handover")
        status = self.wait_exit(second)
        if status != 0:
            raise JourneyFailure(f"the second quillby exited with status {status}")
        wait_for("the first quillby to show its window", popup)
        self.screenshot("second-launch-shows-window")
        self.press("Start")
        self.child()
        self.quit_cleanly(lambda: self.press("Quit"))

    def inspect_requests(self, port):
        log("3. Inspect Requests: a webhook through the inspector, seen and replayed")
        # Port 8000 is the first tunnel's: tst_language, which needs it free, is kept apart.
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), WebhookHandler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            # The switch sits in the row's options menu; the command line sets the same.
            subprocess.run([self.quillby_path, "set", "Tunnel", "--inspect", "on"], env=self.env,
                           check=True, stdout=subprocess.DEVNULL)
            wait_for('"inspect": true in the settings file',
                     lambda: (saved_tunnels(self.config_home) or [{}])[0].get("inspect") is True)
            self.press("Start")
            child = wait_for("the client", lambda: self.children.alive())[0][0]
            origin = cmdline(child)[-1].decode()
            proxy = int(re.fullmatch(r"http://127\.0\.0\.1:(\d+)", origin).group(1))
            if proxy == port:
                raise JourneyFailure(f"the client forwards to the server directly: {origin}")
            # As the client would: the public host name in Host, the request as it came.
            body = json.dumps({"event": "payment.succeeded", "amount": 4200}).encode()
            request = urllib.request.Request(
                f"http://127.0.0.1:{proxy}/webhooks/payments?attempt=1", data=body,
                headers={"Host": f"{URL_LABEL}.trycloudflare.com",
                         "Content-Type": "application/json", "Stripe-Signature": "t=1,v1=5257a8"})
            answer = urllib.request.urlopen(request, timeout=10).read()
            if answer != b"received":
                raise JourneyFailure(f"the server answered {answer!r} through the inspector")
            self.press("Show requests")
            wait_for("the request in the inspector",
                     lambda: self.showing("/webhooks/payments?attempt=1"))
            self.screenshot("inspector-request")
            key("ctrl+r")
            wait_for("the replayed request", lambda: self.showing("POST (replay)"))
            if len(WebhookHandler.bodies) != 2 or WebhookHandler.bodies[1] != body:
                raise JourneyFailure(f"the server got {WebhookHandler.bodies}, not the body twice")
            key("Escape")
            wait_for("the inspector to close", lambda: not self.showing("Requests, newest first"))
            if not popup():
                self.open_window()
            self.press("Stop")
            wait_for("the client to stop", lambda: not self.children.alive())
            subprocess.run([self.quillby_path, "set", "Tunnel", "--inspect", "off"], env=self.env,
                           check=True, stdout=subprocess.DEVNULL)
        finally:
            server.shutdown()
            server.server_close()


def run_reported(make_runner, artifacts, step):
    """Runs step(runner) into a fresh artifacts folder, always through runner.cleanup() (a
    termination by CTest or the session script too); a screenshot on failure. Exit status."""
    shutil.rmtree(artifacts, ignore_errors=True)
    os.makedirs(artifacts)
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, lambda s, _: sys.exit(128 + s))
    runner = make_runner()
    started = time.monotonic()
    try:
        step(runner)
    except (JourneyFailure, OSError, subprocess.SubprocessError) as failure:
        log(f"FAIL: {failure}")
        runner.screenshot("failure")
        return 1
    finally:
        runner.cleanup()
    log(f"PASS in {time.monotonic() - started:.1f} s; screenshots in {artifacts}")
    return 0


def parse_arguments(parser):
    """The options every check takes, as absolute paths; None when a client installed at a
    fixed path would be run instead of the stand-in (the check is then skipped)."""
    parser.add_argument("--quillby", required=True)
    parser.add_argument("--client-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    args.quillby, args.client_dir, args.artifacts = (
        os.path.abspath(p) for p in (args.quillby, args.client_dir, args.artifacts))
    for path in FIXED_CLIENT_PATHS:
        if os.path.exists(path):
            log(f"SKIP: {path} exists and would be run instead of the stand-in client")
            return None
    return args


def main():
    args = parse_arguments(argparse.ArgumentParser(description=__doc__))
    if args is None:
        return SKIP
    for var in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
        if not os.environ.get(var):
            log(f"{var} is not set: run this inside scripts/desktop-session.sh")
            return 2

    return run_reported(lambda: Journey(args), args.artifacts, Journey.run)

if __name__ == "__main__":
    sys.exit(main())
