#!/usr/bin/python3
"""Quillby on the desktops beyond the XEmbed tray, against the built binary.

One check per run, each inside its own scripts/desktop-session.sh:

  --check sni      (--sni-tray) a StatusNotifierItem host: the item registers with the
                   watcher, its pixmaps and NewIcon follow the state, the host's click and
                   Activate(x, y) open the window next to that point and on the screen, the
                   exported menu's "Show Tunnels" and "Quit" work.
  --check wayland  (--wayland, optionally --sni-tray too) weston: without a tray an ordinary
                   window; with one the window the host's Activate opens, placed by the
                   compositor; Quit ends Quillby and its running tunnel.

Controls are pressed through the accessibility bus (AT-SPI Action), which works the same on X11
and on Wayland. Screenshots go to --artifacts.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from journey import (SKIP, Accessibility, Journey, JourneyFailure, classify, gvariant,  # noqa: E402
                     grab, log, parse_arguments, popup, run, run_reported, wait_for)

WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
ITEM = "org.kde.StatusNotifierItem"
# gtk-sni-tray-standalone --top --end --size 32 on the 1280 x 800 screen: the only item sits
# at the right end of the panel.
SCREEN = (1280, 800)
HOST_ICON = (SCREEN[0] - 32, 0, 32, 32)


def bus(dest, path, method, *args, check=True):
    return run("gdbus", "call", "--session", "--dest", dest, "--object-path", path,
               "--method", method, *args, check=check)


def prop(dest, path, interface, name):
    return bus(dest, path, "org.freedesktop.DBus.Properties.Get", interface, name)


class Item:
    """Quillby's StatusNotifierItem, read the way a host reads it."""

    def __init__(self, app_pid, processes):
        def registered():
            for entry in gvariant(prop(*WATCHER, WATCHER[0], "RegisteredStatusNotifierItems")):
                service, _, path = entry.partition("/")  # "service" or "service/path"
                if gvariant(bus("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus.GetConnectionUnixProcessID", service)) == app_pid:
                    return service, "/" + (path or "StatusNotifierItem")

        self.service, self.path = wait_for("the item registered with the watcher", registered)
        self.monitor = subprocess.Popen(
            ["gdbus", "monitor", "--session", "--dest", self.service, "--object-path",
             self.path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        os.set_blocking(self.monitor.stdout.fileno(), False)
        processes.append(self.monitor)  # ended with the others
        self.signals = ""

    def get(self, name):
        return prop(self.service, self.path, ITEM, name)

    def icon(self):
        """'green' or 'gray' and whether the cloud is filled, from the largest pixmap."""
        pixmaps = re.findall(r"\((\d+), (\d+), \[([^\]]*)\]\)", self.get("IconPixmap"))
        if not pixmaps:
            return None
        w, h, data = max(pixmaps, key=lambda p: int(p[0]))
        w, h, data = int(w), int(h), bytes(int(b, 16) for b in re.findall(r"0x([0-9a-f]{2})", data))
        # ARGB32 in network byte order.
        pixels = [(data[i + 1], data[i + 2], data[i + 3], data[i]) for i in range(0, len(data), 4)]
        filled = pixels[(h * 2 // 3) * w + w // 2][3] > 200
        return classify(pixels), filled

    def new_icon_seen(self):
        try:
            self.signals += self.monitor.stdout.read() or ""
        except (TypeError, BlockingIOError):
            pass
        seen, self.signals = "NewIcon" in self.signals, ""
        return seen

    def call(self, method, *args):
        return bus(self.service, self.path, f"{ITEM}.{method}", *args)

    def menu(self):
        """The exported menu's items as {label: id}."""
        path = gvariant(self.get("Menu"))
        layout = bus(self.service, path, "com.canonical.dbusmenu.GetLayout", "0", "int32 -1", "@as []")
        return path, {label: int(id) for id, label in
                      re.findall(r"\((\d+), \{[^{}]*'label': <'([^']*)'>[^{}]*\}", layout)}


class Desktops(Journey):
    def __init__(self, args):
        super().__init__(args)
        self.wayland = bool(os.environ.get("WAYLAND_DISPLAY"))
        if self.wayland:
            self.env["QT_QPA_PLATFORM"] = "wayland"

    def screenshot(self, name):
        self.shot_index += 1
        path = os.path.join(self.artifacts, f"{self.shot_index:02d}-{name}.png")
        time.sleep(0.3)  # let a layout that just changed reach the screen
        if self.wayland:
            # weston-screenshooter writes into its working folder under a name of its own.
            folder = tempfile.mkdtemp(dir=self.home)
            subprocess.run(["weston-screenshooter"], cwd=folder, capture_output=True, timeout=20)
            for shot in os.listdir(folder):
                shutil.move(os.path.join(folder, shot), path)
        else:
            run("dunstctl", "close-all", check=False)
            subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=20)
        log(f"   screenshot {os.path.basename(path)}")

    # -- StatusNotifierItem ---------------------------------------------------------------------

    def host_icon(self):
        # A notification (dunst is started by the bus for the first one) may cover the panel.
        run("dunstctl", "close-all", check=False)
        x, y, w, h = HOST_ICON
        return classify(grab(x, y, w, h))

    def next_to(self, g, x, y, margin=40):
        """On the screen and within margin of the point."""
        return (0 <= g["x"] <= g["x"] + g["w"] <= SCREEN[0] and 0 <= g["y"] <= g["y"] + g["h"] <= SCREEN[1]
                and g["x"] - margin <= x <= g["x"] + g["w"] + margin
                and g["y"] - margin <= y <= g["y"] + g["h"] + margin)

    def check_sni(self):
        self.app = self.start_quillby("sni")
        item = Item(self.app.pid, self.processes)
        log("1. The item is registered and gray; the host shows it")
        if name := gvariant(item.get("IconName")):
            raise JourneyFailure(f"the item names theme icon {name!r}: hosts would show that")
        wait_for("a gray outlined cloud in the item's pixmaps", lambda: item.icon() == ("gray", False))
        wait_for("a gray icon in the host's panel", lambda: self.host_icon() == "gray")
        self.screenshot("sni-idle")

        log("2. A click on the icon in the host opens the window next to it")
        x, y = HOST_ICON[0] + 16, 16
        run("xdotool", "mousemove", str(x), str(y), "click", "1")
        window = wait_for("the status window", popup)
        if not self.next_to(window, x, y):
            raise JourneyFailure(f"the window at {window} is not by the icon at {x},{y}")
        self.screenshot("sni-window")

        log("3. A running tunnel: NewIcon, a green filled cloud in the pixmaps and the host")
        item.new_icon_seen()
        self.press("Start")
        self.child()
        wait_for("NewIcon", item.new_icon_seen)
        wait_for("a green filled cloud in the pixmaps", lambda: item.icon() == ("green", True))
        wait_for("a green icon in the host's panel", lambda: self.host_icon() == "green")
        wait_for("the URL in the window", lambda: self.showing("Copy URL"))
        self.screenshot("sni-running-window")

        log("4. Activate(x, y) from the host opens the window next to the point, on the screen")
        item.call("Activate", "0", "0")  # closes the open window
        wait_for("the window to close", lambda: not popup())
        self.screenshot("sni-running")
        for x, y in [(SCREEN[0] - 4, SCREEN[1] - 4), (4, SCREEN[1] // 2), (SCREEN[0] // 2, 4)]:
            # A host calls Activate for a click, so the pointer is at the point it passes.
            run("xdotool", "mousemove", str(x), str(y))
            time.sleep(0.1)
            item.call("Activate", str(x), str(y))
            window = wait_for(f"the window after Activate({x}, {y})", popup)
            if not self.next_to(window, x, y):
                raise JourneyFailure(f"Activate({x}, {y}) put the window at {window}")
            item.call("Activate", str(x), str(y))
            wait_for("the window to close again", lambda: not popup())
        log("   placed by the point and on the screen at three corners")

        log("5. The exported menu: Show Tunnels, then Quit with the tunnel running")
        path, items = item.menu()
        if set(items) != {"Show Tunnels", "Quit"}:
            raise JourneyFailure(f"the exported menu holds {sorted(items)}")

        def event(label):
            bus(item.service, path, "com.canonical.dbusmenu.Event", str(items[label]), "clicked",
                "<0>", "uint32 0")

        event("Show Tunnels")
        wait_for("the window from Show Tunnels", popup)
        self.quit_cleanly(lambda: event("Quit"))

    # -- Wayland --------------------------------------------------------------------------------

    def check_wayland(self):
        tray = "true" in bus("org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus.NameHasOwner", WATCHER[0]) and \
            "true" in prop(*WATCHER, WATCHER[0], "IsStatusNotifierHostRegistered")
        self.app = self.start_quillby("wayland")
        if tray:
            log("1. With a StatusNotifierItem host: Activate opens the window, placed by weston")
            Item(self.app.pid, self.processes).call("Activate", "1000", "10")
        else:
            log("1. No tray: an ordinary window that says why")
        wait_for("the window on the accessibility bus", lambda: self.showing("Tunnels"))
        said = any(n.name.startswith("No system tray was found") for n in self.a11y.showing(self.app.pid))
        if said == tray:
            raise JourneyFailure(f"the no-tray notice is {'shown' if said else 'missing'}")
        self.screenshot("wayland-window")

        log("2. A tunnel runs; Quit ends it with Quillby")
        self.press("Start")
        self.child()
        wait_for("the URL in the window", lambda: self.showing("Copy URL"))
        self.screenshot("wayland-running")
        self.quit_cleanly(lambda: self.press("Quit"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--check", required=True, choices=["sni", "wayland"])
    if (args := parse_arguments(parser)) is None:
        sys.exit(SKIP)

    def check(desktops):
        desktops.a11y = Accessibility()
        getattr(desktops, f"check_{args.check}")()
    sys.exit(run_reported(lambda: Desktops(args), args.artifacts, check))
