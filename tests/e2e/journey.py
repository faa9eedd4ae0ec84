#!/usr/bin/python3
"""The whole user journey against the built quillby, on a real desktop session.

Run inside scripts/desktop-session.sh --tray --notifications (Xvfb, session bus, trayer, dunst).
Controls are found and pressed through the accessibility bus (AT-SPI, with pyatspi), as a screen
reader does. Outcomes are read from the real places: /proc, the tray icon's pixels and the
accessibility bus (every focusable control has a name and a fitting role). A screenshot of every
step goes to --artifacts. The standard library and pyatspi only.
"""
import argparse
import contextlib
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import Gio, GLib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from devservers import stop, wait_for  # noqa: E402,F401 (wait_for for every check)

# The locator looks here before PATH; a real client there would be used instead of the stand-in.
FIXED_CLIENT_PATHS = ["/opt/homebrew/bin/cloudflared", "/usr/local/bin/cloudflared",
                      "/home/linuxbrew/.linuxbrew/bin/cloudflared"]
URL_LABEL = "quill-journey-over-loopback"
# The role each focusable control must have, by its accessible name; selectable text (the URL)
# is a "label" named by its text. Roles as the application names them: only there is a menu
# button not a plain "push button".
ROLES = dict.fromkeys(["Add tunnel", "Start", "Stop", "Copy URL", "Open in Browser", "Show QR Code",
                       "Delete tunnel", "Show requests", "Scan Local Ports", "Quit",
                       "Sign In to Use Your Domain..."], "push button")
ROLES.update({"Name": "text", "Port": "text", "Tunnel Options": "button menu",
              "Launch at Login": "check box"})
STARTED = time.monotonic()
# What xwininfo says of a window, in its order: x, y, width, height and whether it is mapped.
GEOMETRY = re.compile(r"Absolute upper-left X:\s*(-?\d+).*?Absolute upper-left Y:\s*(-?\d+).*?"
                      r"Width:\s*(\d+).*?Height:\s*(\d+).*?Map State:\s*(\S+)", re.S)


def log(text):
    print(f"[{time.monotonic() - STARTED:5.1f} s] {text}", flush=True)


def run(*args, check=True, timeout=20, **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)
    if check and result.returncode != 0:
        raise AssertionError(f"{' '.join(args)} failed ({result.returncode}): {result.stderr}")
    return result.stdout


def expect(what, got, wanted):
    """got is wanted, or wanted(got) is true."""
    ok = wanted(got) if callable(wanted) else got == wanted
    log(f"   {'ok' if ok else 'FAIL'}: {what}: {str(got)[:160]}")
    if not ok:
        raise AssertionError(f"{what}: got {got!r}" + ("" if callable(wanted) else f", expected {wanted!r}"))


def answer(get, otherwise=None):
    """get() from an object on a bus, or `otherwise` when it is not there (an accessible node
    can leave while we look)."""
    with contextlib.suppress(GLib.Error):
        return get()
    return otherwise


def has(node, state):
    return answer(lambda: node.getState().contains(state), False)


def dbus(dest, path, method, signature=None, *args):
    """A method call on the session bus, its reply unpacked."""
    interface, method = method.rsplit(".", 1)
    return Gio.bus_get_sync(Gio.BusType.SESSION).call_sync(
        dest, path, interface, method, signature and GLib.Variant(signature, args), None, 0, -1).unpack()


def read(path, missing=""):
    with contextlib.suppress(FileNotFoundError), open(path) as f:
        return f.read()
    return missing


def click(x, y):
    # Not --sync: it waits for a motion that never comes when the pointer is already there.
    run("xdotool", "mousemove", str(x), str(y), "click", "1")


def quillby_windows():
    """Quillby's X windows as {x, y, w, h, viewable}."""
    found = (GEOMETRY.search(run("xwininfo", "-id", window, check=False))
             for window in run("xdotool", "search", "--classname", "^quillby$", check=False).split())
    return [dict(zip("xywh", map(int, m.groups()[:4])), viewable=m[5] == "IsViewable") for m in found if m]


def tray_icon():
    """The icon's window inside the tray host: small, on screen, in the panel at the top."""
    return next((g for g in quillby_windows() if g["viewable"] and g["w"] <= 64 and g["h"] <= 64
                 and g["x"] >= 0 and g["y"] < 40), None)


def popup():
    return next((g for g in quillby_windows() if g["viewable"] and g["w"] > 200 and g["h"] > 100), None)


def grab(x, y, w, h):
    """The screen's pixels in a rectangle, as (r, g, b) tuples."""
    run("dunstctl", "close-all", check=False)  # a notification may cover the tray
    pixels = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                             "-depth", "8", "rgb:-"], capture_output=True, timeout=20).stdout
    return [tuple(pixels[i:i + 3]) for i in range(0, len(pixels) - 2, 3)]


