#!/usr/bin/python3
"""Quillby on the desktops beyond the XEmbed tray, against the built binary.

One check per run, each inside its own scripts/desktop-session.sh:

  --check sni      (--sni-tray) a StatusNotifierItem host: the item registers with the
                   watcher, its pixmaps and NewIcon follow the state, the host's click and
                   Activate(x, y) open the window next to that point and on the screen (where
                   exactly is tst_app's), the exported menu's "Show Tunnels" and "Quit" work.
  --check wayland  (--wayland, optionally --sni-tray too) weston: without a tray an ordinary
                   window; with one the window the host's Activate opens, placed by the
                   compositor; Quit ends Quillby.

Controls are pressed through the accessibility bus, as in journey.py; the same on Wayland.
"""

from gi.repository import Gio, GLib

from journey import Journey, answer, classify, click, dbus, expect, grab, log, main, popup, run, wait_for

WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
ITEM = "org.kde.StatusNotifierItem"
# gtk-sni-tray-standalone --top --end --size 32 on the 1280 x 800 screen: the only item sits
# at the right end of the panel.
SCREEN = (1280, 800)
HOST_ICON = (SCREEN[0] - 32, 0, 32, 32)


def prop(dest, path, interface, name):
    return dbus(dest, path, "org.freedesktop.DBus.Properties.Get", "(ss)", interface, name)[0]


class Item:
    """Quillby's StatusNotifierItem, read the way a host reads it."""

    def __init__(self, app_pid):
        def registered():
            for entry in prop(*WATCHER, WATCHER[0], "RegisteredStatusNotifierItems"):
                service, _, path = entry.partition("/")  # "service" or "service/path"
                if dbus("org.freedesktop.DBus", "/org/freedesktop/DBus",
                        "org.freedesktop.DBus.GetConnectionUnixProcessID", "(s)", service)[0] == app_pid:
                    return service, "/" + (path or "StatusNotifierItem")

        self.service, self.path = wait_for("the item registered with the watcher", registered)
        # The item's signals by name, as they come while the main context is iterated; on the
        # shared connection, which lasts only while it is held.
        self.signals, self.bus = [], Gio.bus_get_sync(Gio.BusType.SESSION)
        self.bus.signal_subscribe(self.service, ITEM, None, self.path, None, 0,
                                  lambda *signal: self.signals.append(signal[4]))

    def get(self, name):
        return prop(self.service, self.path, ITEM, name)

    def icon(self):
        """'green' or 'gray' and whether the cloud is filled, from the largest pixmap."""
        if not (pixmaps := self.get("IconPixmap")):
            return None
        w, h, data = max(pixmaps)
        # ARGB32 in network byte order.
        pixels = [(data[i + 1], data[i + 2], data[i + 3], data[i]) for i in range(0, len(data), 4)]
        return classify(pixels), pixels[(h * 2 // 3) * w + w // 2][3] > 200  # filled below the middle

    def new_icon_seen(self):
        """Whether NewIcon came since the last call."""
        while GLib.MainContext.default().iteration(False):
            pass
        seen, self.signals = "NewIcon" in self.signals, []
        return seen

    def activate(self, x, y):
        dbus(self.service, self.path, f"{ITEM}.Activate", "(ii)", x, y)

    def menu(self):
        """The exported menu's items with a label as {label: a function that clicks it}."""
        path = self.get("Menu")
        _, (_, _, items) = dbus(self.service, path, "com.canonical.dbusmenu.GetLayout", "(iias)", 0, -1, [])
        return {item["label"]: lambda id=id: dbus(self.service, path, "com.canonical.dbusmenu.Event", "(isvu)", id,
                                                  "clicked", GLib.Variant("i", 0), 0)
                for id, item, _ in items if "label" in item}


class Desktops(Journey):
    def run(self):
        getattr(self, f"check_{self.args.check}")()

    # -- StatusNotifierItem ---------------------------------------------------------------------

    def opens_by(self, x, y, what, do):
        """do() opens the window on the screen and within 40 pixels of the point."""
        do()
        expect(f"the window after {what}, on the screen by {x},{y}", wait_for(f"the window after {what}", popup),
               lambda g: 0 <= g["x"] <= g["x"] + g["w"] <= SCREEN[0] and 0 <= g["y"] <= g["y"] + g["h"] <= SCREEN[1]
               and g["x"] - 40 <= x <= g["x"] + g["w"] + 40 and g["y"] - 40 <= y <= g["y"] + g["h"] + 40)

    def check_sni(self):
        self.app = self.start_quillby("sni")
        item = Item(self.app.pid)
        log("1. The item is registered and gray")
        expect("the theme icon it names (hosts would show that)", item.get("IconName"),
               lambda name: not name)
        wait_for("a gray outlined cloud in the item's pixmaps", lambda: item.icon() == ("gray", False))
        self.screenshot("sni-idle")

        log("2. A click on the icon in the host opens the window next to it")
        x, y = HOST_ICON[0] + 16, 16
        self.opens_by(x, y, "a click on the icon", lambda: click(x, y))
        self.screenshot("sni-window")

        log("3. A running tunnel: NewIcon, a green filled cloud in the pixmaps and the host")
        item.new_icon_seen()
        self.press("Start")
        wait_for("the client", self.alive)
        wait_for("NewIcon", item.new_icon_seen)
        wait_for("a green filled cloud in the pixmaps", lambda: item.icon() == ("green", True))
        wait_for("a green icon in the host's panel", lambda: classify(grab(*HOST_ICON)) == "green")
        wait_for("the URL in the window", lambda: self.showing("Copy URL"))
        self.screenshot("sni-running-window")

        log("4. Activate(x, y) from the host opens the window next to the point, on the screen")
        item.activate(0, 0)  # closes the open window
        wait_for("the window to close", lambda: not popup())
        self.screenshot("sni-running")
        # A host calls Activate for a click, so the pointer is at the point it passes.
        x, y = SCREEN[0] - 4, SCREEN[1] - 4
        run("xdotool", "mousemove", str(x), str(y))
        self.opens_by(x, y, f"Activate({x}, {y})", lambda: item.activate(x, y))
        item.activate(x, y)
        wait_for("the window to close again", lambda: not popup())

        log("5. The exported menu: Show Tunnels, then Quit with the tunnel running")
        items = item.menu()
        expect("the exported menu", set(items), {"Show Tunnels", "Quit"})
        items["Show Tunnels"]()
        wait_for("the window from Show Tunnels", popup)
        self.quit_cleanly(items["Quit"])

    # -- Wayland --------------------------------------------------------------------------------

    def check_wayland(self):
        # No watcher, no answer: no tray.
        tray = answer(lambda: prop(*WATCHER, WATCHER[0], "IsStatusNotifierHostRegistered"), False)
        self.app = self.start_quillby("wayland")
        if tray:
            log("1. With a StatusNotifierItem host: Activate opens the window, placed by weston")
            Item(self.app.pid).activate(1000, 10)
        else:
            log("1. No tray: an ordinary window that says why")
        wait_for("the window on the accessibility bus", lambda: self.showing("Tunnels"))
        expect("the no-tray notice shown", any(answer(lambda: n.name, "").startswith("No system tray was found")
                                               for n in self.nodes()), not tray)
        self.screenshot("wayland-window")

        log("2. Quit ends Quillby (with a running tunnel: the journey's)")
        self.quit_cleanly(lambda: self.press("Quit"))


if __name__ == "__main__":
    main(Desktops, __doc__, (["--check"], {"required": True, "choices": ["sni", "wayland"]}))
