#!/usr/bin/python3
"""A StatusNotifierWatcher of our own and a reader of the tray menu, for the shell's tests.

  sni.py watch               owns org.kde.StatusNotifierWatcher on the session bus, says a host
                             is registered, prints "READY", then "ITEM <bus name> <path>" for
                             every item that registers; runs until killed.
  sni.py menu BUS            prints the item's menu, one line per entry:
                             <depth> <type> <enabled> <label>   (type: standard, separator, submenu)
  sni.py click BUS LABEL     sends "clicked" to the entry with that label (any depth).
  sni.py tooltip BUS         prints the item's tool tip title.
"""
import sys

from gi.repository import Gio, GLib

WATCHER_XML = """
<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
</interface></node>"""


def watch():
    items = []
    node = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML)
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)

    def call(conn, sender, path, iface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            service = params.unpack()[0]
            path_ = "/StatusNotifierItem"
            if service.startswith("/"):
                path_, service = service, sender
            items.append(service)
            print("ITEM %s %s" % (sender, path_), flush=True)
            conn.emit_signal(None, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                             "StatusNotifierItemRegistered", GLib.Variant("(s)", (service,)))
        invocation.return_value(None)

    def get(conn, sender, path, iface, prop):
        if prop == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", items)
        if prop == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        return GLib.Variant("i", 0)

    bus.register_object("/StatusNotifierWatcher", node.interfaces[0], call, get, None)

    def acquired(*_):
        print("READY", flush=True)

    Gio.bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher",
                                   Gio.BusNameOwnerFlags.NONE, acquired, None)
    GLib.MainLoop().run()


def dbusmenu(bus_name, method, args, signature):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    return bus.call_sync(bus_name, "/MenuBar", "com.canonical.dbusmenu", method,
                         GLib.Variant(signature, args) if signature else None, None,
                         Gio.DBusCallFlags.NONE, 5000, None).unpack()


def entries(bus_name):
    dbusmenu(bus_name, "AboutToShow", (0,), "(i)")
    layout = dbusmenu(bus_name, "GetLayout", (0, -1, []), "(iias)")[1]
    out = []

    def walk(node, depth):
        ident, props, children = node
        for child in children:
            cid, cprops, grandchildren = child
            kind = cprops.get("type", "standard")
            if cprops.get("children-display") == "submenu" or grandchildren:
                kind = "submenu"
            if not cprops.get("visible", True):
                continue
            label = cprops.get("label", "").replace("_", "")
            out.append((depth, kind, bool(cprops.get("enabled", True)), label, cid))
            if grandchildren:
                walk(child, depth + 1)
            elif kind == "submenu":
                dbusmenu(bus_name, "AboutToShow", (cid,), "(i)")
                sub = dbusmenu(bus_name, "GetLayout", (cid, -1, []), "(iias)")[1]
                walk(sub, depth + 1)

    walk(layout, 0)
    return out


def main():
    command = sys.argv[1]
    if command == "watch":
        watch()
    elif command == "menu":
        for depth, kind, enabled, label, _ in entries(sys.argv[2]):
            print("%d %s %s %s" % (depth, kind, "on" if enabled else "off", label))
    elif command == "click":
        for _, _, _, label, ident in entries(sys.argv[2]):
            if label == sys.argv[3]:
                dbusmenu(sys.argv[2], "Event",
                         (ident, "clicked", GLib.Variant("i", 0), 0), "(isvu)")
                return 0
        print("no entry " + sys.argv[3], file=sys.stderr)
        return 1
    elif command == "tooltip":
        bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        value = bus.call_sync(sys.argv[2], "/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                              "Get", GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "ToolTip")),
                              None, Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
        print(value[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