def classify(pixels):
    """'green', 'gray' or None for (r, g, b) or (r, g, b, a) pixels; transparent ones do not count."""
    opaque = [(r, g, b) for r, g, b, *alpha in pixels if not alpha or alpha[0] >= 128]
    green = sum(g - max(r, b) > 40 for r, g, b in opaque)
    gray = sum(g - max(r, b) <= 40 and max(r, g, b) - min(r, g, b) < 24 and max(r, g, b) < 190 for r, g, b in opaque)
    return "green" if green >= 12 else "gray" if gray >= 12 and not green else None


def icon_colour():
    g = tray_icon()
    return classify(grab(g["x"], g["y"], g["w"], g["h"])) if g else None


def enable_accessibility():
    """The accessibility bus turned on, as a screen reader does."""
    dbus("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set", "(ssv)", "org.a11y.Status",
         "IsEnabled", GLib.Variant("b", True))


class Journey:
    def __init__(self, args):
        self.args, self.quillby_path, self.artifacts = args, args.quillby, args.artifacts
        self.shot_index, self.app, self.stack = 0, None, contextlib.ExitStack()  # closed last to first
        # Inside the session's folder, which the session script removes whatever happens.
        self.home = tempfile.mkdtemp(prefix="quillby-journey.", dir=os.environ.get("XDG_RUNTIME_DIR"))
        self.stack.callback(shutil.rmtree, self.home, ignore_errors=True)
        self.wayland = bool(os.environ.get("WAYLAND_DISPLAY"))
        self.env = os.environ | dict(
            HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"), FAKE_CF_LABEL=URL_LABEL,
            XDG_CACHE_HOME=os.path.join(self.home, ".cache"), XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
            PATH=args.client_dir + os.pathsep + os.environ.get("PATH", ""),
            FAKE_CF_PIDFILE=os.path.join(self.home, "children"), QT_QPA_PLATFORM="wayland" if self.wayland else "xcb")

    def screenshot(self, name, copy=None, cropped=False):
        """The screen, or only Quillby's windows on it (cropped or copied elsewhere too)."""
        self.shot_index += 1
        time.sleep(0.3)  # let a layout that just changed reach the screen
        path = os.path.join(self.artifacts, f"{self.shot_index:02d}-{name}.png")
        log(f"   screenshot {os.path.basename(path)}")
        if self.wayland:  # weston-screenshooter writes into its working folder, named its way
            folder = tempfile.mkdtemp(dir=self.home)
            subprocess.run(["weston-screenshooter"], cwd=folder, capture_output=True, timeout=20)
            return [shutil.move(os.path.join(folder, f), path) for f in os.listdir(folder)]
        run("dunstctl", "close-all", check=False)  # read notifications would cover the tray
        crop = []
        if copy or cropped:
            shown = [g for g in quillby_windows() if g["viewable"] and g["w"] > 64]  # no tray icon
            x, y = min(g["x"] for g in shown), min(g["y"] for g in shown)
            w, h = max(g["x"] + g["w"] for g in shown) - x, max(g["y"] + g["h"] for g in shown) - y
            crop = ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        subprocess.run(["import", "-window", "root", *crop, path], capture_output=True, timeout=20)
        if copy:
            shutil.copy(path, copy)

    def start_quillby(self, tag):
        with open(os.path.join(self.artifacts, f"quillby-{tag}.log"), "w") as out:
            # Nothing started here outlives this script, even when it is killed outright. Each in a
            # session of its own: ending one's group ends quillby's clients with it.
            self.stack.callback(stop, process := subprocess.Popen(
                [self.quillby_path], env=self.env, cwd=self.home, stdout=out, stderr=subprocess.STDOUT,
                start_new_session=True, preexec_fn=lambda: ctypes.CDLL(None).prctl(1, signal.SIGTERM)))  # PDEATHSIG
        return process

    def press(self, name, role="push button"):
        """Presses a control through the accessibility bus, the same on X11 and Wayland."""
        wait_for(f"the {role} {name!r}", lambda: self.showing(name, role)).queryAction().doAction(0)

    def nodes(self):
        """Every node of the application on screen, depth first, in the order of the widget tree;
        lazily, as each step is a call on the bus and a search stops at what it looks for."""
        apps = [a for a in pyatspi.Registry.getDesktop(0) if answer(a.get_process_id) == self.app.pid]
        stack = list(reversed(apps[0])) if apps else []
        while stack:
            if has(node := stack.pop(), pyatspi.STATE_SHOWING):
                yield node
                stack.extend(reversed(answer(lambda: list(node), [])))

    def showing(self, name, role=None):
        return next((n for n in self.nodes() if answer(lambda: n.name) == name
                     and role in (None, answer(n.getLocalizedRoleName))), None)

    def launches(self):
        """The stand-in clients started so far as (pid, the gateway's port), as they record
        themselves in FAKE_CF_PIDFILE."""
        return [tuple(map(int, line.split())) for line in read(self.env["FAKE_CF_PIDFILE"]).splitlines()]

    def alive(self):
        """The clients still running: in /proc/PID/stat the state follows the name, "X" when gone."""
        states = {pid: read(f"/proc/{pid}/stat", ") X").rsplit(")", 1)[1].split()[0] for pid, _ in self.launches()}
        return [pid for pid, state in states.items() if state not in "ZX"]

    def click_icon(self):
        icon = wait_for("the tray icon", tray_icon)
        click(icon["x"] + icon["w"] // 2, icon["y"] + icon["h"] // 2)

    def open_window(self):
        if not popup():
            self.click_icon()
        wait_for("the status window", popup)
        wait_for("the window's controls on the accessibility bus", lambda: self.showing("Tunnels"))

    def quit_cleanly(self, how):
        how()
        expect("quillby's exit status after quitting", self.app.wait(10), 0)
        wait_for("every client to end with the application", lambda: not self.alive(), 3)

    # Only what needs the built binary on a whole desktop. Covered closer to their code: the first
    # launch's default tunnel (tst_tunnelstore), the Active notification (tst_language), the QR
    # code, copying the URL and its other hand-overs (tst_share), Stop (tst_statusmenu), a port
    # change (tst_tunnelinstance, tst_statusmenu), crashes and the client's problems
    # (tst_tunnelinstance, tst_statusmenu, tst_language), renaming, adding, deleting and the
    # scanner (tst_statusmenu, tst_portscanner), the list kept and all stopped after a restart
    # (tst_tunnelstore), the missing-client alert (tst_statusmenu, tst_language), Quit and signals
    # (tst_app, tst_faults), the gateway with real dev servers and the requests window
    # (gateway.py), replay (tst_proxy, tst_control).

    def run(self):
        log("1. First start: the tray icon is there and gray")
        self.app = self.start_quillby("first")
        wait_for("a gray tray icon", lambda: icon_colour() == "gray")
        self.screenshot("first-start-gray-icon")

        log("2. From the icon: start; every control named, the status dot an image")
        self.open_window()
        self.press("Start")
        wait_for("the client", self.alive)
        wait_for("a green tray icon", lambda: icon_colour() == "green")
        dot = wait_for("the status dot saying Running", lambda: self.showing("Running"))
        expect("the status dot's role", dot.getLocalizedRoleName(), lambda role: role in ("image", "graphic"))
        self.screenshot("tunnel-active-green-icon")
        # Every focusable control on screen has a name and the role that fits it; all but Start
        # (running) and Show requests (not inspecting) are there.
        controls = [c for n in self.nodes() if has(n, pyatspi.STATE_FOCUSABLE)
                    and (c := answer(lambda: (n.name, n.getLocalizedRoleName())))]  # None: gone
        expect("the focusable controls", controls, lambda controls: all(
            name.strip() and role in (ROLES.get(name), "label") for name, role in controls))
        expect("the controls not there", set(ROLES) - {"Start", "Show requests"} - {c[0] for c in controls}, set())

        log("3. A second launch hands over and exits 0; Quit with the tunnel running ends its client")
        self.click_icon()
        wait_for("the window to close", lambda: not popup())
        expect("the second quillby's exit status", self.start_quillby("handover").wait(10), 0)
        wait_for("the first quillby to show its window", popup)
        self.screenshot("second-launch-shows-window")
        self.quit_cleanly(lambda: self.press("Quit"))


def main(cls, doc, *options):
    """Runs cls(args).run() on the options every check takes (absolute paths) and `options`
    (argparse arguments), into a fresh artifacts folder, always closing its stack (a
    termination by CTest or the session script too); a screenshot on failure. Skipped when a
    client installed at a fixed path would be run instead of the stand-in."""
    parser = argparse.ArgumentParser(description=doc)
    for option in ("--quillby", "--client-dir", "--artifacts"):
        parser.add_argument(option, required=True, type=os.path.abspath)
    for option in options:
        parser.add_argument(*option[0], **option[1])
    args = parser.parse_args()
    if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        sys.exit("no session bus: run this inside scripts/desktop-session.sh")
    if found := [p for p in FIXED_CLIENT_PATHS if os.path.exists(p)]:
        log(f"SKIP: {found[0]} exists and would be run instead of the stand-in client")
        sys.exit(77)  # the checks' SKIP_RETURN_CODE
    shutil.rmtree(args.artifacts, ignore_errors=True)
    os.makedirs(args.artifacts)
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, lambda s, _: sys.exit(128 + s))
    enable_accessibility()
    runner = cls(args)
    try:
        runner.run()
    except (AssertionError, OSError, subprocess.SubprocessError, GLib.Error) as failure:
        log(f"FAIL: {failure}")
        runner.screenshot("failure")
        sys.exit(1)
    finally:
        runner.stack.close()
    log(f"PASS in {time.monotonic() - STARTED:.1f} s; screenshots in {args.artifacts}")


if __name__ == "__main__":
    main(Journey, __doc__)
