"""Plays logind's Manager.Inhibit on a private bus, for the sleep lock case.
  fake_logind.py BUS_ADDRESS
Prints "ready" once it owns the name, "inhibit:WHAT:WHO:WHY:MODE" for each
call, and "released" when every copy of the lock it handed out is closed
(its pipe's read end then sees end of file), as logind would notice."""
import os
import sys

from gi.repository import Gio, GLib

INTERFACE = """<node><interface name="org.freedesktop.login1.Manager">
  <method name="Inhibit">
    <arg direction="in" type="s"/><arg direction="in" type="s"/>
    <arg direction="in" type="s"/><arg direction="in" type="s"/>
    <arg direction="out" type="h"/>
  </method>
</interface></node>"""


def say(line):
    print(line, flush=True)


def on_eof(fd, _condition):
    say("released")
    os.close(fd)
    return False


def on_call(_bus, _sender, _path, _interface, method, args, invocation):
    if method != "Inhibit":
        invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)
        return
    say("inhibit:" + ":".join(args.unpack()))
    read_end, write_end = os.pipe()
    fds = Gio.UnixFDList.new_from_array([write_end])  # takes write_end over
    invocation.return_value_with_unix_fd_list(GLib.Variant("(h)", (0,)), fds)
    del fds  # the bus keeps its own copy until it is sent
    GLib.io_add_watch(read_end, GLib.PRIORITY_DEFAULT, GLib.IO_HUP | GLib.IO_IN, on_eof)


def main():
    bus = Gio.DBusConnection.new_for_address_sync(
        sys.argv[1],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    bus.register_object("/org/freedesktop/login1", node.interfaces[0], on_call, None, None)
    loop = GLib.MainLoop()
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.login1", Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: say("ready"), lambda *_: loop.quit())
    loop.run()


main()
