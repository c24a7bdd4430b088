#!/usr/bin/python3
"""A stand-in global shortcuts portal (org.freedesktop.portal.GlobalShortcuts) for the tests.

  shortcuts_portal.py [BUS_NAME]   owns BUS_NAME (default org.freedesktop.portal.Desktop) on the
                                   session bus and serves the interface on
                                   /org/freedesktop/portal/desktop. It prints "READY", then one
                                   line per event:
                                     SESSION <session path>
                                     BOUND <session path> <id> <preferred trigger> <description>
                                     CLOSED <session path>
  Commands on standard input, one a line:
    activate ID      emits Activated and Deactivated for ID in the newest session that bound it
    refuse           the next BindShortcuts is answered as cancelled by the user (response 1)
"""
import sys
import time

from gi.repository import Gio, GLib

PORTAL_PATH = "/org/freedesktop/portal/desktop"
IFACE = "org.freedesktop.portal.GlobalShortcuts"

PORTAL_XML = """
<node><interface name="org.freedesktop.portal.GlobalShortcuts">
  <method name="CreateSession">
    <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  <method name="BindShortcuts">
    <arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
    <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method>
  <method name="ListShortcuts">
    <arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method>
  <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
  <signal name="Deactivated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
  <signal name="ShortcutsChanged"><arg type="o"/><arg type="a(sa{sv})"/></signal>
  <property name="version" type="u" access="read"/>
</interface></node>"""

SESSION_XML = """
<node><interface name="org.freedesktop.portal.Session">
  <method name="Close"/>
  <signal name="Closed"><arg type="a{sv}"/></signal>
  <property name="version" type="u" access="read"/>
</interface></node>"""

REQUEST_XML = """
<node><interface name="org.freedesktop.portal.Request">
  <method name="Close"/>
  <signal name="Response"><arg type="u"/><arg type="a{sv}"/></signal>
</interface></node>"""


def say(line):
    print(line, flush=True)


class Portal:
    def __init__(self, bus):
        self.bus = bus
        self.sessions = {}  # path -> {"owner": sender, "shortcuts": [(id, props)], "reg": id}
        self.refuse_next = False
        self.session_iface = Gio.DBusNodeInfo.new_for_xml(SESSION_XML).interfaces[0]
        self.request_iface = Gio.DBusNodeInfo.new_for_xml(REQUEST_XML).interfaces[0]
        iface = Gio.DBusNodeInfo.new_for_xml(PORTAL_XML).interfaces[0]
        bus.register_object(PORTAL_PATH, iface, self.call, self.get, None)

    def get(self, conn, sender, path, iface, prop):
        return GLib.Variant("u", 1)

    @staticmethod
    def escaped(sender):
        return sender[1:].replace(".", "_")

    def respond(self, sender, token, response, results):
        """Exports the Request object, answers once the method has returned, then drops it."""
        path = "%s/request/%s/%s" % (PORTAL_PATH, self.escaped(sender), token)
        reg = self.bus.register_object(path, self.request_iface,
                                       lambda *a: a[-1].return_value(None), None, None)

        def answer():
            self.bus.emit_signal(sender, path, "org.freedesktop.portal.Request", "Response",
                                 GLib.Variant("(ua{sv})", (response, results)))
            self.bus.unregister_object(reg)
            return False

        GLib.timeout_add(20, answer)
        return path

    def call(self, conn, sender, path, iface, method, params, invocation):
        args = params.unpack()
        if method == "CreateSession":
            options = args[0]
            session = "%s/session/%s/%s" % (PORTAL_PATH, self.escaped(sender),
                                            options["session_handle_token"])
            reg = self.bus.register_object(session, self.session_iface, self.session_call,
                                           None, None)
            self.sessions[session] = {"owner": sender, "shortcuts": [], "reg": reg}
            say("SESSION " + session)
            request = self.respond(sender, options["handle_token"], 0,
                                   {"session_handle": GLib.Variant("s", session)})
        elif method == "BindShortcuts":
            session, shortcuts, _parent, options = args
            if session not in self.sessions:
                invocation.return_dbus_error("org.freedesktop.portal.Error.NotFound",
                                             "no such session")
                return
            if self.refuse_next:
                self.refuse_next = False
                request = self.respond(sender, options["handle_token"], 1, {})
            else:
                self.sessions[session]["shortcuts"] = shortcuts
                for ident, props in shortcuts:
                    say("BOUND %s %s %s %s" % (session, ident, props.get("preferred_trigger", "-"),
                                               props.get("description", "")))
                bound = [(ident, {"description": GLib.Variant("s", props.get("description", "")),
                                  "trigger_description": GLib.Variant(
                                      "s", props.get("preferred_trigger", ""))})
                         for ident, props in shortcuts]
                request = self.respond(sender, options["handle_token"], 0,
                                       {"shortcuts": GLib.Variant("a(sa{sv})", bound)})
        else:
            session, options = args
            request = self.respond(sender, options["handle_token"], 0, {})
        invocation.return_value(GLib.Variant("(o)", (request,)))

    def session_call(self, conn, sender, path, iface, method, params, invocation):
        session = self.sessions.pop(path, None)
        if session:
            self.bus.unregister_object(session["reg"])
            say("CLOSED " + path)
        invocation.return_value(None)

    def command(self, line):
        words = line.split()
        if words[:1] == ["refuse"]:
            self.refuse_next = True
        elif words[:1] == ["activate"] and len(words) == 2:
            for path in reversed(list(self.sessions)):
                session = self.sessions[path]
                if any(ident == words[1] for ident, _ in session["shortcuts"]):
                    stamp = GLib.Variant("(osta{sv})",
                                         (path, words[1], int(time.time() * 1000), {}))
                    for signal in ("Activated", "Deactivated"):
                        self.bus.emit_signal(session["owner"], PORTAL_PATH, IFACE, signal, stamp)
                    say("ACTIVATED %s %s" % (path, words[1]))
                    return
            say("UNBOUND " + words[1])


def main():
    name = sys.argv[1] if len(sys.argv) > 1 else "org.freedesktop.portal.Desktop"
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    portal = Portal(bus)
    loop = GLib.MainLoop()

    def on_input(channel, condition):
        line = channel.readline()
        if not line:
            loop.quit()
            return False
        portal.command(line.strip())
        return True

    stdin = GLib.IOChannel.unix_new(sys.stdin.fileno())
    GLib.io_add_watch(stdin, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_input)
    Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: say("READY"), lambda *_: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
